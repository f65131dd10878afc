// udev's database of network devices: the vendor and model of a link's hardware.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/root/linux_root.h"

namespace hostprobe::linux_net {

// udev's database of the machine at `root`, its directory listed once when
// made.
class UdevDatabase {
 public:
  // `root` outlives the database.
  explicit UdevDatabase(const LinuxRoot& root);

  // udev's vendor and model of the device at `index`, when its entry names
  // the hardware that the link's own namespace reports: its ID_PATH ends in
  // `bus_info` and its ID_NET_DRIVER, where given, is `driver`. Empty
  // otherwise (udev describes the links of its own namespace by index).
  std::string Describe(int32_t index, const std::string& driver, const std::string& bus_info) const;

 private:
  const LinuxRoot& root_;
  std::vector<int32_t> indexes_;  // sorted
};

}  // namespace hostprobe::linux_net
