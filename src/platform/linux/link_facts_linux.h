// What the live Linux network sources know about one interface of this
// process's network namespace, and what one gathering reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hostprobe::linux_net {

struct Ipv4 {
  std::string address;  // dotted decimal
  std::string mask;
};

struct DhcpLease {
  std::string server;  // dotted decimal, or empty when the lease names none
  int64_t obtained = 0;  // seconds since 1970
  int64_t expires = 0;
  std::vector<std::string> wins = {};  // NetBIOS name servers (option 44), in order
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
  std::optional<DhcpLease> lease;  // the lease the link holds now
  bool dhcp_managed = false;       // a DHCPv4 client manages the link, lease or not
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

}  // namespace hostprobe::linux_net
