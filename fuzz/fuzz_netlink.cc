// Fuzzes the netlink answer parser and the rtnetlink queries over arbitrary
// kernel answers. Input: datagrams, each a 2-byte little-endian length (its
// top bit: the kernel cut the datagram) and that many bytes; the sequence
// number of every message in them counts from the request's, so that 0
// answers it. The queries ask in turn: links, addresses, routes (and
// nexthop objects), link indexes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "platform/error.h"
#include "platform/linux/netlink_linux.h"
#include "platform/linux/rtnetlink_linux.h"

namespace {

using namespace hostprobe::linux_net;

class FuzzKernel : public NetlinkTransport {
 public:
  FuzzKernel(const uint8_t* data, size_t size) {
    for (size_t at = 0; at + 2 <= size;) {
      const unsigned word = data[at] | (data[at + 1] << 8);
      const size_t length = std::min<size_t>(word & 0x7FFF, size - at - 2);
      datagrams_.push_back({std::vector<uint8_t>(data + at + 2, data + at + 2 + length), (word & 0x8000) != 0});
      at += 2 + length;
    }
  }
  void Send(Bytes request) override { seq_ = As<nlmsghdr>(request).nlmsg_seq; }
  bool Receive(std::vector<uint8_t>& datagram) override {
    if (datagrams_.empty()) {
      datagram.clear();
      return false;
    }
    auto [bytes, truncated] = std::move(datagrams_.front());
    datagrams_.pop_front();
    for (size_t at = 0; at + sizeof(nlmsghdr) <= bytes.size();) {
      nlmsghdr h;
      std::memcpy(&h, bytes.data() + at, sizeof(h));
      h.nlmsg_seq += seq_;
      std::memcpy(bytes.data() + at, &h, sizeof(h));
      if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > bytes.size() - at) break;
      at += NLMSG_ALIGN(h.nlmsg_len);
    }
    datagram = std::move(bytes);
    return truncated;
  }

 private:
  std::deque<std::pair<std::vector<uint8_t>, bool>> datagrams_;
  uint32_t seq_ = 0;
};

template <typename F>
void Try(F f) {
  try {
    f();
  } catch (const hostprobe::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Netlink route(std::make_unique<FuzzKernel>(data, size));
  std::vector<LinkFacts> links;
  Try([&] { links = ReadLinkDump(route, Gather{.counters = true}); });
  std::sort(links.begin(), links.end(), [](const LinkFacts& a, const LinkFacts& b) { return a.index < b.index; });
  links.erase(std::unique(links.begin(), links.end(),
                          [](const LinkFacts& a, const LinkFacts& b) { return a.index == b.index; }),
              links.end());
  Try([&] { ReadAddresses(route, links); });
  Try([&] { ReadGateways(route, links); });
  Try([&] { ReadIndexes(route); });
  return 0;
}
