#include "platform/linux/link_details_linux.h"

#include <linux/ethtool.h>
#include <linux/genetlink.h>
#include <linux/if.h>
#include <linux/nl80211.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/error.h"
#include "platform/linux/netlink_linux.h"

namespace hostprobe::linux_net {

Ethtool::Ethtool() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  if (fd_ < 0) fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

Ethtool::~Ethtool() {
  if (fd_ >= 0) close(fd_);
}

bool Ethtool::DriverInfo(const std::string& name, std::string* driver, std::string* bus_info) {
  ethtool_drvinfo info{};
  info.cmd = ETHTOOL_GDRVINFO;
  if (!Call(name, &info)) return false;
  driver->assign(info.driver, strnlen(info.driver, sizeof(info.driver)));
  bus_info->assign(info.bus_info, strnlen(info.bus_info, sizeof(info.bus_info)));
  return true;
}

uint64_t Ethtool::SpeedMbps(const std::string& name) {
  // ethtool_link_settings and its three mode masks of nwords 32-bit words.
  alignas(ethtool_link_settings) uint8_t buffer[sizeof(ethtool_link_settings) + 3 * 127 * 4];
  auto* settings = reinterpret_cast<ethtool_link_settings*>(buffer);
  uint32_t speed = 0;
  bool known = false;
  if (nwords_ == 0) {  // the kernel's size of the mode masks, learned once
    std::memset(buffer, 0, sizeof(buffer));
    settings->cmd = ETHTOOL_GLINKSETTINGS;
    if (Call(name, buffer) && settings->link_mode_masks_nwords < 0) {
      nwords_ = static_cast<int8_t>(std::min(-settings->link_mode_masks_nwords, 127));
    }
  }
  if (nwords_ > 0) {
    std::memset(buffer, 0, sizeof(buffer));
    settings->cmd = ETHTOOL_GLINKSETTINGS;
    settings->link_mode_masks_nwords = nwords_;
    if (Call(name, buffer) && settings->link_mode_masks_nwords == nwords_) {
      speed = settings->speed;
      known = true;
    }
  }
  if (!known) {
    ethtool_cmd legacy{};
    legacy.cmd = ETHTOOL_GSET;
    if (Call(name, &legacy)) speed = ethtool_cmd_speed(&legacy);
  }
  return speed == static_cast<uint32_t>(SPEED_UNKNOWN) || speed > INT32_MAX ? 0 : speed;
}

bool Ethtool::Call(const std::string& name, void* data) {
  if (fd_ < 0 || name.size() >= IFNAMSIZ) return false;
  ifreq request{};
  std::memcpy(request.ifr_name, name.data(), name.size());
  request.ifr_data = static_cast<char*>(data);
  return ioctl(fd_, SIOCETHTOOL, &request) == 0;
}

// The indexes of this namespace's wireless interfaces, from nl80211.
std::set<int> WirelessIndexes(const LinuxRoot& root) {
  std::set<int> indexes;
  // Wireless devices of every namespace are listed under /sys/class/ieee80211
  // (a class that is not per namespace): where sysfs shows none, there are none
  // to ask about, and asking for the family would only load its module.
  if (root.Exists("/sys/class") && root.List("/sys/class/ieee80211").empty()) return indexes;
  try {
    Netlink generic(NETLINK_GENERIC);
    genlmsghdr family_request{};
    family_request.cmd = CTRL_CMD_GETFAMILY;
    family_request.version = 1;
    std::vector<uint8_t> r = Request(GENL_ID_CTRL, 0, family_request);
    AddAttribute(r, CTRL_ATTR_FAMILY_NAME, NL80211_GENL_NAME, sizeof(NL80211_GENL_NAME));
    uint16_t family = 0;
    for (Bytes body : generic.Ask(r, GENL_ID_CTRL)) {
      const auto attrs = Parse<CTRL_ATTR_MAX + 1>(body, GENL_HDRLEN);
      if (attrs.has(CTRL_ATTR_FAMILY_ID)) family = attrs.Get<uint16_t>(CTRL_ATTR_FAMILY_ID, "CTRL_ATTR_FAMILY_ID");
    }
    if (family == 0) return indexes;
    genlmsghdr interfaces{};
    interfaces.cmd = NL80211_CMD_GET_INTERFACE;
    for (Bytes body : generic.Ask(Request(family, NLM_F_DUMP, interfaces), family)) {
      const auto attrs = Parse<NL80211_ATTR_IFINDEX + 1>(body, GENL_HDRLEN);
      if (attrs.has(NL80211_ATTR_IFINDEX)) indexes.insert(attrs.Get<int>(NL80211_ATTR_IFINDEX, "NL80211_ATTR_IFINDEX"));
    }
  } catch (const Error&) {
    // No nl80211 in this kernel or namespace: no wireless interface.
  }
  return indexes;
}

}  // namespace hostprobe::linux_net
