// Drives through the Win32 calls the scripting run-time's file system object
// rests on. Each listing asks every drive once, all drives at the same time
// and within one bound, so that a drive that never answers shows as not ready
// instead of holding up the run.
#include <windows.h>
#include <winnetwk.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
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

// What one listing learnt of a drive: every call made once, in a worker
// thread of its own, so that a drive that does not answer (a network drive
// whose server is gone waits for the redirector's time-out on every call)
// holds up nothing but that thread.
struct DriveFacts {
  bool typed = false;  // the steps reached
  UINT type = DRIVE_UNKNOWN;
  bool asked = false;
  BOOL volume_ok = FALSE;
  DWORD volume_error = 0;
  std::wstring name, file_system;
  DWORD serial = 0;
  BOOL space_ok = FALSE;
  DWORD space_error = 0;
  ULARGE_INTEGER available{}, total{};
  bool shared = false;
  std::wstring share;
  bool attributes_ok = false;
  DWORD attributes_error = 0;
};

// One listing's workers: each fills its drive's facts under the mutex; the
// lister waits for all of them up to one shared bound and then copies what
// is there. A worker still waiting keeps only this shared state alive; its
// thread is detached, and ends with the process.
struct Listing {
  std::mutex mutex;
  std::condition_variable done;
  std::size_t pending = 0;
  std::vector<DriveFacts> facts;
};

void AskDrive(const std::shared_ptr<Listing>& listing, std::size_t index, const std::wstring& root) {
  auto publish = [&](auto&& fill) {
    std::lock_guard<std::mutex> lock(listing->mutex);
    fill(listing->facts[index]);
  };
  // No "insert a disk" dialog for an empty removable drive (the mode is
  // the thread's own).
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  const UINT type = GetDriveTypeW(root.c_str());
  publish([&](DriveFacts& f) {
    f.typed = true;
    f.type = type;
  });
  wchar_t name[MAX_PATH + 1] = {};
  wchar_t file_system[MAX_PATH + 1] = {};
  DWORD serial = 0;
  const BOOL volume_ok =
      GetVolumeInformationW(root.c_str(), name, MAX_PATH + 1, &serial, nullptr, nullptr, file_system, MAX_PATH + 1);
  const DWORD volume_error = GetLastError();
  ULARGE_INTEGER available{}, total{}, free{};
  BOOL space_ok = FALSE;
  DWORD space_error = 0;
  if (volume_ok) {
    space_ok = GetDiskFreeSpaceExW(root.c_str(), &available, &total, &free);
    space_error = GetLastError();
  }
  std::wstring share;
  if (type == DRIVE_REMOTE) {
    const std::wstring local = root.substr(0, 2);
    std::vector<wchar_t> remote(MAX_PATH);
    DWORD length = static_cast<DWORD>(remote.size());
    DWORD status = WNetGetConnectionW(local.c_str(), remote.data(), &length);
    if (status == ERROR_MORE_DATA) {
      remote.resize(length);
      status = WNetGetConnectionW(local.c_str(), remote.data(), &length);
    }
    // A network drive that is not a mapped connection has no share name.
    if (status == NO_ERROR) share = remote.data();
  }
  const bool attributes_ok = GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
  const DWORD attributes_error = GetLastError();
  publish([&](DriveFacts& f) {
    f.asked = true;
    f.volume_ok = volume_ok;
    f.volume_error = volume_error;
    f.name = name;
    f.file_system = file_system;
    f.serial = serial;
    f.space_ok = space_ok;
    f.space_error = space_error;
    f.available = available;
    f.total = total;
    f.shared = true;
    f.share = std::move(share);
    f.attributes_ok = attributes_ok;
    f.attributes_error = attributes_error;
  });
  std::lock_guard<std::mutex> lock(listing->mutex);
  if (--listing->pending == 0) listing->done.notify_all();
}

// The facts of every root, each asked in its own thread, all within `bound`.
std::vector<DriveFacts> AskDrives(const std::vector<std::wstring>& roots, std::chrono::milliseconds bound) {
  auto listing = std::make_shared<Listing>();
  listing->facts.resize(roots.size());
  const auto deadline = std::chrono::steady_clock::now() + bound;
  for (std::size_t i = 0; i < roots.size(); ++i) {
    {
      std::lock_guard<std::mutex> lock(listing->mutex);
      ++listing->pending;
    }
    try {
      std::thread(AskDrive, listing, i, roots[i]).detach();
    } catch (const std::system_error&) {
      AskDrive(listing, i, roots[i]);  // no thread to be had: asked here
    }
  }
  std::unique_lock<std::mutex> lock(listing->mutex);
  listing->done.wait_until(lock, deadline, [&] { return listing->pending == 0; });
  return listing->facts;
}

class DriveWindows : public Drive {
 public:
  DriveWindows(std::wstring root, DriveFacts facts) : root_(std::move(root)), f_(std::move(facts)) {}

  // A drive that did not answer within the listing's bound is not ready.
  bool IsReady() override { return f_.asked && f_.volume_ok; }

  std::string DriveLetter() override { return WideToSystem(root_.substr(0, 1)); }

  std::string VolumeName() override {
    RequireVolume("VolumeName");
    return WideToSystem(f_.name);
  }

  int32_t DriveType() override {
    switch (f_.typed ? f_.type : DRIVE_UNKNOWN) {
      case DRIVE_REMOVABLE: return 1;
      case DRIVE_FIXED: return 2;
      case DRIVE_REMOTE: return 3;
      case DRIVE_CDROM: return 4;
      case DRIVE_RAMDISK: return 5;
      default: return 0;  // unknown, and a root that does not exist
    }
  }

  std::string FileSystem() override {
    RequireVolume("FileSystem");
    return WideToSystem(f_.file_system);
  }

  int32_t SerialNumber() override {
    RequireVolume("SerialNumber");
    return static_cast<int32_t>(f_.serial);
  }

  std::string ShareName() override { return WideToSystem(f_.share); }

  std::string RootPath() override {
    Require(f_.asked && f_.attributes_ok, "Path", f_.attributes_error);
    return WideToSystem(root_);
  }

  // The free space is what this user may use, as the file system object
  // reports it.
  int64_t TotalSize() override {
    RequireSpace("TotalSize");
    return static_cast<int64_t>(f_.total.QuadPart);
  }
  int64_t FreeSpace() override {
    RequireSpace("FreeSpace");
    return static_cast<int64_t>(f_.available.QuadPart);
  }

 private:
  void RequireVolume(const char* property) { Require(f_.asked && f_.volume_ok, property, f_.volume_error); }
  void RequireSpace(const char* property) {
    RequireVolume(property);
    Require(f_.space_ok, property, f_.space_error);
  }

  void Require(bool ok, const char* property, DWORD error) {
    if (ok) return;
    const std::string why = f_.asked ? SystemErrorText(error) : "no answer within " + std::to_string(kBound.count()) + " ms";
    throw Error(ErrorKind::kPlatform,
                "cannot read " + std::string(property) + " of drive " + WideToUtf8(root_.substr(0, 2)) + ": " + why);
  }

 public:
  static constexpr std::chrono::milliseconds kBound{2000};

 private:
  std::wstring root_;
  DriveFacts f_;
};

class DriveListWindows : public DriveList {
 public:
  DriveListWindows() {
    const std::vector<std::wstring> roots = LogicalDrives();
    std::vector<DriveFacts> facts = AskDrives(roots, DriveWindows::kBound);
    for (std::size_t i = 0; i < roots.size(); ++i) {
      drives_.push_back(std::make_unique<DriveWindows>(roots[i], std::move(facts[i])));
    }
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
