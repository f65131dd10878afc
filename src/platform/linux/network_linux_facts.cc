#include "platform/linux/network_linux_facts.h"

#include <arpa/inet.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/error.h"

namespace hostprobe::linux_net {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what, int err) {
  throw Error(ErrorKind::kPlatform, what + ": " + std::strerror(err));
}

class Socket {
 public:
  Socket() : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    if (fd_ < 0) Fail("opening a netlink socket", errno);
  }
  ~Socket() { close(fd_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// One netlink message: its type and the bytes after its header.
struct Message {
  uint16_t type;
  std::vector<uint8_t> body;
};

// Dumps one rtnetlink table (`type` RTM_GET*) for `family`; sets
// `*interrupted` when the kernel says the table changed during the dump.
std::vector<Message> DumpOnce(uint16_t type, uint8_t family, bool* interrupted) {
  Socket sock;
  struct {
    nlmsghdr header;
    rtgenmsg gen;
  } request{};
  request.header.nlmsg_len = sizeof(request);
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.gen.rtgen_family = family;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(sock.fd(), &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel)) < 0) {
    Fail("asking the kernel over netlink", errno);
  }

  std::vector<Message> messages;
  std::vector<uint8_t> buffer(64 * 1024);
  for (;;) {
    iovec part{buffer.data(), buffer.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    const ssize_t n = recvmsg(sock.fd(), &header, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("reading the kernel's netlink answer", errno);
    }
    if (header.msg_flags & MSG_TRUNC) Fail("reading the kernel's netlink answer", EMSGSIZE);
    if (n == 0) return messages;
    std::size_t left = static_cast<std::size_t>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
      if (h->nlmsg_flags & NLM_F_DUMP_INTR) *interrupted = true;
      if (h->nlmsg_type == NLMSG_DONE) return messages;
      if (h->nlmsg_type == NLMSG_ERROR) {
        const auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
        if (h->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) && e->error != 0) Fail("netlink dump", -e->error);
        continue;
      }
      const auto* data = static_cast<const uint8_t*>(NLMSG_DATA(h));
      messages.push_back({h->nlmsg_type, std::vector<uint8_t>(data, data + NLMSG_PAYLOAD(h, 0))});
    }
  }
}

// A dump that the kernel did not interrupt, trying a few times; the last try
// is taken as it is.
std::vector<Message> Dump(uint16_t type, uint8_t family) {
  for (int attempt = 1;; ++attempt) {
    bool interrupted = false;
    std::vector<Message> messages = DumpOnce(type, family, &interrupted);
    if (!interrupted || attempt == 3) return messages;
  }
}

// The attributes after a fixed header of `fixed` bytes: type to payload.
std::map<uint16_t, std::vector<uint8_t>> Attributes(const std::vector<uint8_t>& body, std::size_t fixed) {
  std::map<uint16_t, std::vector<uint8_t>> out;
  std::size_t at = NLMSG_ALIGN(fixed);
  while (at + sizeof(rtattr) <= body.size()) {
    rtattr a;
    std::memcpy(&a, body.data() + at, sizeof(a));
    if (a.rta_len < sizeof(rtattr) || at + a.rta_len > body.size()) break;
    const auto* p = body.data() + at + RTA_LENGTH(0);
    out.emplace(a.rta_type & NLA_TYPE_MASK, std::vector<uint8_t>(p, p + (a.rta_len - RTA_LENGTH(0))));
    at += RTA_ALIGN(a.rta_len);
  }
  return out;
}

template <typename T>
T As(const std::vector<uint8_t>& bytes) {
  T value{};
  std::memcpy(&value, bytes.data(), std::min(sizeof(T), bytes.size()));
  return value;
}

std::string Dotted(const std::vector<uint8_t>& bytes) {
  char text[INET_ADDRSTRLEN] = {};
  if (bytes.size() < 4) return "";
  inet_ntop(AF_INET, bytes.data(), text, sizeof(text));
  return text;
}

std::string MaskText(unsigned prefix) {
  const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - std::min(prefix, 32u));
  const uint8_t bytes[4] = {static_cast<uint8_t>(mask >> 24), static_cast<uint8_t>(mask >> 16),
                            static_cast<uint8_t>(mask >> 8), static_cast<uint8_t>(mask)};
  return Dotted(std::vector<uint8_t>(bytes, bytes + 4));
}

std::string ReadSmallFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

// udev's vendor and model of the device, else the name of its driver.
std::string Description(const LinkFacts& link) {
  std::string vendor, model;
  std::istringstream udev(ReadSmallFile("/run/udev/data/n" + std::to_string(link.index)));
  for (std::string line; std::getline(udev, line);) {
    if (line.rfind("E:ID_VENDOR_FROM_DATABASE=", 0) == 0) vendor = Trim(line.substr(26));
    if (line.rfind("E:ID_MODEL_FROM_DATABASE=", 0) == 0) model = Trim(line.substr(25));
  }
  const std::string both = Trim(vendor + (vendor.empty() || model.empty() ? "" : " ") + model);
  if (!both.empty()) return both;
  std::error_code ec;
  const fs::path driver = fs::read_symlink("/sys/class/net/" + link.name + "/device/driver", ec);
  if (!ec && !driver.filename().empty()) return driver.filename().string();
  return link.name;
}

uint64_t SpeedMbps(const std::string& name) {
  const std::string text = Trim(ReadSmallFile("/sys/class/net/" + name + "/speed"));
  try {
    const long long v = text.empty() ? 0 : std::stoll(text);
    return v > 0 ? static_cast<uint64_t>(v) : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

int64_t ModifiedTime(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

// A lease in the KEY=VALUE form of systemd-networkd (and NetworkManager's
// internal client): SERVER_ADDRESS and LIFETIME, counted from the file's time.
std::optional<DhcpLease> KeyValueLease(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  DhcpLease lease;
  lease.obtained = ModifiedTime(path);
  int64_t lifetime = 0;
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq), value = Trim(line.substr(eq + 1));
    if (key == "SERVER_ADDRESS") lease.server = value;
    if (key == "LIFETIME") {
      try {
        lifetime = std::stoll(value);
      } catch (const std::exception&) {
      }
    }
  }
  lease.expires = lease.obtained + lifetime;
  return lease;
}

// The last lease for `name` in a dhclient lease file: its server identifier
// and expiry ("expire N YYYY/MM/DD HH:MM:SS;", UTC).
std::optional<DhcpLease> DhclientLease(const fs::path& path, const std::string& name) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::optional<DhcpLease> found;
  DhcpLease current;
  bool ours = false;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "lease") {
      current = DhcpLease{};
      current.obtained = ModifiedTime(path);
      ours = false;
    } else if (first == "interface") {
      ours = line.find("\"" + name + "\"") != std::string::npos;
    } else if (first == "option" && line.find("dhcp-server-identifier") != std::string::npos) {
      std::string option, address;
      words >> option >> address;
      current.server = address.substr(0, address.find(';'));
    } else if (first == "expire") {
      int weekday = 0;
      std::tm tm{};
      char slash, colon;
      if (words >> weekday >> tm.tm_year >> slash >> tm.tm_mon >> slash >> tm.tm_mday >> tm.tm_hour >> colon >>
          tm.tm_min >> colon >> tm.tm_sec) {
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        current.expires = static_cast<int64_t>(timegm(&tm));
      }
    } else if (first == "}" && ours) {
      found = current;
    }
  }
  return found;
}

std::optional<DhcpLease> ReadLease(const LinkFacts& link) {
  if (auto lease = KeyValueLease("/run/systemd/netif/leases/" + std::to_string(link.index))) return lease;
  std::error_code ec;
  const std::string suffix = "-" + link.name + ".lease";
  for (const fs::path dir : {"/var/lib/NetworkManager", "/run/NetworkManager"}) {
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      const std::string file = it->path().filename().string();
      if (file.size() <= suffix.size() || file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0) {
        continue;
      }
      if (file.rfind("internal-", 0) == 0) {
        if (auto lease = KeyValueLease(it->path())) return lease;
      } else if (file.rfind("dhclient-", 0) == 0) {
        if (auto lease = DhclientLease(it->path(), link.name)) return lease;
      }
    }
  }
  for (const fs::path dir : {"/var/lib/dhcp", "/var/lib/dhclient"}) {
    for (const std::string& file : {"dhclient." + link.name + ".leases", std::string("dhclient.leases")}) {
      if (auto lease = DhclientLease(dir / file, link.name)) return lease;
    }
  }
  return std::nullopt;
}

void ReadLinkMessage(const Message& m, std::vector<LinkFacts>& links) {
  if (m.type != RTM_NEWLINK || m.body.size() < sizeof(ifinfomsg)) return;
  const auto info = As<ifinfomsg>(m.body);
  LinkFacts link;
  link.index = info.ifi_index;
  link.arphrd = info.ifi_type;
  link.flags = info.ifi_flags;
  const auto attrs = Attributes(m.body, sizeof(ifinfomsg));
  if (auto a = attrs.find(IFLA_IFNAME); a != attrs.end()) {
    link.name.assign(a->second.begin(), std::find(a->second.begin(), a->second.end(), 0));
  }
  if (auto a = attrs.find(IFLA_MTU); a != attrs.end()) link.mtu = As<uint32_t>(a->second);
  if (auto a = attrs.find(IFLA_OPERSTATE); a != attrs.end()) link.operstate = As<uint8_t>(a->second);
  if (auto a = attrs.find(IFLA_ADDRESS); a != attrs.end()) link.address = a->second;
  if (auto a = attrs.find(IFLA_STATS64); a != attrs.end()) {
    const auto s = As<rtnl_link_stats64>(a->second);
    link.rx_bytes = s.rx_bytes, link.rx_packets = s.rx_packets, link.rx_multicast = s.multicast;
    link.rx_dropped = s.rx_dropped, link.rx_errors = s.rx_errors;
    link.tx_bytes = s.tx_bytes, link.tx_packets = s.tx_packets;
    link.tx_dropped = s.tx_dropped, link.tx_errors = s.tx_errors;
  }
  links.push_back(std::move(link));
}

}  // namespace

int32_t LinkType(const LinkFacts& link) {
  if (link.wireless) return 71;
  switch (link.arphrd) {
    case ARPHRD_ETHER: return 6;
    case ARPHRD_LOOPBACK: return 24;
    case ARPHRD_PPP: return 23;
    case ARPHRD_IEEE80211:
    case ARPHRD_IEEE80211_PRISM:
    case ARPHRD_IEEE80211_RADIOTAP: return 71;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6: return 28;
    case ARPHRD_IEEE802_TR: return 9;
    case ARPHRD_TUNNEL:
    case ARPHRD_TUNNEL6:
    case ARPHRD_SIT:
    case ARPHRD_IPGRE:
    case ARPHRD_IP6GRE: return 131;
    default: return (link.flags & IFF_POINTOPOINT) ? 23 : 1;
  }
}

std::vector<LinkFacts> ReadLinks() {
  std::vector<LinkFacts> links;
  for (const Message& m : Dump(RTM_GETLINK, AF_PACKET)) ReadLinkMessage(m, links);
  std::sort(links.begin(), links.end(), [](const LinkFacts& a, const LinkFacts& b) { return a.index < b.index; });
  auto find = [&](int index) -> LinkFacts* {
    auto it = std::lower_bound(links.begin(), links.end(), index,
                               [](const LinkFacts& l, int i) { return l.index < i; });
    return it != links.end() && it->index == index ? &*it : nullptr;
  };

  for (const Message& m : Dump(RTM_GETADDR, AF_INET)) {
    if (m.type != RTM_NEWADDR || m.body.size() < sizeof(ifaddrmsg)) continue;
    const auto info = As<ifaddrmsg>(m.body);
    LinkFacts* link = find(static_cast<int>(info.ifa_index));
    if (info.ifa_family != AF_INET || !link) continue;
    const auto attrs = Attributes(m.body, sizeof(ifaddrmsg));
    // IFA_LOCAL is the interface's own address; IFA_ADDRESS is the peer's on
    // point-to-point links.
    auto a = attrs.find(IFA_LOCAL);
    if (a == attrs.end()) a = attrs.find(IFA_ADDRESS);
    if (a == attrs.end()) continue;
    link->ipv4.push_back({Dotted(a->second), MaskText(info.ifa_prefixlen)});
  }

  std::map<int, uint32_t> best_metric;
  for (const Message& m : Dump(RTM_GETROUTE, AF_INET)) {
    if (m.type != RTM_NEWROUTE || m.body.size() < sizeof(rtmsg)) continue;
    const auto info = As<rtmsg>(m.body);
    const auto attrs = Attributes(m.body, sizeof(rtmsg));
    uint32_t table = info.rtm_table;
    if (auto a = attrs.find(RTA_TABLE); a != attrs.end()) table = As<uint32_t>(a->second);
    if (info.rtm_family != AF_INET || info.rtm_dst_len != 0 || info.rtm_type != RTN_UNICAST ||
        table != RT_TABLE_MAIN) {
      continue;
    }
    const uint32_t metric = attrs.count(RTA_PRIORITY) ? As<uint32_t>(attrs.at(RTA_PRIORITY)) : 0;
    auto take = [&](int oif, const std::vector<uint8_t>& gateway) {
      LinkFacts* link = find(oif);
      if (!link || gateway.size() < 4) return;
      auto [it, fresh] = best_metric.emplace(oif, metric);
      if (!fresh && metric >= it->second) return;
      it->second = metric;
      link->gateway = Dotted(gateway);
    };
    if (attrs.count(RTA_OIF) && attrs.count(RTA_GATEWAY)) {
      take(As<int>(attrs.at(RTA_OIF)), attrs.at(RTA_GATEWAY));
    }
    if (auto mp = attrs.find(RTA_MULTIPATH); mp != attrs.end()) {
      const std::vector<uint8_t>& hops = mp->second;
      std::size_t at = 0;
      while (at + sizeof(rtnexthop) <= hops.size()) {
        rtnexthop hop;
        std::memcpy(&hop, hops.data() + at, sizeof(hop));
        if (hop.rtnh_len < sizeof(rtnexthop) || at + hop.rtnh_len > hops.size()) break;
        const std::vector<uint8_t> inner(hops.begin() + at, hops.begin() + at + hop.rtnh_len);
        const auto hop_attrs = Attributes(inner, sizeof(rtnexthop));
        if (auto g = hop_attrs.find(RTA_GATEWAY); g != hop_attrs.end()) take(hop.rtnh_ifindex, g->second);
        at += RTNH_ALIGN(hop.rtnh_len);
      }
    }
  }

  for (LinkFacts& link : links) {
    std::error_code ec;
    const fs::path sys = "/sys/class/net/" + link.name;
    link.wireless = fs::exists(sys / "wireless", ec) || fs::exists(sys / "phy80211", ec);
    link.speed_mbps = SpeedMbps(link.name);
    link.description = Description(link);
    if (link.arphrd != ARPHRD_LOOPBACK) link.lease = ReadLease(link);
  }
  return links;
}

}  // namespace hostprobe::linux_net
