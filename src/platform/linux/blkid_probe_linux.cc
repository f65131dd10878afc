// libblkid's superblock probing, on the device alone.
#include "platform/linux/blkid_probe_linux.h"

#include <blkid.h>

namespace hostprobe::linux_drives {

std::optional<ProbedNames> ProbeFileSystem(const std::string& device) {
  blkid_probe probe = blkid_new_probe_from_filename(device.c_str());
  if (!probe) return std::nullopt;
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
  blkid_probe_enable_partitions(probe, 0);
  std::optional<ProbedNames> out;
  // 0: one file system found; 1: none; -1: an error; -2: ambiguous.
  if (blkid_do_safeprobe(probe) == 0) {
    auto value = [&](const char* name) {
      const char* data = nullptr;
      size_t size = 0;
      if (blkid_probe_lookup_value(probe, name, &data, &size) != 0 || !data) return std::string();
      // The size counts the terminating NUL.
      return std::string(data, size > 0 && data[size - 1] == '\0' ? size - 1 : size);
    };
    ProbedNames names{value("TYPE"), value("LABEL"), value("UUID")};
    if (!names.type.empty()) out = std::move(names);
  }
  blkid_free_probe(probe);
  return out;
}

}  // namespace hostprobe::linux_drives
