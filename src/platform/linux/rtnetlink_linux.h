// rtnetlink queries of this process's namespace: links, IPv4 addresses,
// routes and nexthop objects.
#pragma once

#include <vector>

#include "platform/linux/link_facts_linux.h"
#include "platform/linux/netlink_linux.h"

namespace hostprobe::linux_net {

// Every link's index, from the kernel's statistics dump, whose messages are a
// tenth of the size of full link messages. The kernel gives the loopback
// device index 1 in every namespace, and no other device its type. Empty when
// the kernel has no such dump.
std::vector<LinkFacts> ReadIndexes(Netlink& route);

// Every link: index, name, type, flags, MTU, address, operational state, and
// the counters where `what` asks for them, in the kernel's order.
std::vector<LinkFacts> ReadLinkDump(Netlink& route, const Gather& what);

// The IPv4 addresses of `links` (sorted by index), in the kernel's order.
void ReadAddresses(Netlink& route, std::vector<LinkFacts>& links);

// Each link's gateway: that of its default route (main table) with the
// lowest metric, through a plain gateway, a multipath route or a nexthop
// object (a group giving each of its members' links a gateway). `links` is
// sorted by index.
void ReadGateways(Netlink& route, std::vector<LinkFacts>& links);

}  // namespace hostprobe::linux_net
