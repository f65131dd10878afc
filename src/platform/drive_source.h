// The drive source: the machine's drive list and each drive's properties, read
// on demand. Every read may fail: it then throws Error (kPlatform) naming the
// drive and the property. Texts are in the system's 8-bit code page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace hostprobe {

class Drive {
 public:
  virtual ~Drive() = default;
  virtual bool IsReady() = 0;
  virtual std::string DriveLetter() = 0;   // without colon; a mount point on Linux
  virtual std::string VolumeName() = 0;    // may be empty
  virtual int32_t DriveType() = 0;         // 0 unknown .. 5 RAM disk
  virtual std::string FileSystem() = 0;
  virtual int32_t SerialNumber() = 0;
  virtual std::string ShareName() = 0;     // empty for a local drive
  virtual std::string RootPath() = 0;      // the Path of the root folder
  virtual int64_t TotalSize() = 0;         // bytes
  virtual int64_t FreeSpace() = 0;         // bytes
};

// One opened drive list (a fresh look at the machine's drives).
class DriveList {
 public:
  virtual ~DriveList() = default;
  // The drives in the list's own order. Owned by the list.
  virtual std::vector<Drive*> Drives() = 0;
  // The list's count, read afresh.
  virtual int32_t Count() = 0;
};

class DriveSource {
 public:
  virtual ~DriveSource() = default;
  // Opens a fresh list; throws Error (kPlatform) when the list cannot be had.
  virtual std::unique_ptr<DriveList> Open() = 0;
};

}  // namespace hostprobe
