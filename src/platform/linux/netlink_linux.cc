#include "platform/linux/netlink_linux.h"

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/error.h"

namespace hostprobe::linux_net {

void Fail(const std::string& what, int err) {
  throw Error(ErrorKind::kPlatform, what + ": " + std::strerror(err));
}

Netlink::Netlink(int protocol) : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol)) {
  if (fd_ < 0) Fail("opening a netlink socket", errno);
}

Netlink::~Netlink() { close(fd_); }

std::vector<Bytes> Netlink::AskOnce(std::vector<uint8_t>& request, uint16_t type, bool* interrupted) {
  auto* header = reinterpret_cast<nlmsghdr*>(request.data());
  header->nlmsg_len = static_cast<uint32_t>(request.size());
  header->nlmsg_seq = ++seq_;
  const bool dump = header->nlmsg_flags & NLM_F_DUMP;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel)) < 0) {
    Fail("asking the kernel over netlink", errno);
  }
  data_.clear();
  std::vector<std::pair<std::size_t, std::size_t>> found;  // offset and length of each body
  for (bool done = false; !done;) {
    constexpr std::size_t kChunk = 64 * 1024;  // the kernel sends at most 32 KiB at once
    const std::size_t at = data_.size();
    data_.resize(at + kChunk);
    iovec part{data_.data() + at, kChunk};
    msghdr m{};
    m.msg_iov = &part;
    m.msg_iovlen = 1;
    const ssize_t n = recvmsg(fd_, &m, 0);
    if (n < 0) {
      data_.resize(at);
      if (errno == EINTR) continue;
      Fail("reading the kernel's netlink answer", errno);
    }
    if (m.msg_flags & MSG_TRUNC) Fail("reading the kernel's netlink answer", EMSGSIZE);
    data_.resize(at + static_cast<std::size_t>(n));
    if (n == 0) break;
    std::size_t left = static_cast<std::size_t>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(data_.data() + at); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
      if (h->nlmsg_seq != seq_) continue;
      if (h->nlmsg_flags & NLM_F_DUMP_INTR) *interrupted = true;
      if (h->nlmsg_type == NLMSG_DONE) {
        done = true;
        break;
      }
      if (h->nlmsg_type == NLMSG_ERROR) {
        const auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
        if (h->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) && e->error != 0) Fail("netlink request", -e->error);
        done = true;
        break;
      }
      if (h->nlmsg_type == type) {
        const auto offset = static_cast<std::size_t>(static_cast<uint8_t*>(NLMSG_DATA(h)) - data_.data());
        found.emplace_back(offset, NLMSG_PAYLOAD(h, 0));
      }
      if (!dump && !(h->nlmsg_flags & NLM_F_MULTI)) done = true;
    }
  }
  std::vector<Bytes> bodies;
  bodies.reserve(found.size());
  for (const auto& [offset, length] : found) bodies.emplace_back(data_.data() + offset, length);
  return bodies;
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
