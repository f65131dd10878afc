// Netlink on bytes: the messages of the kernel's answers and their
// attributes, read with every length checked, and the sockets of this
// process's namespace that carry them (behind a seam, so that tests feed
// canned kernel answers as any user).
#pragma once

#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace hostprobe::linux_net {

using Bytes = std::span<const uint8_t>;

// Throws Error (kPlatform): `what` and the system's words for `err`.
[[noreturn]] void Fail(const std::string& what, int err);

// Throws Error (kPlatform): the attribute `name` holds `size` bytes, fewer
// than the `expected` ones.
[[noreturn]] void FailShortAttribute(const char* name, std::size_t size, std::size_t expected);

// The first sizeof(T) bytes of `bytes` as a T, zero-filled where `bytes` is
// shorter (for fixed headers whose size the caller checked).
template <typename T>
T As(Bytes bytes) {
  T value{};
  std::memcpy(&value, bytes.data(), std::min(sizeof(T), bytes.size()));
  return value;
}

// The attributes after a fixed header of `fixed` bytes, by type; types at or
// above N are left out, and of an attribute given more than once the first
// counts. A malformed attribute ends the list.
template <std::size_t N>
class Attrs {
 public:
  Attrs(Bytes body, std::size_t fixed) {
    std::size_t at = NLMSG_ALIGN(fixed);
    while (at + sizeof(rtattr) <= body.size()) {
      rtattr a;
      std::memcpy(&a, body.data() + at, sizeof(a));
      if (a.rta_len < sizeof(rtattr) || a.rta_len > body.size() - at) break;
      const std::size_t type = a.rta_type & NLA_TYPE_MASK;
      if (type < N && !has(type)) of_[type] = body.subspan(at + RTA_LENGTH(0), a.rta_len - RTA_LENGTH(0));
      at += RTA_ALIGN(a.rta_len);
    }
  }
  bool has(std::size_t type) const { return type < N && of_[type].data() != nullptr; }
  // The attribute's bytes; empty when it is absent.
  Bytes operator[](std::size_t type) const { return type < N ? of_[type] : Bytes(); }
  // The attribute as a T, of which it must hold at least `size` bytes (a
  // structure that has grown in later kernels may be read by the part that
  // older ones send); too short throws Error (kPlatform) naming it.
  template <typename T>
  T Get(std::size_t type, const char* name, std::size_t size = sizeof(T)) const {
    const Bytes bytes = (*this)[type];
    if (bytes.size() < size) FailShortAttribute(name, bytes.size(), size);
    return As<T>(bytes);
  }

 private:
  std::array<Bytes, N> of_{};
};

template <std::size_t N>
Attrs<N> Parse(Bytes body, std::size_t fixed) {
  return Attrs<N>(body, fixed);
}

// One message of an answer, its body (after the netlink header) its own.
struct Message {
  uint16_t type = 0;
  uint16_t flags = 0;
  std::vector<uint8_t> body;
  operator Bytes() const { return body; }  // NOLINT: a message reads as its body
};

// Reads one answer from the datagrams the kernel sends for the request of
// sequence number `seq`: the messages of type `type`, in order. Messages of
// other requests are left out. The answer ends with NLMSG_DONE, an
// acknowledgement, or, for a request that is no dump, its one message.
class AnswerParser {
 public:
  AnswerParser(uint32_t seq, uint16_t type, bool dump) : seq_(seq), type_(type), dump_(dump) {}

  // One datagram as received; `truncated` when it did not fit the buffer
  // (MSG_TRUNC). Throws Error (kPlatform) for a truncated datagram, an error
  // answer (NLMSG_ERROR, or NLMSG_DONE with an error) and a message whose
  // length runs past its datagram.
  void Feed(Bytes datagram, bool truncated);

  bool done() const { return done_; }
  // The kernel's table changed during the dump (NLM_F_DUMP_INTR).
  bool interrupted() const { return interrupted_; }
  std::vector<Message> Take() { return std::move(messages_); }

 private:
  uint32_t seq_;
  uint16_t type_;
  bool dump_;
  bool done_ = false;
  bool interrupted_ = false;
  std::vector<Message> messages_;
};

// Where requests go and answers come from: a netlink socket, or canned
// datagrams in tests.
class NetlinkTransport {
 public:
  virtual ~NetlinkTransport() = default;
  virtual void Send(Bytes request) = 0;
  // The next datagram, whole, in `datagram`; returns whether the kernel cut
  // it (MSG_TRUNC). An empty datagram ends the answer.
  virtual bool Receive(std::vector<uint8_t>& datagram) = 0;
};

// A netlink socket of `protocol` in this process's namespace. Throws Error
// (kPlatform) when it cannot be opened.
std::unique_ptr<NetlinkTransport> OpenNetlinkSocket(int protocol);

class Netlink {
 public:
  explicit Netlink(int protocol) : Netlink(OpenNetlinkSocket(protocol)) {}
  explicit Netlink(std::unique_ptr<NetlinkTransport> transport) : transport_(std::move(transport)) {}

  // Sends `request` (a whole message: header, fixed part, attributes) and
  // returns the answer's messages of type `type`. A dump that the kernel
  // reports as interrupted (the table changed meanwhile) is asked again, up
  // to three times, the last answer taken as it is. An error answer throws
  // Error (kPlatform).
  std::vector<Message> Ask(std::vector<uint8_t> request, uint16_t type);

 private:
  std::unique_ptr<NetlinkTransport> transport_;
  uint32_t seq_ = 0;
  std::vector<uint8_t> datagram_;
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
