// Drives through the Win32 calls the scripting run-time's file system object
// rests on; every property is read from the system at the moment it is asked.
#include <windows.h>
#include <winnetwk.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

// The roots "A:\", "C:\", ... in the system's order.
std::vector<std::wstring> LogicalDrives() {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    const DWORD n = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) {
      throw Error(ErrorKind::kPlatform, "cannot list the drives: " + SystemErrorText(GetLastError()));
    }
    if (n < buffer.size()) break;
    buffer.resize(n + 1);
  }
  std::vector<std::wstring> roots;
  for (const wchar_t* p = buffer.data(); *p; p += wcslen(p) + 1) roots.emplace_back(p);
  return roots;
}

class DriveWindows : public Drive {
 public:
  explicit DriveWindows(std::wstring root) : root_(std::move(root)) {}

  bool IsReady() override { return Volume(nullptr); }

  std::string DriveLetter() override { return WideToSystem(root_.substr(0, 1)); }

  std::string VolumeName() override {
    VolumeInfo v;
    Require(Volume(&v), "VolumeName");
    return WideToSystem(v.name);
  }

  int32_t DriveType() override {
    switch (GetDriveTypeW(root_.c_str())) {
      case DRIVE_REMOVABLE: return 1;
      case DRIVE_FIXED: return 2;
      case DRIVE_REMOTE: return 3;
      case DRIVE_CDROM: return 4;
      case DRIVE_RAMDISK: return 5;
      default: return 0;  // unknown, and a root that does not exist
    }
  }

  std::string FileSystem() override {
    VolumeInfo v;
    Require(Volume(&v), "FileSystem");
    return WideToSystem(v.file_system);
  }

  int32_t SerialNumber() override {
    VolumeInfo v;
    Require(Volume(&v), "SerialNumber");
    return static_cast<int32_t>(v.serial);
  }

  std::string ShareName() override {
    if (GetDriveTypeW(root_.c_str()) != DRIVE_REMOTE) return "";
    const std::wstring local = root_.substr(0, 2);
    std::vector<wchar_t> remote(MAX_PATH);
    DWORD length = static_cast<DWORD>(remote.size());
    DWORD status = WNetGetConnectionW(local.c_str(), remote.data(), &length);
    if (status == ERROR_MORE_DATA) {
      remote.resize(length);
      status = WNetGetConnectionW(local.c_str(), remote.data(), &length);
    }
    // A network drive that is not a mapped connection has no share name.
    if (status != NO_ERROR) return "";
    return WideToSystem(remote.data());
  }

  std::string RootPath() override {
    Require(GetFileAttributesW(root_.c_str()) != INVALID_FILE_ATTRIBUTES, "Path");
    return WideToSystem(root_);
  }

  int64_t TotalSize() override { return Space("TotalSize").total; }
  int64_t FreeSpace() override { return Space("FreeSpace").free; }

 private:
  struct VolumeInfo {
    std::wstring name;
    std::wstring file_system;
    DWORD serial = 0;
  };
  struct SpaceInfo {
    int64_t total = 0;
    int64_t free = 0;
  };

  bool Volume(VolumeInfo* info) {
    wchar_t name[MAX_PATH + 1] = {};
    wchar_t file_system[MAX_PATH + 1] = {};
    DWORD serial = 0;
    // No "insert a disk" dialog for an empty removable drive.
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const BOOL ok = GetVolumeInformationW(root_.c_str(), name, MAX_PATH + 1, &serial, nullptr, nullptr,
                                          file_system, MAX_PATH + 1);
    last_error_ = GetLastError();
    SetErrorMode(mode);
    if (ok && info) {
      info->name = name;
      info->file_system = file_system;
      info->serial = serial;
    }
    return ok != FALSE;
  }

  SpaceInfo Space(const char* property) {
    ULARGE_INTEGER available{}, total{}, free{};
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const BOOL ok = GetDiskFreeSpaceExW(root_.c_str(), &available, &total, &free);
    last_error_ = GetLastError();
    SetErrorMode(mode);
    Require(ok != FALSE, property);
    // The free space is what this user may use, as the file system object
    // reports it.
    return {static_cast<int64_t>(total.QuadPart), static_cast<int64_t>(available.QuadPart)};
  }

  void Require(bool ok, const char* property) {
    if (ok) return;
    throw Error(ErrorKind::kPlatform, "cannot read " + std::string(property) + " of drive " +
                                          WideToUtf8(root_.substr(0, 2)) + ": " + SystemErrorText(last_error_));
  }

  std::wstring root_;
  DWORD last_error_ = 0;
};

class DriveListWindows : public DriveList {
 public:
  DriveListWindows() {
    for (auto& root : LogicalDrives()) drives_.push_back(std::make_unique<DriveWindows>(std::move(root)));
  }
  std::vector<Drive*> Drives() override {
    std::vector<Drive*> out;
    for (auto& d : drives_) out.push_back(d.get());
    return out;
  }
  int32_t Count() override { return static_cast<int32_t>(LogicalDrives().size()); }

 private:
  std::vector<std::unique_ptr<DriveWindows>> drives_;
};

class DriveSourceWindows : public DriveSource {
 public:
  std::unique_ptr<DriveList> Open() override { return std::make_unique<DriveListWindows>(); }
};

}  // namespace

std::unique_ptr<DriveSource> MakeWindowsDriveSource() { return std::make_unique<DriveSourceWindows>(); }

}  // namespace hostprobe
