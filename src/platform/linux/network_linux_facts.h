// What the live Linux network sources know about each interface of this
// process's network namespace: rtnetlink (links, IPv4 addresses, routes and
// nexthop objects), ethtool ioctls and nl80211 on sockets of this namespace,
// and, where they provably describe the same link, udev's database and the
// DHCP clients' lease files. No root needed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/adapter_api.h"
#include "platform/interface_table_api.h"

namespace hostprobe::linux_net {

struct Ipv4 {
  std::string address;  // dotted decimal
  std::string mask;
};

struct DhcpLease {
  std::string server;  // dotted decimal, or empty when the lease names none
  int64_t obtained = 0;  // seconds since 1970
  int64_t expires = 0;
};

struct LinkFacts {
  int32_t index = 0;
  std::string name;
  uint16_t arphrd = 0;  // ARPHRD_* link type
  uint32_t flags = 0;   // IFF_* flags
  uint32_t mtu = 0;
  std::vector<uint8_t> address;  // link-layer address, empty where there is none
  uint8_t operstate = 0;         // IF_OPER_* (RFC 2863)
  bool wireless = false;
  uint64_t speed_mbps = 0;  // 0 when unknown
  std::string description;  // udev vendor and model, else the driver, else the name
  std::vector<Ipv4> ipv4;   // in the kernel's order
  std::string gateway;      // default route's gateway, or empty
  std::optional<DhcpLease> lease;
  // The kernel's 64-bit counters.
  uint64_t rx_bytes = 0, rx_packets = 0, rx_multicast = 0, rx_dropped = 0, rx_errors = 0;
  uint64_t tx_bytes = 0, tx_packets = 0, tx_dropped = 0, tx_errors = 0;
};

// What one gathering reads besides the links' names, indexes, types, flags,
// MTUs and addresses: each call of the sources asks only for what it shows.
struct Gather {
  // Only the links' indexes, loopback marked by its type (sizing calls).
  bool indexes_only = false;
  bool ipv4 = false;      // IPv4 addresses
  bool routes = false;    // gateways and DHCP leases (needs ipv4)
  bool details = false;   // description and wireless
  bool speed = false;     // link speed
  bool counters = false;  // the kernel's counters
};
inline constexpr Gather kAdapterSizing{.indexes_only = true, .ipv4 = true};
inline constexpr Gather kAdapterFilling{.ipv4 = true, .routes = true, .details = true};
inline constexpr Gather kTableSizing{.indexes_only = true};
inline constexpr Gather kTableFilling{.details = true, .speed = true, .counters = true};

// Every interface, loopback included, sorted by index; fields outside `what`
// stay empty. Throws Error (kPlatform) when the kernel cannot be asked.
std::vector<LinkFacts> ReadLinks(const Gather& what);

// What the sources read the links with: ReadLinks, or a substitute in tests.
using LinkReader = std::function<std::vector<LinkFacts>(const Gather&)>;

// The live sources over `read_links`, called once per sizing and filling call.
std::unique_ptr<AdapterApi> MakeAdapterApi(LinkReader read_links);
std::unique_ptr<InterfaceTableApi> MakeInterfaceTableApi(LinkReader read_links);

// The record type number of a link: Ethernet 6, loopback 24, PPP and
// point-to-point 23, Wi-Fi 71, SLIP 28, token ring 9, tunnels 131, else 1.
int32_t LinkType(const LinkFacts& link);

// The DHCP clients' lease files under `root` ("/" on the live machine), each
// lease directory listed once when made: systemd-networkd's (by interface
// index), NetworkManager's (internal-<uuid>-<name>.lease and
// dhclient-<uuid>-<name>.lease) and dhclient's own (dhclient.<name>.leases,
// dhclient-<name>.leases, dhclient.leases).
class LeaseFiles {
 public:
  explicit LeaseFiles(const std::string& root);

  // The lease `link` holds now: the newest lease file naming the link whose
  // lease gives an address the link has now and, where the lease says when it
  // expires, has not expired at `now` (seconds since 1970).
  std::optional<DhcpLease> Current(const LinkFacts& link, int64_t now) const;

 private:
  enum class Form { kKeyValue, kDhclient };
  struct Candidate {
    std::string path;
    Form form;
  };
  void Add(std::map<std::string, std::vector<Candidate>>& by_name, const std::string& key, const std::string& path,
           Form form);

  // Candidates by interface name, and networkd's by index.
  std::map<std::string, std::vector<Candidate>> by_name_;
  std::map<std::string, std::vector<Candidate>> by_index_;
  std::vector<std::string> shared_;  // dhclient.leases files, for every name
};

// udev's database under `root` ("/" live), its directory listed once when made.
class UdevDatabase {
 public:
  explicit UdevDatabase(const std::string& root);

  // udev's vendor and model of the device at `index`, when its entry names
  // the hardware that the link's own namespace reports: its ID_PATH ends in
  // `bus_info` and its ID_NET_DRIVER, where given, is `driver`. Empty
  // otherwise (udev describes the links of its own namespace by index).
  std::string Describe(int32_t index, const std::string& driver, const std::string& bus_info) const;

 private:
  std::string dir_;
  std::vector<int32_t> indexes_;  // sorted
};

}  // namespace hostprobe::linux_net
