#include "platform/linux/network_linux_facts.h"

#include <linux/if.h>
#include <linux/if_arp.h>

#include <algorithm>
#include <ctime>
#include <optional>
#include <set>
#include <string>

#include "platform/linux/dhcp_clients_linux.h"
#include "platform/linux/dhcp_leases_linux.h"
#include "platform/linux/link_details_linux.h"
#include "platform/linux/netlink_linux.h"
#include "platform/linux/rtnetlink_linux.h"
#include "platform/linux/udev_db_linux.h"

namespace hostprobe::linux_net {

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

std::vector<LinkFacts> ReadLinks(const Gather& what) {
  Netlink route(NETLINK_ROUTE);
  std::vector<LinkFacts> links;
  if (what.indexes_only) links = ReadIndexes(route);
  if (links.empty()) links = ReadLinkDump(route, what);
  std::sort(links.begin(), links.end(), [](const LinkFacts& a, const LinkFacts& b) { return a.index < b.index; });
  if (what.ipv4 || what.routes) ReadAddresses(route, links);

  if (what.routes) {
    ReadGateways(route, links);
    const LeaseFiles leases(LinuxRoot::Live());
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::optional<DhcpClients> clients;  // read only for a link without a lease
    for (LinkFacts& link : links) {
      if (link.arphrd == ARPHRD_LOOPBACK) continue;
      link.lease = leases.Current(link, now);
      if (link.lease) {
        link.dhcp_managed = true;
        continue;
      }
      if (!clients) clients.emplace(LinuxRoot::Live());
      link.dhcp_managed = clients->Manages(link, leases.HasDhcpcdFile(link.name));
    }
  }

  if (what.details || what.speed) {
    Ethtool ethtool;
    std::set<int> wireless;
    if (what.details) wireless = WirelessIndexes(LinuxRoot::Live());
    std::optional<UdevDatabase> udev;
    for (LinkFacts& link : links) {
      if (what.speed && (link.flags & IFF_UP)) link.speed_mbps = ethtool.SpeedMbps(link.name);
      if (!what.details) continue;
      link.wireless = wireless.count(link.index) != 0;
      std::string driver, bus_info;
      if (ethtool.DriverInfo(link.name, &driver, &bus_info) && !bus_info.empty() && bus_info != "N/A") {
        if (!udev) udev.emplace(LinuxRoot::Live());
        link.description = udev->Describe(link.index, driver, bus_info);
      }
      if (link.description.empty()) link.description = driver.empty() ? link.name : driver;
    }
  }
  return links;
}

}  // namespace hostprobe::linux_net
