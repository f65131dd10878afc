#include "platform/linux/udev_db_linux.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "platform/linux/text_linux.h"

namespace hostprobe::linux_net {
namespace {

// `line` without `key` when it starts with it.
bool Value(std::string_view line, std::string_view key, std::string_view* out) {
  if (!line.starts_with(key)) return false;
  *out = Trim(line.substr(key.size()));
  return true;
}

}  // namespace

namespace {
constexpr const char* kData = "/run/udev/data";
}  // namespace

UdevDatabase::UdevDatabase(const LinuxRoot& root) : root_(root) {
  for (const std::string& name : root.List(kData)) {
    if (name.size() > 1 && name[0] == 'n') {
      const int64_t index = Number(std::string_view(name).substr(1));
      if (index > 0 && index <= INT32_MAX && std::to_string(index) == name.substr(1)) {
        indexes_.push_back(static_cast<int32_t>(index));
      }
    }
  }
  std::sort(indexes_.begin(), indexes_.end());
}

std::string UdevDatabase::Describe(int32_t index, const std::string& driver, const std::string& bus_info) const {
  if (bus_info.empty() || bus_info == "N/A" || !std::binary_search(indexes_.begin(), indexes_.end(), index)) {
    return "";
  }
  const std::string text = root_.Read(std::string(kData) + "/n" + std::to_string(index)).value_or("");
  std::string_view vendor, model, path, udev_driver;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!Value(line, "E:ID_VENDOR_FROM_DATABASE=", &vendor) && !Value(line, "E:ID_MODEL_FROM_DATABASE=", &model) &&
        !Value(line, "E:ID_PATH=", &path)) {
      Value(line, "E:ID_NET_DRIVER=", &udev_driver);
    }
  }
  const bool same_hardware =
      path == bus_info || (path.size() > bus_info.size() && path.substr(path.size() - bus_info.size()) == bus_info &&
                           path[path.size() - bus_info.size() - 1] == '-');
  if (!same_hardware || (!udev_driver.empty() && udev_driver != driver)) return "";
  std::string both(vendor);
  if (!vendor.empty() && !model.empty()) both += ' ';
  both += model;
  return both;
}

}  // namespace hostprobe::linux_net
