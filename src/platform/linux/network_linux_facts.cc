#include "platform/linux/network_linux_facts.h"
#include "platform/linux/read_file.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/genetlink.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/nexthop.h>
#include <linux/nl80211.h>
#include <linux/rtnetlink.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <span>
#include <sstream>
#include <string_view>

#include "platform/error.h"

namespace hostprobe::linux_net {
namespace {

using Bytes = std::span<const uint8_t>;

[[noreturn]] void Fail(const std::string& what, int err) {
  throw Error(ErrorKind::kPlatform, what + ": " + std::strerror(err));
}

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
  explicit Netlink(int protocol) : fd_(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, protocol)) {
    if (fd_ < 0) Fail("opening a netlink socket", errno);
  }
  ~Netlink() { close(fd_); }
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
  std::vector<Bytes> AskOnce(std::vector<uint8_t>& request, uint16_t type, bool* interrupted) {
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

void AddAttribute(std::vector<uint8_t>& r, uint16_t type, const void* data, std::size_t size) {
  rtattr a{};
  a.rta_type = type;
  a.rta_len = static_cast<uint16_t>(RTA_LENGTH(size));
  const std::size_t at = r.size();
  r.resize(at + RTA_SPACE(size));
  std::memcpy(r.data() + at, &a, sizeof(a));
  std::memcpy(r.data() + at + RTA_LENGTH(0), data, size);
}

std::string Dotted(Bytes bytes) {
  char text[INET_ADDRSTRLEN] = {};
  if (bytes.size() != 4) return "";
  inet_ntop(AF_INET, bytes.data(), text, sizeof(text));
  return text;
}

std::string MaskText(unsigned prefix) {
  const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - std::min(prefix, 32u));
  const uint8_t bytes[4] = {static_cast<uint8_t>(mask >> 24), static_cast<uint8_t>(mask >> 16),
                            static_cast<uint8_t>(mask >> 8), static_cast<uint8_t>(mask)};
  return Dotted(Bytes(bytes, 4));
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// A small file's bytes; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path) { return ReadWholeFile(path).value_or(""); }

// The names in a directory; nothing when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (!dir) return names;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] != '.') names.emplace_back(e->d_name);
  }
  closedir(dir);
  return names;
}

std::string Under(const std::string& root, const char* path) {
  return (root == "/" ? std::string() : root) + path;
}

// ---- links, addresses, routes

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
  if (attrs.has(IFLA_MTU)) link.mtu = As<uint32_t>(attrs[IFLA_MTU]);
  if (attrs.has(IFLA_OPERSTATE)) link.operstate = As<uint8_t>(attrs[IFLA_OPERSTATE]);
  if (attrs.has(IFLA_ADDRESS)) link.address.assign(attrs[IFLA_ADDRESS].begin(), attrs[IFLA_ADDRESS].end());
  if (what.counters && attrs.has(IFLA_STATS64)) {
    const auto s = As<rtnl_link_stats64>(attrs[IFLA_STATS64]);
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
  std::vector<Bytes> answer;
  try {
    answer = route.Ask(Request(RTM_GETNEXTHOP, NLM_F_DUMP, request), RTM_NEWNEXTHOP);
  } catch (const Error&) {
    return nexthops;
  }
  for (Bytes body : answer) {
    if (body.size() < sizeof(nhmsg)) continue;
    const auto attrs = Parse<NHA_MAX + 1>(body, sizeof(nhmsg));
    if (!attrs.has(NHA_ID)) continue;
    Nexthop& nh = nexthops[As<uint32_t>(attrs[NHA_ID])];
    if (attrs.has(NHA_OIF)) nh.oif = As<int>(attrs[NHA_OIF]);
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

// Each link's gateway: that of its default route (main table) with the
// lowest metric, through a plain gateway, a multipath route or a nexthop
// object (a group giving each of its members' links a gateway).
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
    if (attrs.has(RTA_TABLE)) table = As<uint32_t>(attrs[RTA_TABLE]);
    if (info.rtm_family != AF_INET || info.rtm_dst_len != 0 || info.rtm_type != RTN_UNICAST ||
        table != RT_TABLE_MAIN) {
      continue;
    }
    const uint32_t metric = attrs.has(RTA_PRIORITY) ? As<uint32_t>(attrs[RTA_PRIORITY]) : 0;
    if (attrs.has(RTA_OIF) && attrs.has(RTA_GATEWAY)) take(As<int>(attrs[RTA_OIF]), attrs[RTA_GATEWAY], metric);
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
    if (attrs.has(RTA_NH_ID)) by_nexthop.emplace_back(As<uint32_t>(attrs[RTA_NH_ID]), metric);
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

// ---- facts from ioctls and generic netlink of this namespace

// ethtool ioctls on a socket of this namespace: they name the device that
// netlink reported, whatever sysfs is mounted.
class Ethtool {
 public:
  Ethtool() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (fd_ < 0) fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  }
  ~Ethtool() {
    if (fd_ >= 0) close(fd_);
  }
  Ethtool(const Ethtool&) = delete;
  Ethtool& operator=(const Ethtool&) = delete;

  // The driver's name and the bus address of the device's hardware (empty
  // or "N/A" for virtual links); false when the link has no driver information.
  bool DriverInfo(const std::string& name, std::string* driver, std::string* bus_info) {
    ethtool_drvinfo info{};
    info.cmd = ETHTOOL_GDRVINFO;
    if (!Call(name, &info)) return false;
    driver->assign(info.driver, strnlen(info.driver, sizeof(info.driver)));
    bus_info->assign(info.bus_info, strnlen(info.bus_info, sizeof(info.bus_info)));
    return true;
  }

  // The link's speed in Mb/s, 0 when unknown.
  uint64_t SpeedMbps(const std::string& name) {
    // ethtool_link_settings and its three mode masks of nwords 32-bit words.
    alignas(ethtool_link_settings) uint8_t buffer[sizeof(ethtool_link_settings) + 3 * 127 * 4];
    auto* settings = reinterpret_cast<ethtool_link_settings*>(buffer);
    uint32_t speed = 0;
    bool known = false;
    if (nwords_ == 0) {  // the kernel's size of the mode masks, learned once
      std::memset(buffer, 0, sizeof(buffer));
      settings->cmd = ETHTOOL_GLINKSETTINGS;
      if (Call(name, buffer) && settings->link_mode_masks_nwords < 0) {
        nwords_ = static_cast<int8_t>(std::min(-settings->link_mode_masks_nwords, 127));
      }
    }
    if (nwords_ > 0) {
      std::memset(buffer, 0, sizeof(buffer));
      settings->cmd = ETHTOOL_GLINKSETTINGS;
      settings->link_mode_masks_nwords = nwords_;
      if (Call(name, buffer) && settings->link_mode_masks_nwords == nwords_) {
        speed = settings->speed;
        known = true;
      }
    }
    if (!known) {
      ethtool_cmd legacy{};
      legacy.cmd = ETHTOOL_GSET;
      if (Call(name, &legacy)) speed = ethtool_cmd_speed(&legacy);
    }
    return speed == static_cast<uint32_t>(SPEED_UNKNOWN) || speed > INT32_MAX ? 0 : speed;
  }

 private:
  bool Call(const std::string& name, void* data) {
    if (fd_ < 0 || name.size() >= IFNAMSIZ) return false;
    ifreq request{};
    std::memcpy(request.ifr_name, name.data(), name.size());
    request.ifr_data = static_cast<char*>(data);
    return ioctl(fd_, SIOCETHTOOL, &request) == 0;
  }

  int fd_;
  int8_t nwords_ = 0;
};

// The indexes of this namespace's wireless interfaces, from nl80211.
std::set<int> WirelessIndexes() {
  std::set<int> indexes;
  // Wireless devices of every namespace are listed under /sys/class/ieee80211
  // (a class that is not per namespace): where sysfs shows none, there are none
  // to ask about, and asking for the family would only load its module.
  struct stat st {};
  if (stat("/sys/class", &st) == 0 && ListDirectory("/sys/class/ieee80211").empty()) return indexes;
  try {
    Netlink generic(NETLINK_GENERIC);
    genlmsghdr family_request{};
    family_request.cmd = CTRL_CMD_GETFAMILY;
    family_request.version = 1;
    std::vector<uint8_t> r = Request(GENL_ID_CTRL, 0, family_request);
    AddAttribute(r, CTRL_ATTR_FAMILY_NAME, NL80211_GENL_NAME, sizeof(NL80211_GENL_NAME));
    uint16_t family = 0;
    for (Bytes body : generic.Ask(r, GENL_ID_CTRL)) {
      const auto attrs = Parse<CTRL_ATTR_MAX + 1>(body, GENL_HDRLEN);
      if (attrs.has(CTRL_ATTR_FAMILY_ID)) family = As<uint16_t>(attrs[CTRL_ATTR_FAMILY_ID]);
    }
    if (family == 0) return indexes;
    genlmsghdr interfaces{};
    interfaces.cmd = NL80211_CMD_GET_INTERFACE;
    for (Bytes body : generic.Ask(Request(family, NLM_F_DUMP, interfaces), family)) {
      const auto attrs = Parse<NL80211_ATTR_IFINDEX + 1>(body, GENL_HDRLEN);
      if (attrs.has(NL80211_ATTR_IFINDEX)) indexes.insert(As<int>(attrs[NL80211_ATTR_IFINDEX]));
    }
  } catch (const Error&) {
    // No nl80211 in this kernel or namespace: no wireless interface.
  }
  return indexes;
}

// ---- DHCP leases

int64_t ModifiedTime(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : 0;
}

bool HasAddress(const LinkFacts& link, std::string_view address) {
  return std::any_of(link.ipv4.begin(), link.ipv4.end(), [&](const Ipv4& a) { return a.address == address; });
}

int64_t Number(std::string_view text) {
  int64_t v = 0;
  bool any = false;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
    any = true;
    if (v > (int64_t{1} << 40)) break;
  }
  return any ? v : -1;
}

// A lease in the KEY=VALUE form of systemd-networkd and NetworkManager's
// internal client: ADDRESS, SERVER_ADDRESS and LIFETIME, counted from the
// file's time. It says nothing of when it expires: the address still on the
// link is what keeps it current.
std::optional<DhcpLease> KeyValueLease(const std::string& path, const LinkFacts& link) {
  const std::string text = ReadSmallFile(path);
  std::string address;
  DhcpLease lease;
  int64_t lifetime = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string_view key = Trim(std::string_view(line).substr(0, eq));
    const std::string_view value = Trim(std::string_view(line).substr(eq + 1));
    if (key == "ADDRESS") address = value;
    if (key == "SERVER_ADDRESS") lease.server = value;
    if (key == "LIFETIME") lifetime = std::max<int64_t>(Number(value), 0);
  }
  if (address.empty() || !HasAddress(link, address)) return std::nullopt;
  lease.obtained = ModifiedTime(path);
  lease.expires = lease.obtained + lifetime;
  return lease;
}

// "W YYYY/MM/DD HH:MM:SS" (UTC) or "epoch N" of a dhclient time; -1 for
// "never" or what cannot be read.
int64_t DhclientTime(std::istringstream& words) {
  std::string first;
  words >> first;
  if (first == "epoch") {
    std::string n;
    words >> n;
    return Number(n);
  }
  std::tm tm{};
  char slash1 = 0, slash2 = 0, colon1 = 0, colon2 = 0;
  if (first.empty() || first == "never" || !(words >> tm.tm_year >> slash1 >> tm.tm_mon >> slash2 >> tm.tm_mday >>
                                             tm.tm_hour >> colon1 >> tm.tm_min >> colon2 >> tm.tm_sec)) {
    return -1;
  }
  if (slash1 != '/' || slash2 != '/' || colon1 != ':' || colon2 != ':') return -1;
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  return static_cast<int64_t>(timegm(&tm));
}

// The last lease for `link` in a dhclient lease file whose fixed address the
// link has now and whose expiry, where it gives one, is after `now`.
// `per_link` files may leave the interface out; shared ones may not.
std::optional<DhcpLease> DhclientLease(const std::string& path, const LinkFacts& link, int64_t now, bool per_link) {
  const std::string text = ReadSmallFile(path);
  std::optional<DhcpLease> found;
  DhcpLease current;
  std::string address, interface;
  int64_t expire = -1, lease_time = -1;
  bool open = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first == "lease") {
      current = DhcpLease{};
      address.clear();
      interface.clear();
      expire = lease_time = -1;
      open = true;
    } else if (!open) {
      continue;
    } else if (first == "interface") {
      std::string quoted;
      std::getline(words, quoted);
      const auto from = quoted.find('"'), to = quoted.rfind('"');
      if (from != std::string::npos && to > from) interface = quoted.substr(from + 1, to - from - 1);
    } else if (first == "fixed-address") {
      words >> address;
      address = address.substr(0, address.find(';'));
    } else if (first == "option") {
      std::string option, value;
      words >> option >> value;
      value = value.substr(0, value.find(';'));
      if (option == "dhcp-server-identifier") current.server = value;
      if (option == "dhcp-lease-time") lease_time = Number(value);
    } else if (first == "expire") {
      expire = DhclientTime(words);
    } else if (first == "}") {
      open = false;
      const bool ours = interface.empty() ? per_link : interface == link.name;
      if (!ours || address.empty() || !HasAddress(link, address) || (expire >= 0 && expire <= now)) continue;
      current.expires = expire >= 0 ? expire : 0;
      current.obtained = expire >= 0 && lease_time >= 0 ? expire - lease_time : ModifiedTime(path);
      found = current;
    }
  }
  return found;
}

bool IsUuid(std::string_view s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (s[i] == '-')) return false;
    if (!dash && !std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

bool Strip(std::string_view& s, std::string_view prefix, std::string_view suffix) {
  if (s.size() < prefix.size() + suffix.size() || s.substr(0, prefix.size()) != prefix ||
      s.substr(s.size() - suffix.size()) != suffix) {
    return false;
  }
  s = s.substr(prefix.size(), s.size() - prefix.size() - suffix.size());
  return true;
}

// `line` without `key` when it starts with it.
bool Value(std::string_view line, std::string_view key, std::string_view* out) {
  if (line.substr(0, key.size()) != key) return false;
  *out = Trim(line.substr(key.size()));
  return true;
}

}  // namespace

// ---- lease files

void LeaseFiles::Add(std::map<std::string, std::vector<Candidate>>& by, const std::string& key,
                     const std::string& path, Form form) {
  by[key].push_back({path, form});
}

LeaseFiles::LeaseFiles(const std::string& root) {
  const std::string networkd = Under(root, "/run/systemd/netif/leases");
  for (const std::string& name : ListDirectory(networkd)) {
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      Add(by_index_, name, networkd + "/" + name, Form::kKeyValue);
    }
  }
  for (const char* dir : {"/run/NetworkManager", "/var/lib/NetworkManager", "/var/lib/dhcp", "/var/lib/dhclient"}) {
    const std::string path = Under(root, dir);
    for (const std::string& file : ListDirectory(path)) {
      std::string_view rest = file;
      // NetworkManager: <client>-<connection uuid>-<interface>.lease.
      for (const auto& [prefix, form] : {std::pair{"internal-", Form::kKeyValue}, {"dhclient-", Form::kDhclient}}) {
        std::string_view s = rest;
        if (Strip(s, prefix, ".lease") && s.size() > 37 && s[36] == '-' && IsUuid(s.substr(0, 36))) {
          Add(by_name_, std::string(s.substr(37)), path + "/" + file, form);
        }
      }
      // dhclient: dhclient.<interface>.leases, dhclient-<interface>.leases, dhclient.leases.
      if (file == "dhclient.leases") {
        shared_.push_back(path + "/" + file);
      } else if (std::string_view s = rest; Strip(s, "dhclient.", ".leases") || Strip(s, "dhclient-", ".leases")) {
        if (!s.empty()) Add(by_name_, std::string(s), path + "/" + file, Form::kDhclient);
      }
    }
  }
}

std::optional<DhcpLease> LeaseFiles::Current(const LinkFacts& link, int64_t now) const {
  if (link.ipv4.empty()) return std::nullopt;
  struct Found {
    const std::string* path;
    Form form;
    bool per_link;
    int64_t time;
  };
  std::vector<Found> files;
  if (auto it = by_index_.find(std::to_string(link.index)); it != by_index_.end()) {
    for (const Candidate& c : it->second) files.push_back({&c.path, c.form, true, 0});
  }
  if (auto it = by_name_.find(link.name); it != by_name_.end()) {
    for (const Candidate& c : it->second) files.push_back({&c.path, c.form, true, 0});
  }
  for (const std::string& path : shared_) files.push_back({&path, Form::kDhclient, false, 0});
  for (Found& f : files) f.time = ModifiedTime(*f.path);
  std::stable_sort(files.begin(), files.end(), [](const Found& a, const Found& b) { return a.time > b.time; });
  for (const Found& f : files) {
    std::optional<DhcpLease> lease = f.form == Form::kKeyValue ? KeyValueLease(*f.path, link)
                                                               : DhclientLease(*f.path, link, now, f.per_link);
    if (lease) return lease;
  }
  return std::nullopt;
}

// ---- udev

UdevDatabase::UdevDatabase(const std::string& root) : dir_(Under(root, "/run/udev/data")) {
  for (const std::string& name : ListDirectory(dir_)) {
    if (name.size() > 1 && name[0] == 'n') {
      const int64_t index = Number(std::string_view(name).substr(1));
      if (index > 0 && index <= INT32_MAX && std::to_string(index) == name.substr(1)) {
        indexes_.push_back(static_cast<int32_t>(index));
      }
    }
  }
  std::sort(indexes_.begin(), indexes_.end());
}

std::string UdevDatabase::Describe(int32_t index, const std::string& driver, const std::string& bus_info) const {
  if (bus_info.empty() || bus_info == "N/A" || !std::binary_search(indexes_.begin(), indexes_.end(), index)) {
    return "";
  }
  const std::string text = ReadSmallFile(dir_ + "/n" + std::to_string(index));
  std::string_view vendor, model, path, udev_driver;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!Value(line, "E:ID_VENDOR_FROM_DATABASE=", &vendor) && !Value(line, "E:ID_MODEL_FROM_DATABASE=", &model) &&
        !Value(line, "E:ID_PATH=", &path)) {
      Value(line, "E:ID_NET_DRIVER=", &udev_driver);
    }
  }
  const bool same_hardware =
      path == bus_info || (path.size() > bus_info.size() && path.substr(path.size() - bus_info.size()) == bus_info &&
                           path[path.size() - bus_info.size() - 1] == '-');
  if (!same_hardware || (!udev_driver.empty() && udev_driver != driver)) return "";
  std::string both(vendor);
  if (!vendor.empty() && !model.empty()) both += ' ';
  both += model;
  return both;
}

// ---- the gathering

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

namespace {

// Every link's index, from the kernel's statistics dump, whose messages are a
// tenth of the size of full link messages. The kernel gives the loopback
// device index 1 in every namespace, and no other device its type. Empty when
// the kernel has no such dump.
std::vector<LinkFacts> ReadIndexes(Netlink& route) {
  std::vector<LinkFacts> links;
  if_stats_msg request{};
  request.family = AF_UNSPEC;
  request.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
  std::vector<Bytes> answer;
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

}  // namespace

std::vector<LinkFacts> ReadLinks(const Gather& what) {
  Netlink route(NETLINK_ROUTE);
  std::vector<LinkFacts> links;
  if (what.indexes_only) links = ReadIndexes(route);
  if (links.empty()) {
    ifinfomsg request{};
    request.ifi_family = AF_UNSPEC;
    std::vector<uint8_t> r = Request(RTM_GETLINK, NLM_F_DUMP, request);
    // Without counters the kernel may leave out the per-protocol statistics.
    const uint32_t mask = what.counters ? 0 : RTEXT_FILTER_SKIP_STATS;
    AddAttribute(r, IFLA_EXT_MASK, &mask, sizeof(mask));
    for (Bytes body : route.Ask(std::move(r), RTM_NEWLINK)) ReadLinkMessage(body, what, links);
  }
  std::sort(links.begin(), links.end(), [](const LinkFacts& a, const LinkFacts& b) { return a.index < b.index; });

  if (what.ipv4 || what.routes) {
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

  if (what.routes) {
    ReadGateways(route, links);
    const LeaseFiles leases("/");
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    for (LinkFacts& link : links) {
      if (link.arphrd != ARPHRD_LOOPBACK) link.lease = leases.Current(link, now);
    }
  }

  if (what.details || what.speed) {
    Ethtool ethtool;
    std::set<int> wireless;
    if (what.details) wireless = WirelessIndexes();
    std::optional<UdevDatabase> udev;
    for (LinkFacts& link : links) {
      if (what.speed && (link.flags & IFF_UP)) link.speed_mbps = ethtool.SpeedMbps(link.name);
      if (!what.details) continue;
      link.wireless = wireless.count(link.index) != 0;
      std::string driver, bus_info;
      if (ethtool.DriverInfo(link.name, &driver, &bus_info) && !bus_info.empty() && bus_info != "N/A") {
        if (!udev) udev.emplace("/");
        link.description = udev->Describe(link.index, driver, bus_info);
      }
      if (link.description.empty()) link.description = driver.empty() ? link.name : driver;
    }
  }
  return links;
}

}  // namespace hostprobe::linux_net
