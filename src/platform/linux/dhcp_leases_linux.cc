#include "platform/linux/dhcp_leases_linux.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <sstream>
#include <string_view>

#include "platform/hex_digit.h"
#include "platform/linux/dhcp_message_linux.h"
#include "platform/linux/text_linux.h"

namespace hostprobe::linux_net {
namespace {

int64_t ModifiedTime(const LinuxRoot& root, const std::string& path) {
  const std::optional<struct stat> st = root.Stat(path);
  return st ? static_cast<int64_t>(st->st_mtime) : 0;
}

bool HasAddress(const LinkFacts& link, std::string_view address) {
  return std::any_of(link.ipv4.begin(), link.ipv4.end(), [&](const Ipv4& a) { return a.address == address; });
}

// A lease in the KEY=VALUE form of systemd-networkd and NetworkManager's
// internal client: ADDRESS, SERVER_ADDRESS and LIFETIME, counted from the
// file's time. It says nothing of when it expires: the address still on the
// link is what keeps it current.
std::optional<DhcpLease> KeyValueLease(const LinuxRoot& root, const std::string& path, const LinkFacts& link) {
  const std::string text = root.Read(path).value_or("");
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
  lease.obtained = ModifiedTime(root, path);
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
std::optional<DhcpLease> DhclientLease(const LinuxRoot& root, const std::string& path, const LinkFacts& link, int64_t now,
                                       bool per_link) {
  const std::string text = root.Read(path).value_or("");
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
      if (option == "netbios-name-servers") {
        // "10.0.0.9,10.0.0.10" (dhclient writes no blanks in the list)
        current.wins.clear();
        for (std::size_t from = 0; from < value.size();) {
          const auto comma = std::min(value.find(',', from), value.size());
          if (comma > from) current.wins.push_back(value.substr(from, comma - from));
          from = comma + 1;
        }
      }
    } else if (first == "expire") {
      expire = DhclientTime(words);
    } else if (first == "}") {
      open = false;
      const bool ours = interface.empty() ? per_link : interface == link.name;
      if (!ours || address.empty() || !HasAddress(link, address) || (expire >= 0 && expire <= now)) continue;
      current.expires = expire >= 0 ? expire : 0;
      current.obtained = expire >= 0 && lease_time >= 0 ? expire - lease_time : ModifiedTime(root, path);
      found = current;
    }
  }
  return found;
}

// dhcpcd's lease file: the server's DHCPACK as received, the file's time
// being when it came. Current while the link has its address and its lease
// time has not run out.
std::optional<DhcpLease> DhcpcdLease(const LinuxRoot& root, const std::string& path, const LinkFacts& link,
                                     int64_t now) {
  const auto bytes = root.Read(path);
  if (!bytes) return std::nullopt;
  const auto message = ParseDhcpMessage(*bytes);
  if (!message || !HasAddress(link, message->your_address)) return std::nullopt;
  DhcpLease lease;
  lease.server = message->server;
  lease.wins = message->wins;
  lease.obtained = ModifiedTime(root, path);
  if (message->lease_seconds >= 0) {
    lease.expires = lease.obtained + message->lease_seconds;
    if (message->lease_seconds != 0xFFFFFFFFll && lease.expires <= now) return std::nullopt;
  }
  return lease;
}

bool IsUuid(std::string_view s) {
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (s[i] == '-')) return false;
    if (!dash && HexDigitValue(s[i]) < 0) return false;
  }
  return true;
}

bool Strip(std::string_view& s, std::string_view prefix, std::string_view suffix) {
  if (s.size() < prefix.size() + suffix.size() || !s.starts_with(prefix) || !s.ends_with(suffix)) {
    return false;
  }
  s = s.substr(prefix.size(), s.size() - prefix.size() - suffix.size());
  return true;
}

}  // namespace

void LeaseFiles::Add(std::map<std::string, std::vector<Candidate>>& by, const std::string& key,
                     const std::string& path, Form form) {
  by[key].push_back({path, form});
}

LeaseFiles::LeaseFiles(const LinuxRoot& root) : root_(root) {
  const std::string networkd = "/run/systemd/netif/leases";
  for (const std::string& name : root.List(networkd)) {
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      Add(by_index_, name, networkd + "/" + name, Form::kKeyValue);
    }
  }
  // dhcpcd: <interface>.lease (dhcpcd 9 and later), dhcpcd-<interface>.lease
  // (before); <interface>.lease6 is DHCPv6's.
  for (const char* dir : {"/var/lib/dhcpcd", "/var/lib/dhcpcd5", "/var/db/dhcpcd"}) {
    const std::string path = dir;
    for (const std::string& file : root.List(path)) {
      std::string_view s = file;
      if (Strip(s, "dhcpcd-", ".lease") || Strip(s, "", ".lease")) {
        if (!s.empty()) Add(by_name_, std::string(s), path + "/" + file, Form::kDhcpcd);
      }
    }
  }
  for (const char* dir : {"/run/NetworkManager", "/var/lib/NetworkManager", "/var/lib/dhcp", "/var/lib/dhclient"}) {
    const std::string path = dir;
    for (const std::string& file : root.List(path)) {
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
  for (Found& f : files) f.time = ModifiedTime(root_, *f.path);
  std::stable_sort(files.begin(), files.end(), [](const Found& a, const Found& b) { return a.time > b.time; });
  for (const Found& f : files) {
    std::optional<DhcpLease> lease = f.form == Form::kKeyValue ? KeyValueLease(root_, *f.path, link)
                                     : f.form == Form::kDhcpcd ? DhcpcdLease(root_, *f.path, link, now)
                                                               : DhclientLease(root_, *f.path, link, now, f.per_link);
    if (lease) return lease;
  }
  return std::nullopt;
}

bool LeaseFiles::HasDhcpcdFile(const std::string& name) const {
  const auto it = by_name_.find(name);
  return it != by_name_.end() &&
         std::any_of(it->second.begin(), it->second.end(), [](const Candidate& c) { return c.form == Form::kDhcpcd; });
}

}  // namespace hostprobe::linux_net
