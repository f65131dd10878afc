// Which links a DHCPv4 client manages, whether or not they hold a lease now:
// a client process running for the link (dhclient, dhcpcd, udhcpc), or
// systemd-networkd or NetworkManager configuring it with DHCPv4.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/link_facts_linux.h"
#include "platform/linux/root/linux_root.h"

namespace hostprobe::linux_net {


// The interface names a client process runs DHCPv4 for, from its command
// line split at NULs (dhcpcd's retitled processes, "dhcpcd: eth0 [ip4]", split
// at blanks too); "*" for a dhcpcd running for every link. Nothing for
// another program or a DHCPv6-only run.
std::set<std::string> ClientLinks(const std::vector<std::string>& argv);

class DhcpClients {
 public:
  // Reads the processes of `root`/proc once (those of another network
  // namespace left out where that can be told), and networkd's and
  // NetworkManager's runtime state under `root` when asked.
  explicit DhcpClients(const LinuxRoot& root);

  // `dhcpcd_file`: dhcpcd keeps a lease file for the link (a dhcpcd running
  // for every link manages only those it has leased at some time).
  bool Manages(const LinkFacts& link, bool dhcpcd_file) const;

 private:
  bool Networkd(const LinkFacts& link) const;
  bool NetworkManager(const LinkFacts& link) const;

  const LinuxRoot& root_;
  std::set<std::string> names_;  // links named by a client process; "*" a dhcpcd for all
};

}  // namespace hostprobe::linux_net
