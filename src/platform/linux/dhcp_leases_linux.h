// The DHCP clients' lease files: which lease a link holds now.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/link_facts_linux.h"
#include "platform/linux/root/linux_root.h"

namespace hostprobe::linux_net {

// The DHCP clients' lease files of the machine at `root`, each
// lease directory listed once when made: systemd-networkd's (by interface
// index), NetworkManager's (internal-<uuid>-<name>.lease and
// dhclient-<uuid>-<name>.lease), dhclient's own (dhclient.<name>.leases,
// dhclient-<name>.leases, dhclient.leases) and dhcpcd's (<name>.lease,
// dhcpcd-<name>.lease: the DHCP message itself).
class LeaseFiles {
 public:
  // `root` outlives the lease files.
  explicit LeaseFiles(const LinuxRoot& root);

  // The lease `link` holds now: the newest lease file naming the link whose
  // lease gives an address the link has now and, where the lease says when it
  // expires, has not expired at `now` (seconds since 1970).
  std::optional<DhcpLease> Current(const LinkFacts& link, int64_t now) const;

  // Whether dhcpcd keeps a lease file for the link, current or not.
  bool HasDhcpcdFile(const std::string& name) const;

 private:
  enum class Form { kKeyValue, kDhclient, kDhcpcd };
  struct Candidate {
    std::string path;
    Form form;
  };
  void Add(std::map<std::string, std::vector<Candidate>>& by_name, const std::string& key, const std::string& path,
           Form form);

  const LinuxRoot& root_;
  // Candidates (paths of the machine) by interface name, and networkd's by index.
  std::map<std::string, std::vector<Candidate>> by_name_;
  std::map<std::string, std::vector<Candidate>> by_index_;
  std::vector<std::string> shared_;  // dhclient.leases files, for every name
};

}  // namespace hostprobe::linux_net
