// Netlink sockets of this process's namespace, and the messages and
// attributes they carry.
#pragma once

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace hostprobe::linux_net {

using Bytes = std::span<const uint8_t>;

// Throws Error (kPlatform): `what` and the system's words for `err`.
[[noreturn]] void Fail(const std::string& what, int err);

template <typename T>
T As(Bytes bytes) {
  T value{};
  std::memcpy(&value, bytes.data(), std::min(sizeof(T), bytes.size()));
  return value;
}

// The attributes after a fixed header of `fixed` bytes, by type; types at or
// above N are left out.
template <std::size_t N>
struct Attrs {
  std::array<Bytes, N> of{};
  bool has(std::size_t type) const { return type < N && of[type].data() != nullptr; }
  Bytes operator[](std::size_t type) const { return of[type]; }
};

template <std::size_t N>
Attrs<N> Parse(Bytes body, std::size_t fixed) {
  Attrs<N> out;
  std::size_t at = NLMSG_ALIGN(fixed);
  while (at + sizeof(rtattr) <= body.size()) {
    rtattr a;
    std::memcpy(&a, body.data() + at, sizeof(a));
    if (a.rta_len < sizeof(rtattr) || at + a.rta_len > body.size()) break;
    const std::size_t type = a.rta_type & NLA_TYPE_MASK;
    if (type < N) out.of[type] = body.subspan(at + RTA_LENGTH(0), a.rta_len - RTA_LENGTH(0));
    at += RTA_ALIGN(a.rta_len);
  }
  return out;
}

// One netlink socket of this process's namespace.
class Netlink {
 public:
  explicit Netlink(int protocol);
  ~Netlink();
  Netlink(const Netlink&) = delete;
  Netlink& operator=(const Netlink&) = delete;

  // Sends `request` (a whole message: header, fixed part, attributes) and
  // returns the bodies of the answer's messages of type `type`, which stay
  // valid until the next call. A dump that the kernel reports as interrupted
  // (the table changed meanwhile) is asked again, up to three times, the last
  // answer taken as it is. An error answer throws Error (kPlatform).
  std::vector<Bytes> Ask(std::vector<uint8_t> request, uint16_t type) {
    for (int attempt = 1;; ++attempt) {
      bool interrupted = false;
      std::vector<Bytes> answer = AskOnce(request, type, &interrupted);
      if (!interrupted || attempt == 3) return answer;
    }
  }

 private:
  std::vector<Bytes> AskOnce(std::vector<uint8_t>& request, uint16_t type, bool* interrupted);

  int fd_;
  uint32_t seq_ = 0;
  std::vector<uint8_t> data_;
};

// A request message: the netlink header, the fixed part `T`, and attributes.
template <typename T>
std::vector<uint8_t> Request(uint16_t type, uint16_t flags, const T& fixed) {
  std::vector<uint8_t> r(NLMSG_LENGTH(sizeof(T)));
  nlmsghdr h{};
  h.nlmsg_type = type;
  h.nlmsg_flags = NLM_F_REQUEST | flags;
  std::memcpy(r.data(), &h, sizeof(h));
  std::memcpy(r.data() + NLMSG_HDRLEN, &fixed, sizeof(T));
  r.resize(NLMSG_ALIGN(r.size()));
  return r;
}

void AddAttribute(std::vector<uint8_t>& r, uint16_t type, const void* data, std::size_t size);

}  // namespace hostprobe::linux_net
