#include "platform/linux/rtnetlink_linux.h"

#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/nexthop.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <string>

#include "platform/error.h"
#include "platform/linux/text_linux.h"

namespace hostprobe::linux_net {
namespace {

std::string Dotted(Bytes bytes) {
  if (bytes.size() != 4) return "";
  return DottedQuad(bytes.data());
}

std::string MaskText(unsigned prefix) {
  const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - std::min(prefix, 32u));
  const uint8_t bytes[4] = {static_cast<uint8_t>(mask >> 24), static_cast<uint8_t>(mask >> 16),
                            static_cast<uint8_t>(mask >> 8), static_cast<uint8_t>(mask)};
  return Dotted(Bytes(bytes, 4));
}

void ReadLinkMessage(Bytes body, const Gather& what, std::vector<LinkFacts>& links) {
  if (body.size() < sizeof(ifinfomsg)) return;
  const auto info = As<ifinfomsg>(body);
  LinkFacts link;
  link.index = info.ifi_index;
  link.arphrd = info.ifi_type;
  link.flags = info.ifi_flags;
  const auto attrs = Parse<IFLA_MAX + 1>(body, sizeof(ifinfomsg));
  if (attrs.has(IFLA_IFNAME)) {
    const Bytes name = attrs[IFLA_IFNAME];
    link.name.assign(name.begin(), std::find(name.begin(), name.end(), 0));
  }
  if (attrs.has(IFLA_MTU)) link.mtu = attrs.Get<uint32_t>(IFLA_MTU, "IFLA_MTU");
  if (attrs.has(IFLA_OPERSTATE)) link.operstate = attrs.Get<uint8_t>(IFLA_OPERSTATE, "IFLA_OPERSTATE");
  if (attrs.has(IFLA_ADDRESS)) link.address.assign(attrs[IFLA_ADDRESS].begin(), attrs[IFLA_ADDRESS].end());
  if (what.counters && attrs.has(IFLA_STATS64)) {
    // Older kernels send fewer counters; the ones read here they all have.
    const auto s = attrs.Get<rtnl_link_stats64>(IFLA_STATS64, "IFLA_STATS64",
                                                offsetof(rtnl_link_stats64, multicast) + sizeof(uint64_t));
    link.rx_bytes = s.rx_bytes, link.rx_packets = s.rx_packets, link.rx_multicast = s.multicast;
    link.rx_dropped = s.rx_dropped, link.rx_errors = s.rx_errors;
    link.tx_bytes = s.tx_bytes, link.tx_packets = s.tx_packets;
    link.tx_dropped = s.tx_dropped, link.tx_errors = s.tx_errors;
  }
  links.push_back(std::move(link));
}

LinkFacts* Find(std::vector<LinkFacts>& links, int index) {
  auto it = std::lower_bound(links.begin(), links.end(), index,
                             [](const LinkFacts& l, int i) { return l.index < i; });
  return it != links.end() && it->index == index ? &*it : nullptr;
}

// A nexthop object: its device and IPv4 gateway, or the members of a group.
struct Nexthop {
  int oif = 0;
  std::vector<uint8_t> gateway;
  std::vector<uint32_t> members;
};

// Every nexthop object by id; none where the kernel has no nexthop objects.
std::map<uint32_t, Nexthop> ReadNexthops(Netlink& route) {
  std::map<uint32_t, Nexthop> nexthops;
  nhmsg request{};
  request.nh_family = AF_UNSPEC;
  std::vector<Message> answer;
  try {
    answer = route.Ask(Request(RTM_GETNEXTHOP, NLM_F_DUMP, request), RTM_NEWNEXTHOP);
  } catch (const Error&) {
    return nexthops;
  }
  for (Bytes body : answer) {
    if (body.size() < sizeof(nhmsg)) continue;
    const auto attrs = Parse<NHA_MAX + 1>(body, sizeof(nhmsg));
    if (!attrs.has(NHA_ID)) continue;
    Nexthop& nh = nexthops[attrs.Get<uint32_t>(NHA_ID, "NHA_ID")];
    if (attrs.has(NHA_OIF)) nh.oif = attrs.Get<int>(NHA_OIF, "NHA_OIF");
    if (attrs.has(NHA_GATEWAY)) nh.gateway.assign(attrs[NHA_GATEWAY].begin(), attrs[NHA_GATEWAY].end());
    if (attrs.has(NHA_GROUP)) {
      const Bytes group = attrs[NHA_GROUP];
      for (std::size_t at = 0; at + sizeof(nexthop_grp) <= group.size(); at += sizeof(nexthop_grp)) {
        nh.members.push_back(As<nexthop_grp>(group.subspan(at)).id);
      }
    }
  }
  return nexthops;
}

}  // namespace

std::vector<LinkFacts> ReadIndexes(Netlink& route) {
  std::vector<LinkFacts> links;
  if_stats_msg request{};
  request.family = AF_UNSPEC;
  request.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
  std::vector<Message> answer;
  try {
    answer = route.Ask(Request(RTM_GETSTATS, NLM_F_DUMP, request), RTM_NEWSTATS);
  } catch (const Error&) {
    return links;
  }
  for (Bytes body : answer) {
    if (body.size() < sizeof(if_stats_msg)) continue;
    LinkFacts link;
    link.index = static_cast<int32_t>(As<if_stats_msg>(body).ifindex);
    if (link.index == 1) link.arphrd = ARPHRD_LOOPBACK;
    links.push_back(std::move(link));
  }
  return links;
}

std::vector<LinkFacts> ReadLinkDump(Netlink& route, const Gather& what) {
  std::vector<LinkFacts> links;
  ifinfomsg request{};
  request.ifi_family = AF_UNSPEC;
  std::vector<uint8_t> r = Request(RTM_GETLINK, NLM_F_DUMP, request);
  // Without counters the kernel may leave out the per-protocol statistics.
  const uint32_t mask = what.counters ? 0 : RTEXT_FILTER_SKIP_STATS;
  AddAttribute(r, IFLA_EXT_MASK, &mask, sizeof(mask));
  for (Bytes body : route.Ask(std::move(r), RTM_NEWLINK)) ReadLinkMessage(body, what, links);
  return links;
}

void ReadAddresses(Netlink& route, std::vector<LinkFacts>& links) {
  ifaddrmsg request{};
  request.ifa_family = AF_INET;
  for (Bytes body : route.Ask(Request(RTM_GETADDR, NLM_F_DUMP, request), RTM_NEWADDR)) {
    if (body.size() < sizeof(ifaddrmsg)) continue;
    const auto info = As<ifaddrmsg>(body);
    LinkFacts* link = Find(links, static_cast<int>(info.ifa_index));
    if (info.ifa_family != AF_INET || !link) continue;
    const auto attrs = Parse<IFA_MAX + 1>(body, sizeof(ifaddrmsg));
    // IFA_LOCAL is the interface's own address; IFA_ADDRESS is the peer's on
    // point-to-point links.
    const Bytes address = attrs.has(IFA_LOCAL) ? attrs[IFA_LOCAL] : attrs[IFA_ADDRESS];
    if (address.size() != 4) continue;
    link->ipv4.push_back({Dotted(address), MaskText(info.ifa_prefixlen)});
  }
}

void ReadGateways(Netlink& route, std::vector<LinkFacts>& links) {
  std::map<int, uint32_t> best_metric;
  auto take = [&](int oif, Bytes gateway, uint32_t metric) {
    LinkFacts* link = Find(links, oif);
    if (!link || gateway.size() != 4) return;
    auto [it, fresh] = best_metric.emplace(oif, metric);
    if (!fresh && metric >= it->second) return;
    it->second = metric;
    link->gateway = Dotted(gateway);
  };
  std::vector<std::pair<uint32_t, uint32_t>> by_nexthop;  // nexthop id and metric, in route order
  rtmsg request{};
  request.rtm_family = AF_INET;
  for (Bytes body : route.Ask(Request(RTM_GETROUTE, NLM_F_DUMP, request), RTM_NEWROUTE)) {
    if (body.size() < sizeof(rtmsg)) continue;
    const auto info = As<rtmsg>(body);
    const auto attrs = Parse<RTA_MAX + 1>(body, sizeof(rtmsg));
    uint32_t table = info.rtm_table;
    if (attrs.has(RTA_TABLE)) table = attrs.Get<uint32_t>(RTA_TABLE, "RTA_TABLE");
    if (info.rtm_family != AF_INET || info.rtm_dst_len != 0 || info.rtm_type != RTN_UNICAST ||
        table != RT_TABLE_MAIN) {
      continue;
    }
    const uint32_t metric = attrs.has(RTA_PRIORITY) ? attrs.Get<uint32_t>(RTA_PRIORITY, "RTA_PRIORITY") : 0;
    if (attrs.has(RTA_OIF) && attrs.has(RTA_GATEWAY)) take(attrs.Get<int>(RTA_OIF, "RTA_OIF"), attrs[RTA_GATEWAY], metric);
    if (attrs.has(RTA_MULTIPATH)) {
      const Bytes hops = attrs[RTA_MULTIPATH];
      std::size_t at = 0;
      while (at + sizeof(rtnexthop) <= hops.size()) {
        const auto hop = As<rtnexthop>(hops.subspan(at));
        if (hop.rtnh_len < sizeof(rtnexthop) || at + hop.rtnh_len > hops.size()) break;
        const auto hop_attrs = Parse<RTA_MAX + 1>(hops.subspan(at, hop.rtnh_len), sizeof(rtnexthop));
        if (hop_attrs.has(RTA_GATEWAY)) take(hop.rtnh_ifindex, hop_attrs[RTA_GATEWAY], metric);
        at += RTNH_ALIGN(hop.rtnh_len);
      }
    }
    if (attrs.has(RTA_NH_ID)) by_nexthop.emplace_back(attrs.Get<uint32_t>(RTA_NH_ID, "RTA_NH_ID"), metric);
  }
  if (by_nexthop.empty()) return;

  // Routes through nexthop objects carry only the object's id when the kernel
  // does not repeat its gateways in the route (nexthop_compat_mode 0).
  const std::map<uint32_t, Nexthop> nexthops = ReadNexthops(route);
  for (const auto& [id, metric] : by_nexthop) {
    auto it = nexthops.find(id);
    if (it == nexthops.end()) continue;
    if (it->second.members.empty()) {
      take(it->second.oif, it->second.gateway, metric);
      continue;
    }
    for (uint32_t member : it->second.members) {
      auto m = nexthops.find(member);
      if (m != nexthops.end()) take(m->second.oif, m->second.gateway, metric);
    }
  }
}

}  // namespace hostprobe::linux_net
