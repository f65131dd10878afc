#include "platform/linux/dhcp_clients_linux.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "platform/linux/root/linux_root.h"
#include "platform/linux/text_linux.h"

namespace hostprobe::linux_net {
namespace {

std::string_view BaseName(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// dhclient's options that take a value (which is then no interface name).
bool DhclientTakesValue(std::string_view option) {
  static const std::set<std::string_view> with_value = {
      "-cf", "-lf", "-pf", "-sf", "-df", "-s", "-g", "-p", "-e", "--decline-wait-time", "--dad-wait-time",
      "--prefix-len-hint", "--address-prefix-len"};
  return with_value.count(option) != 0;
}

// A keyfile's (or networkd's unit file's) sections: section -> key -> value,
// the last assignment winning.
using Sections = std::map<std::string, std::map<std::string, std::string>>;
void ReadSections(const std::string& text, Sections& out) {
  std::string section;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::string_view l = Trim(line);
    if (l.empty() || l[0] == '#' || l[0] == ';') continue;
    if (l.front() == '[' && l.back() == ']') {
      section = l.substr(1, l.size() - 2);
      continue;
    }
    const auto eq = l.find('=');
    if (eq == std::string_view::npos) continue;
    out[section][std::string(Trim(l.substr(0, eq)))] = std::string(Trim(l.substr(eq + 1)));
  }
}

std::string Text(const LinuxRoot& root, const std::string& path) { return root.Read(path).value_or(""); }

// systemd's state files: KEY=VALUE lines.
std::map<std::string, std::string> ReadState(const LinuxRoot& root, const std::string& path) {
  Sections s;
  ReadSections(Text(root, path), s);
  return s[""];
}

}  // namespace

std::set<std::string> ClientLinks(const std::vector<std::string>& argv) {
  std::set<std::string> names;
  if (argv.empty()) return names;
  // dhcpcd retitles its processes: one argument "dhcpcd: eth0 [ip4]".
  std::vector<std::string> words;
  for (const std::string& a : argv) {
    std::istringstream split(a);
    for (std::string w; split >> w;) words.push_back(w);
  }
  if (words.empty()) return names;
  std::string program(BaseName(words[0]));
  if (!program.empty() && program.back() == ':') program.pop_back();
  const auto has = [&](std::string_view w) { return std::find(words.begin(), words.end(), w) != words.end(); };
  if (program == "dhclient") {
    if (has("-6")) return names;
    for (std::size_t i = 1; i < words.size(); ++i) {
      if (words[i][0] == '-') {
        if (DhclientTakesValue(words[i])) ++i;
        continue;
      }
      names.insert(words[i]);
    }
  } else if (program == "dhcpcd") {
    if (has("-6") || has("--ipv6only") || (has("[ip6]") && !has("[ip4]"))) return names;
    bool bracket = false;  // inside "[privileged proxy]" and the like
    for (std::size_t i = 1; i < words.size(); ++i) {
      const std::string& w = words[i];
      const bool inside = bracket || w[0] == '[';
      bracket = inside && w.back() != ']';
      if (inside || w[0] == '-') continue;
      // An address after an interface name ("[BPF ARP] eth0 10.0.0.5").
      if (w.find_first_not_of("0123456789.") == std::string::npos) continue;
      names.insert(w);
    }
    if (names.empty()) names.insert("*");
  } else if (program == "udhcpc") {
    std::string name = "eth0";  // its default
    for (std::size_t i = 1; i < words.size(); ++i) {
      const std::string& w = words[i];
      if ((w == "-i" || w == "--interface") && i + 1 < words.size()) {
        name = words[++i];
      } else if (w.rfind("--interface=", 0) == 0) {
        name = w.substr(12);
      } else if (w.rfind("-i", 0) == 0 && w.size() > 2 && w[2] != '-') {
        name = w.substr(2);
      }
    }
    names.insert(name);
  }
  return names;
}

DhcpClients::DhcpClients(const LinuxRoot& root) : root_(root) {
  const std::string proc = "/proc";
  const std::optional<struct stat> own = root.Stat(proc + "/self/ns/net");
  for (const std::string& pid : root.List(proc)) {
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    // Another network namespace's client runs for another link of the
    // same name; where the namespace cannot be seen, the client counts.
    if (own) {
      const std::optional<struct stat> theirs = root.Stat(proc + "/" + pid + "/ns/net");
      if (theirs && (theirs->st_ino != own->st_ino || theirs->st_dev != own->st_dev)) continue;
    }
    const std::string cmdline = Text(root, proc + "/" + pid + "/cmdline");
    std::vector<std::string> argv;
    for (std::size_t from = 0; from < cmdline.size();) {
      const auto nul = std::min(cmdline.find('\0', from), cmdline.size());
      argv.push_back(cmdline.substr(from, nul - from));
      from = nul + 1;
    }
    for (const std::string& name : ClientLinks(argv)) names_.insert(name);
  }
}

bool DhcpClients::Manages(const LinkFacts& link, bool dhcpcd_file) const {
  if (names_.count(link.name) || (names_.count("*") && dhcpcd_file)) return true;
  return Networkd(link) || NetworkManager(link);
}

// networkd's state of the link names the .network file (and drop-ins) it
// configures the link by; that file's DHCP= says whether DHCPv4 runs.
bool DhcpClients::Networkd(const LinkFacts& link) const {
  auto state = ReadState(root_, "/run/systemd/netif/links/" + std::to_string(link.index));
  const std::string admin = state["ADMIN_STATE"];
  if (state["NETWORK_FILE"].empty() || admin == "unmanaged" || admin == "linger") return false;
  Sections network;
  ReadSections(Text(root_, state["NETWORK_FILE"]), network);
  std::string dropins = state["NETWORK_FILE_DROPINS"];
  dropins.erase(std::remove(dropins.begin(), dropins.end(), '"'), dropins.end());
  std::istringstream each(dropins);
  for (std::string file; each >> file;) ReadSections(Text(root_, file), network);
  const std::string dhcp = network["Network"]["DHCP"];
  return dhcp == "yes" || dhcp == "true" || dhcp == "on" || dhcp == "1" || dhcp == "ipv4" || dhcp == "both";
}

// NetworkManager's state of the device names the connection it is activated
// with; that connection's ipv4.method "auto" (the default) is DHCPv4.
bool DhcpClients::NetworkManager(const LinkFacts& link) const {
  Sections device;
  ReadSections(Text(root_, "/run/NetworkManager/devices/" + std::to_string(link.index)), device);
  const std::string uuid = device["device"]["connection-uuid"];
  if (uuid.empty() || device["device"]["managed"] == "false") return false;
  for (const char* dir : {"/run/NetworkManager/system-connections", "/etc/NetworkManager/system-connections",
                          "/usr/lib/NetworkManager/system-connections"}) {
    const std::string path = dir;
    for (const std::string& file : root_.List(path)) {
      Sections connection;
      ReadSections(Text(root_, path + "/" + file), connection);
      if (connection["connection"]["uuid"] != uuid) continue;
      const auto ipv4 = connection.find("ipv4");
      if (ipv4 == connection.end() || !ipv4->second.count("method")) return true;
      return ipv4->second.at("method") == "auto";
    }
  }
  return false;
}

}  // namespace hostprobe::linux_net
