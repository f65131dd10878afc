#include "platform/linux/netlink_linux.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/error.h"

namespace hostprobe::linux_net {

void Fail(const std::string& what, int err) {
  throw Error(ErrorKind::kPlatform, what + ": " + std::strerror(err));
}

void FailShortAttribute(const char* name, std::size_t size, std::size_t expected) {
  throw Error(ErrorKind::kPlatform, std::string("netlink attribute ") + name + ": " + std::to_string(size) +
                                        " bytes where " + std::to_string(expected) + " are expected");
}

namespace {

// The errno value of a kernel error code (a negated errno); a code that is
// none (not negative, or one whose negation does not fit) is a malformed
// answer.
int KernelErrno(int32_t code) { return code < 0 && code != INT32_MIN ? -code : EBADMSG; }

}  // namespace

void AnswerParser::Feed(Bytes datagram, bool truncated) {
  if (truncated) Fail("reading the kernel's netlink answer", EMSGSIZE);
  if (datagram.empty()) {
    done_ = true;
    return;
  }
  std::size_t at = 0;
  while (!done_ && datagram.size() - at >= sizeof(nlmsghdr)) {
    nlmsghdr h;
    std::memcpy(&h, datagram.data() + at, sizeof(h));
    if (h.nlmsg_len < sizeof(nlmsghdr) || h.nlmsg_len > datagram.size() - at) {
      Fail("reading the kernel's netlink answer", EBADMSG);
    }
    const Bytes body = datagram.subspan(at + NLMSG_HDRLEN, h.nlmsg_len - std::min<std::size_t>(h.nlmsg_len, NLMSG_HDRLEN));
    at += std::min<std::size_t>(NLMSG_ALIGN(h.nlmsg_len), datagram.size() - at);
    if (h.nlmsg_seq != seq_) continue;
    if (h.nlmsg_flags & NLM_F_DUMP_INTR) interrupted_ = true;
    if (h.nlmsg_type == NLMSG_DONE) {
      // A dump that failed on its way says so in its end.
      if (body.size() >= sizeof(int32_t) && As<int32_t>(body) < 0) Fail("netlink dump", KernelErrno(As<int32_t>(body)));
      done_ = true;
    } else if (h.nlmsg_type == NLMSG_ERROR) {
      if (body.size() >= sizeof(nlmsgerr) && As<nlmsgerr>(body).error != 0) {
        Fail("netlink request", KernelErrno(As<nlmsgerr>(body).error));
      }
      done_ = true;
    } else {
      if (h.nlmsg_type == type_) messages_.push_back({h.nlmsg_type, h.nlmsg_flags, {body.begin(), body.end()}});
      if (!dump_ && !(h.nlmsg_flags & NLM_F_MULTI)) done_ = true;
    }
  }
}

namespace {

class SocketTransport : public NetlinkTransport {
 public:
  explicit SocketTransport(int protocol) : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol)) {
    if (fd_ < 0) Fail("opening a netlink socket", errno);
  }
  ~SocketTransport() override { close(fd_); }
  SocketTransport(const SocketTransport&) = delete;
  SocketTransport& operator=(const SocketTransport&) = delete;

  void Send(Bytes request) override {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t n;
    do {
      n = sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel));
    } while (n < 0 && errno == EINTR);
    if (n < 0) Fail("asking the kernel over netlink", errno);
  }

  bool Receive(std::vector<uint8_t>& datagram) override {
    constexpr std::size_t kChunk = 64 * 1024;  // the kernel sends at most 32 KiB at once
    datagram.resize(kChunk);
    iovec part{datagram.data(), kChunk};
    msghdr m{};
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    ssize_t n;
    do {
      n = recvmsg(fd_, &m, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) Fail("reading the kernel's netlink answer", errno);
    datagram.resize(static_cast<std::size_t>(n));
    return (m.msg_flags & MSG_TRUNC) != 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<NetlinkTransport> OpenNetlinkSocket(int protocol) {
  return std::make_unique<SocketTransport>(protocol);
}

std::vector<Message> Netlink::Ask(std::vector<uint8_t> request, uint16_t type) {
  for (int attempt = 1;; ++attempt) {
    nlmsghdr header;
    std::memcpy(&header, request.data(), sizeof(header));
    header.nlmsg_len = static_cast<uint32_t>(request.size());
    header.nlmsg_seq = ++seq_;
    std::memcpy(request.data(), &header, sizeof(header));
    transport_->Send(request);
    AnswerParser answer(seq_, type, (header.nlmsg_flags & NLM_F_DUMP) != 0);
    while (!answer.done()) {
      const bool truncated = transport_->Receive(datagram_);
      answer.Feed(datagram_, truncated);
    }
    if (!answer.interrupted() || attempt == 3) return answer.Take();
  }
}

void AddAttribute(std::vector<uint8_t>& r, uint16_t type, const void* data, std::size_t size) {
  rtattr a{};
  a.rta_type = type;
  a.rta_len = static_cast<uint16_t>(RTA_LENGTH(size));
  const std::size_t at = r.size();
  r.resize(at + RTA_SPACE(size));
  std::memcpy(r.data() + at, &a, sizeof(a));
  std::memcpy(r.data() + at + RTA_LENGTH(0), data, size);
}

}  // namespace hostprobe::linux_net
