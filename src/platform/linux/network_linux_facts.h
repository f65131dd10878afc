// What the live Linux network sources know about each interface of this
// process's network namespace: rtnetlink (links, IPv4 addresses, routes and
// nexthop objects), ethtool ioctls and nl80211 on sockets of this namespace,
// and, where they provably describe the same link, udev's database and the
// DHCP clients' lease files. No root needed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/adapter_api.h"
#include "platform/interface_table_api.h"
#include "platform/linux/link_facts_linux.h"

namespace hostprobe::linux_net {

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

}  // namespace hostprobe::linux_net
