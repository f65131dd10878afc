#include <windows.h>

#include <string>

#include "platform/live/live.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {

HostFacts ReadHostFacts() {
  HostFacts facts;
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (GetComputerNameW(name, &length)) facts.host = WideToUtf8(name);

  // GetVersionEx lies to programs without a compatibility manifest entry;
  // RtlGetVersion does not.
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto rtl_get_version = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  facts.os = "Windows";
  if (rtl_get_version && rtl_get_version(&v) == 0) {
    facts.os += " " + std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + "." +
                std::to_string(v.dwBuildNumber);
  }
#if defined(_WIN64)
  facts.os += " x86_64";
#else
  facts.os += " i686";
#endif
  using WineGetVersionFn = const char*(CDECL*)();
  auto wine_get_version = reinterpret_cast<WineGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
  if (wine_get_version) facts.os += std::string(" (Wine ") + wine_get_version() + ")";
  return facts;
}

}  // namespace hostprobe
