#include <windows.h>

#include <string>

#include "platform/error.h"
#include "platform/live/live.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

using ProbeFn = int16_t(__stdcall*)();

// Takes the current directory (and, where the system can, PATH) out of the
// library search before the library is loaded by name.
void SafeLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default) set_default(0x00001000 /* LOAD_LIBRARY_SEARCH_DEFAULT_DIRS */);
  SetDllDirectoryW(L"");
}

class DllProbeLoader : public ProbeLoader {
 public:
  explicit DllProbeLoader(std::wstring library) : library_(std::move(library)) {}

  // The library stays loaded for the rest of the process: the routines handed
  // out may be called at any later time.
  ProbeTable Load() override {
    const std::string name = WideToUtf8(library_);
    SafeLibrarySearch();
    const UINT mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const HMODULE module = LoadLibraryW(library_.c_str());
    const DWORD error = GetLastError();
    SetErrorMode(mode);
    if (!module) throw Error(ErrorKind::kProbeLibrary, "cannot load " + name + ": " + SystemErrorText(error));
    ProbeTable table;
    for (int i = 0; i < kProbeCount; ++i) {
      const char* routine = ProbeName(static_cast<Probe>(i));
      const auto fn = reinterpret_cast<ProbeFn>(reinterpret_cast<void*>(GetProcAddress(module, routine)));
      if (!fn) throw Error(ErrorKind::kProbeLibrary, name + " has no routine " + routine);
      table[static_cast<std::size_t>(i)] = [fn] { return fn(); };
    }
    return table;
  }

 private:
  std::wstring library_;
};

}  // namespace

std::unique_ptr<ProbeLoader> MakeWindowsProbeLoader(const std::wstring& library) {
  return std::make_unique<DllProbeLoader>(library);
}

Platform MakeLivePlatform() {
  Platform p;
  p.adapters = MakeWindowsAdapterApi();
  p.interfaces = MakeWindowsInterfaceTableApi();
  p.drives = MakeWindowsDriveSource();
  p.probes = MakeWindowsProbeLoader();
  p.log = MakeLogFile();
  p.clock = MakeClock();
  return p;
}

}  // namespace hostprobe
