// What ethtool and nl80211 tell of this namespace's links: driver, bus
// address, speed, and which links are wireless.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "platform/linux/root/linux_root.h"

namespace hostprobe::linux_net {

// ethtool ioctls on a socket of this namespace: they name the device that
// netlink reported, whatever sysfs is mounted.
class Ethtool {
 public:
  Ethtool();
  ~Ethtool();
  Ethtool(const Ethtool&) = delete;
  Ethtool& operator=(const Ethtool&) = delete;

  // The driver's name and the bus address of the device's hardware (empty
  // or "N/A" for virtual links); false when the link has no driver information.
  bool DriverInfo(const std::string& name, std::string* driver, std::string* bus_info);

  // The link's speed in Mb/s, 0 when unknown.
  uint64_t SpeedMbps(const std::string& name);

 private:
  bool Call(const std::string& name, void* data);

  int fd_;
  int8_t nwords_ = 0;
};

// The indexes of this namespace's wireless interfaces, from nl80211 (asked
// only where `root`'s sysfs shows wireless devices).
std::set<int> WirelessIndexes(const LinuxRoot& root);

}  // namespace hostprobe::linux_net
