// Netlink on canned kernel answers, as any user: the messages of an answer
// over several datagrams, the retry of an interrupted dump, truncated and
// error answers, attributes read against their sizes, and the gateways of
// plain, multipath and nexthop-object routes.
#include "platform/linux/netlink_linux.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_link.h>
#include <linux/nexthop.h>

#include <cerrno>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/linux/rtnetlink_linux.h"

namespace hostprobe::linux_net {
namespace {

using Blob = std::vector<uint8_t>;

template <typename T>
Blob Raw(const T& value) {
  Blob b(sizeof(T));
  std::memcpy(b.data(), &value, sizeof(T));
  return b;
}

Blob Cat(std::initializer_list<Blob> parts) {
  Blob all;
  for (const Blob& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Blob Pad(Blob b) {
  b.resize(NLMSG_ALIGN(b.size()));
  return b;
}

// One message; `seq` 0 answers the request, any other number another one.
Blob Msg(uint16_t type, uint16_t flags, const Blob& body, uint32_t seq = 0) {
  nlmsghdr h{};
  h.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + body.size());
  h.nlmsg_type = type;
  h.nlmsg_flags = flags;
  h.nlmsg_seq = seq;
  return Pad(Cat({Raw(h), body}));
}

Blob Attr(uint16_t type, const Blob& payload) {
  rtattr a{};
  a.rta_len = static_cast<uint16_t>(RTA_LENGTH(payload.size()));
  a.rta_type = type;
  return Pad(Cat({Raw(a), payload}));
}

Blob Cut(Blob b, std::size_t size) {
  b.resize(size);
  return b;
}

Blob U32(uint32_t v) { return Raw(v); }
Blob Text(const std::string& s) { return Blob(s.begin(), s.end() + 1); }  // with its NUL
Blob Ip(const char* dotted) {
  Blob b(4);
  inet_pton(AF_INET, dotted, b.data());
  return b;
}
Blob Done(int32_t error = 0) { return Msg(NLMSG_DONE, NLM_F_MULTI, Raw(error)); }
Blob ErrorAnswer(int32_t error) {
  nlmsgerr e{};
  e.error = error;
  return Msg(NLMSG_ERROR, 0, Raw(e));
}

struct Datagram {
  Blob bytes;
  bool truncated = false;
};
using Answer = std::vector<Datagram>;

// The kernel's side: for each request, the next canned answer for its type,
// its messages given the request's sequence number.
class FakeKernel : public NetlinkTransport {
 public:
  explicit FakeKernel(std::map<uint16_t, std::deque<Answer>> answers) : answers_(std::move(answers)) {}

  void Send(Bytes request) override {
    const auto h = As<nlmsghdr>(request);
    ++sent;
    seq_ = h.nlmsg_seq;
    pending_.clear();
    auto& queue = answers_[h.nlmsg_type];
    if (queue.empty()) return;
    pending_.assign(queue.front().begin(), queue.front().end());
    queue.pop_front();
  }

  bool Receive(Blob& datagram) override {
    if (pending_.empty()) {
      datagram.clear();
      return false;
    }
    Datagram d = pending_.front();
    pending_.pop_front();
    for (std::size_t at = 0; at + sizeof(nlmsghdr) <= d.bytes.size();) {
      auto h = As<nlmsghdr>(Bytes(d.bytes).subspan(at));
      h.nlmsg_seq += seq_;
      std::memcpy(d.bytes.data() + at, &h, sizeof(h));
      if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > d.bytes.size() - at) break;
      at += NLMSG_ALIGN(h.nlmsg_len);
    }
    datagram = d.bytes;
    return d.truncated;
  }

  int sent = 0;

 private:
  std::map<uint16_t, std::deque<Answer>> answers_;
  std::deque<Datagram> pending_;
  uint32_t seq_ = 0;
};

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kPlatform);
    return e.detail();
  }
  return "";
}

TEST(NetlinkTest, AnswersOfTheKernel) {
  constexpr uint16_t kLink = RTM_NEWLINK, kMulti = NLM_F_MULTI, kIntr = NLM_F_MULTI | NLM_F_DUMP_INTR;
  const struct {
    const char* name;
    bool dump;
    std::deque<Answer> answers;  // one for each time it is asked
    std::vector<Blob> bodies;
    int sent;
    std::string error;
  } cases[] = {
      {"a dump over two datagrams; other types and other requests' messages left out",
       true,
       {{{Cat({Msg(kLink, kMulti, {1}), Msg(RTM_NEWADDR, kMulti, {9}), Msg(kLink, kMulti, {8}, 1)})},
         {Cat({Msg(kLink, kMulti, {2, 3}), Done(), Msg(kLink, kMulti, {7})})}}},
       {{1}, {2, 3}},
       1,
       ""},
      {"an interrupted dump is asked again",
       true,
       {{{Cat({Msg(kLink, kIntr, {1}), Done()})}}, {{Cat({Msg(kLink, kMulti, {2}), Done()})}}},
       {{2}},
       2,
       ""},
      {"interrupted three times: the third answer as it is",
       true,
       {{{Cat({Msg(kLink, kMulti, {1}), Msg(kLink, kIntr, {1}), Done()})}},
        {{Cat({Msg(kLink, kIntr, {2}), Done()})}},
        {{Cat({Msg(kLink, kIntr, {3}), Done()})}},
        {{Cat({Msg(kLink, kMulti, {4}), Done()})}}},
       {{3}},
       3,
       ""},
      {"an empty datagram ends the answer", true, {{{Msg(kLink, kMulti, {1})}, {Blob{}}}}, {{1}}, 1, ""},
      {"a request that is no dump: its one message", false, {{{Msg(kLink, 0, {5})}, {Msg(kLink, 0, {6})}}},
       {{5}}, 1, ""},
      {"an acknowledgement ends a request", false, {{{ErrorAnswer(0)}}}, {}, 1, ""},
      {"a truncated datagram", true, {{{Msg(kLink, kMulti, {1}), true}}}, {}, 1,
       "reading the kernel's netlink answer: Message too long"},
      {"an error answer", true, {{{Cat({Msg(kLink, kMulti, {1}), ErrorAnswer(-EPERM)})}}}, {}, 1,
       "netlink request: Operation not permitted"},
      {"a dump that ends in an error", true, {{{Cat({Msg(kLink, kMulti, {1}), Done(-ENOBUFS)})}}}, {}, 1,
       "netlink dump: No buffer space available"},
      {"a dump that ends in a code that is no errno", true, {{{Cat({Msg(kLink, kMulti, {1}), Done(INT32_MIN)})}}}, {}, 1,
       "netlink dump: Bad message"},
      {"an error answer whose code is no errno", false, {{{ErrorAnswer(INT32_MIN)}}}, {}, 1,
       "netlink request: Bad message"},
      {"an error answer with a positive code", false, {{{ErrorAnswer(5)}}}, {}, 1,
       "netlink request: Bad message"},
      {"a message longer than its datagram", true,
       {{{Cut(Msg(kLink, kMulti, Blob(40)), 30)}}}, {}, 1,
       "reading the kernel's netlink answer: Bad message"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto kernel = std::make_unique<FakeKernel>(std::map<uint16_t, std::deque<Answer>>{{RTM_GETLINK, c.answers}});
    FakeKernel* seen = kernel.get();
    Netlink netlink(std::move(kernel));
    ifinfomsg request{};
    std::vector<Blob> bodies;
    const std::string error = ErrorOf([&] {
      for (const Message& m : netlink.Ask(Request(RTM_GETLINK, c.dump ? NLM_F_DUMP : 0, request), kLink)) {
        bodies.push_back(m.body);
      }
    });
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(bodies, c.bodies);
    EXPECT_EQ(seen->sent, c.sent);
  }
}

// A link message of index 2 with `attrs`.
Blob LinkMessage(std::initializer_list<Blob> attrs) {
  ifinfomsg info{};
  info.ifi_index = 2;
  info.ifi_type = 1;
  Blob body = Raw(info);
  for (const Blob& a : attrs) body = Cat({body, a});
  return Msg(RTM_NEWLINK, NLM_F_MULTI, body);
}

TEST(NetlinkTest, AttributesAreReadAgainstTheirSizes) {
  rtnl_link_stats64 stats{};
  stats.rx_bytes = 1000, stats.tx_bytes = 2000, stats.multicast = 7;
  const Blob full = Raw(stats);
  // What the kernels that first sent 64-bit counters send: up to rx_nohandler.
  const Blob older(full.begin(), full.begin() + offsetof(rtnl_link_stats64, rx_nohandler));
  const Blob counted(full.begin(), full.begin() + offsetof(rtnl_link_stats64, multicast) + 8);
  const Blob short_of(full.begin(), full.begin() + offsetof(rtnl_link_stats64, multicast));
  const struct {
    const char* name;
    Blob message;
    std::string facts;  // or the error
  } cases[] = {
      {"every attribute", LinkMessage({Attr(IFLA_IFNAME, Text("eth0")), Attr(IFLA_MTU, U32(1500)),
                                       Attr(IFLA_OPERSTATE, {6}), Attr(IFLA_ADDRESS, {2, 0, 0x5e, 0x10, 0, 1}),
                                       Attr(IFLA_STATS64, full)}),
       "eth0 mtu=1500 oper=6 mac=6 rx=1000 tx=2000 mc=7"},
      {"the first of a repeated attribute counts",
       LinkMessage({Attr(IFLA_IFNAME, Text("eth0")), Attr(IFLA_IFNAME, Text("evil")), Attr(IFLA_MTU, U32(1500)),
                    Attr(IFLA_MTU, U32(9000))}),
       "eth0 mtu=1500 oper=0 mac=0 rx=0 tx=0 mc=0"},
      {"counters of an older kernel", LinkMessage({Attr(IFLA_IFNAME, Text("eth0")), Attr(IFLA_STATS64, older)}),
       "eth0 mtu=0 oper=0 mac=0 rx=1000 tx=2000 mc=7"},
      {"counters up to the last one read", LinkMessage({Attr(IFLA_STATS64, counted)}),
       " mtu=0 oper=0 mac=0 rx=1000 tx=2000 mc=7"},
      {"counters short of one read", LinkMessage({Attr(IFLA_STATS64, short_of)}),
       "netlink attribute IFLA_STATS64: 64 bytes where 72 are expected"},
      {"a short MTU", LinkMessage({Attr(IFLA_IFNAME, Text("eth0")), Attr(IFLA_MTU, {0xdc, 0x05})}),
       "netlink attribute IFLA_MTU: 2 bytes where 4 are expected"},
      {"an empty operational state", LinkMessage({Attr(IFLA_OPERSTATE, {})}),
       "netlink attribute IFLA_OPERSTATE: 0 bytes where 1 are expected"},
      {"an attribute running past its message ends the list",
       LinkMessage({Attr(IFLA_IFNAME, Text("eth0")), Blob{0x40, 0, IFLA_MTU, 0, 1, 2, 3, 4}}),
       "eth0 mtu=0 oper=0 mac=0 rx=0 tx=0 mc=0"},
      {"a message shorter than its fixed part is left out", Msg(RTM_NEWLINK, NLM_F_MULTI, {1, 2, 3}), ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Netlink route(std::make_unique<FakeKernel>(
        std::map<uint16_t, std::deque<Answer>>{{RTM_GETLINK, {{{Cat({c.message, Done()})}}}}}));
    std::string facts;
    const std::string error = ErrorOf([&] {
      for (const LinkFacts& l : ReadLinkDump(route, Gather{.counters = true})) {
        facts += l.name + " mtu=" + std::to_string(l.mtu) + " oper=" + std::to_string(l.operstate) +
                 " mac=" + std::to_string(l.address.size()) + " rx=" + std::to_string(l.rx_bytes) +
                 " tx=" + std::to_string(l.tx_bytes) + " mc=" + std::to_string(l.rx_multicast);
      }
    });
    EXPECT_EQ(error.empty() ? facts : error, c.facts);
  }
}

// An IPv4 route of the main table to `dst_len` bits with `attrs`.
Blob Route(std::initializer_list<Blob> attrs, uint8_t dst_len = 0, uint8_t table = RT_TABLE_MAIN,
           uint8_t family = AF_INET) {
  rtmsg r{};
  r.rtm_family = family;
  r.rtm_dst_len = dst_len;
  r.rtm_table = table;
  r.rtm_type = RTN_UNICAST;
  Blob body = Raw(r);
  for (const Blob& a : attrs) body = Cat({body, a});
  return Msg(RTM_NEWROUTE, NLM_F_MULTI, body);
}

Blob Hop(int ifindex, const char* gateway) {
  const Blob gw = Attr(RTA_GATEWAY, Ip(gateway));
  rtnexthop h{};
  h.rtnh_len = static_cast<unsigned short>(sizeof(rtnexthop) + gw.size());
  h.rtnh_ifindex = ifindex;
  return Cat({Raw(h), gw});
}

Blob NexthopObject(uint32_t id, std::initializer_list<Blob> attrs) {
  nhmsg n{};
  n.nh_family = AF_INET;
  Blob body = Cat({Raw(n), Attr(NHA_ID, U32(id))});
  for (const Blob& a : attrs) body = Cat({body, a});
  return Msg(RTM_NEWNEXTHOP, NLM_F_MULTI, body);
}

Blob Group(std::initializer_list<uint32_t> ids) {
  Blob g;
  for (uint32_t id : ids) {
    nexthop_grp m{};
    m.id = id;
    g = Cat({g, Raw(m)});
  }
  return Attr(NHA_GROUP, g);
}

TEST(NetlinkTest, GatewaysOfPlainMultipathAndNexthopRoutes) {
  const struct {
    const char* name;
    Blob routes;
    std::deque<Answer> nexthops;
    std::string gateways;
  } cases[] = {
      {"the lowest metric of plain default routes",
       Cat({Route({Attr(RTA_OIF, U32(2)), Attr(RTA_GATEWAY, Ip("192.0.2.1")), Attr(RTA_PRIORITY, U32(100))}),
            Route({Attr(RTA_OIF, U32(2)), Attr(RTA_GATEWAY, Ip("192.0.2.254")), Attr(RTA_PRIORITY, U32(50))}),
            Route({Attr(RTA_OIF, U32(2)), Attr(RTA_GATEWAY, Ip("192.0.2.9")), Attr(RTA_PRIORITY, U32(60))})}),
       {},
       "eth0=192.0.2.254 eth1= eth2="},
      {"only IPv4 default routes of the main table",
       Cat({Route({Attr(RTA_OIF, U32(2)), Attr(RTA_GATEWAY, Ip("192.0.2.1"))}, 24),
            Route({Attr(RTA_OIF, U32(3)), Attr(RTA_GATEWAY, Ip("198.51.100.1"))}, 0, 100),
            Route({Attr(RTA_OIF, U32(3)), Attr(RTA_GATEWAY, Ip("198.51.100.2")), Attr(RTA_TABLE, U32(1000))}, 0,
                  RT_TABLE_COMPAT),
            Route({Attr(RTA_OIF, U32(4)), Attr(RTA_GATEWAY, Blob(16, 0xfe))}, 0, RT_TABLE_MAIN, AF_INET6)}),
       {},
       "eth0= eth1= eth2="},
      {"a multipath route gives each of its links a gateway",
       Route({Attr(RTA_MULTIPATH, Cat({Hop(2, "192.0.2.1"), Hop(3, "198.51.100.1"), Hop(9, "203.0.113.1")}))}),
       {},
       "eth0=192.0.2.1 eth1=198.51.100.1 eth2="},
      {"a nexthop object",
       Route({Attr(RTA_NH_ID, U32(9))}),
       {{{Cat({NexthopObject(9, {Attr(NHA_OIF, U32(4)), Attr(NHA_GATEWAY, Ip("203.0.113.1"))}), Done()})}}},
       "eth0= eth1= eth2=203.0.113.1"},
      {"a nexthop group gives each of its members' links a gateway",
       Route({Attr(RTA_NH_ID, U32(10)), Attr(RTA_PRIORITY, U32(5))}),
       {{{Cat({NexthopObject(10, {Group({11, 12, 99})}),
               NexthopObject(11, {Attr(NHA_OIF, U32(2)), Attr(NHA_GATEWAY, Ip("192.0.2.7"))})})},
         {Cat({NexthopObject(12, {Attr(NHA_OIF, U32(3)), Attr(NHA_GATEWAY, Ip("198.51.100.7"))}), Done()})}}},
       "eth0=192.0.2.7 eth1=198.51.100.7 eth2="},
      {"a kernel without nexthop objects keeps the plain gateways",
       Cat({Route({Attr(RTA_OIF, U32(2)), Attr(RTA_GATEWAY, Ip("192.0.2.1"))}), Route({Attr(RTA_NH_ID, U32(9))})}),
       {{{ErrorAnswer(-EOPNOTSUPP)}}},
       "eth0=192.0.2.1 eth1= eth2="},
      {"an interrupted route dump is read again",
       Route({Attr(RTA_OIF, U32(3)), Attr(RTA_GATEWAY, Ip("198.51.100.1"))}),
       {},
       "eth0= eth1=198.51.100.1 eth2="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::deque<Answer> routes = {{{Cat({c.routes, Done()})}}};
    if (std::string(c.name).find("interrupted") != std::string::npos) {
      routes.push_front({{Cat({Route({Attr(RTA_OIF, U32(2)), Attr(RTA_GATEWAY, Ip("192.0.2.66"))}),
                               Msg(NLMSG_DONE, NLM_F_MULTI | NLM_F_DUMP_INTR, Raw(int32_t{0}))})}});
    }
    Netlink route(std::make_unique<FakeKernel>(
        std::map<uint16_t, std::deque<Answer>>{{RTM_GETROUTE, routes}, {RTM_GETNEXTHOP, c.nexthops}}));
    std::vector<LinkFacts> links(3);
    for (int i = 0; i < 3; ++i) {
      links[i].index = i + 2;
      links[i].name = "eth" + std::to_string(i);
    }
    ReadGateways(route, links);
    std::string gateways;
    for (const LinkFacts& l : links) gateways += (gateways.empty() ? "" : " ") + l.name + "=" + l.gateway;
    EXPECT_EQ(gateways, c.gateways);
  }
}

}  // namespace
}  // namespace hostprobe::linux_net
