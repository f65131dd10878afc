// What the live Linux network sources know about each interface, read from
// rtnetlink (links, IPv4 addresses, routes), sysfs, udev's database and the
// DHCP clients' lease files. No root needed.
#pragma once

#include <cstdint>
#include <functional>
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

// Every interface, loopback included, sorted by index. Throws Error
// (kPlatform) when the kernel cannot be asked.
std::vector<LinkFacts> ReadLinks();

// What the sources read the links with: ReadLinks, or a substitute in tests.
using LinkReader = std::function<std::vector<LinkFacts>()>;

// The live sources over `read_links`, called once per sizing and filling call.
std::unique_ptr<AdapterApi> MakeAdapterApi(LinkReader read_links);
std::unique_ptr<InterfaceTableApi> MakeInterfaceTableApi(LinkReader read_links);

// The record type number of a link: Ethernet 6, loopback 24, PPP and
// point-to-point 23, Wi-Fi 71, SLIP 28, token ring 9, tunnels 131, else 1.
int32_t LinkType(const LinkFacts& link);

}  // namespace hostprobe::linux_net
