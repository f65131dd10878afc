// The probes of vmware.dll: CPUID, the firmware's SMBIOS table, the adapter
// list and the PCI bus, the VMware backdoor and (32-bit only) the Virtual PC
// instruction. The two instruction probes fault on ordinary hardware; a
// vectored exception handler steps over the faulting instruction so that the
// probe answers 0 instead of crashing the program. A host is never a guest:
// Hyper-V's root partition (Windows with memory integrity, Credential Guard
// or Hyper-V) and a VMware host's own virtual adapters answer 0.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <setupapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "probes/cpuid.h"
#include "probes/probes.h"
#include "probes/smbios.h"
#include "probes/vmware_mac.h"

namespace {

using namespace hostprobe::probes;

SmbiosSystem FirmwareSystem() {
  const DWORD signature = 0x52534D42;  // 'RSMB'
  const UINT size = GetSystemFirmwareTable(signature, 0, nullptr, 0);
  if (size == 0) return {};
  std::vector<uint8_t> raw(size);
  if (GetSystemFirmwareTable(signature, 0, raw.data(), size) != size || size < 8) return {};
  // RawSMBIOSData: four version bytes, the 32-bit table length, the table.
  const uint32_t length = raw[4] | (raw[5] << 8) | (raw[6] << 16) | (static_cast<uint32_t>(raw[7]) << 24);
  const std::size_t avail = std::min<std::size_t>(length, size - 8);
  return ReadSmbiosSystem(std::span<const uint8_t>(raw.data() + 8, avail));
}

bool FirmwareNamesVmware() {
  const SmbiosSystem s = FirmwareSystem();
  return NamesVmware(s.manufacturer) || NamesVmware(s.product);
}

bool VmwareMacAddress() {
  ULONG length = 0;
  IP_ADAPTER_INFO probe;
  GetAdaptersInfo(&probe, &length);
  if (length == 0) return false;
  std::vector<uint8_t> buffer(length);
  auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (GetAdaptersInfo(first, &length) != ERROR_SUCCESS) return false;
  std::vector<std::vector<uint8_t>> macs;
  for (const IP_ADAPTER_INFO* a = first; a; a = a->Next) {
    const std::size_t n = std::min<std::size_t>(a->AddressLength, sizeof a->Address);
    macs.emplace_back(a->Address, a->Address + n);
  }
  return AnyVmwareGuestMac(macs);
}

bool VmwarePciDevice() {
  const HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"PCI", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; !found && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t ids[1024] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE*>(ids), sizeof ids - sizeof(wchar_t),
                                           nullptr)) {
      continue;
    }
    for (const wchar_t* id = ids; *id && !found; id += wcslen(id) + 1) {
      std::wstring upper(id);
      for (auto& c : upper) c = static_cast<wchar_t>(towupper(c));
      found = upper.find(L"VEN_15AD") != std::wstring::npos;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return found;
}

// The fault guard. While a thread runs a guarded instruction, a fault of that
// instruction is stepped over and recorded.
std::atomic<DWORD> g_guarded_thread{0};
std::atomic<bool> g_faulted{false};

#if defined(_M_X64) || defined(__x86_64__)
#define HP_IP(ctx) ((ctx)->Rip)
#else
#define HP_IP(ctx) ((ctx)->Eip)
#endif

LONG CALLBACK FaultGuard(EXCEPTION_POINTERS* info) {
  if (g_guarded_thread.load() != GetCurrentThreadId()) return EXCEPTION_CONTINUE_SEARCH;
  const DWORD code = info->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_PRIV_INSTRUCTION &&
      code != EXCEPTION_ILLEGAL_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT* ctx = info->ContextRecord;
  const auto* ip = reinterpret_cast<const uint8_t*>(HP_IP(ctx));
  if (ip[0] == 0xED) {  // in eax, dx
    HP_IP(ctx) += 1;
  } else if (ip[0] == 0x0F && ip[1] == 0x3F) {  // the Virtual PC call, 4 bytes
    HP_IP(ctx) += 4;
  } else {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  g_faulted = true;
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Runs `body` with the guard in place; returns false when it faulted.
template <typename F>
bool Guarded(F body) {
  PVOID handler = AddVectoredExceptionHandler(1, FaultGuard);
  if (!handler) return false;
  g_faulted = false;
  g_guarded_thread = GetCurrentThreadId();
  body();
  g_guarded_thread = 0;
  RemoveVectoredExceptionHandler(handler);
  return !g_faulted.load();
}

// The backdoor's GETVERSION (command 10 on port 0x5658): the version in EAX
// when EBX echoes the magic number.
int16_t BackdoorVersion() {
  uint32_t a = 0x564D5868, b = 0, c = 10, d = 0x5658;
  const bool clean = Guarded([&] {
    asm volatile("inl %%dx, %%eax" : "+a"(a), "+b"(b), "+c"(c), "+d"(d) : : "memory");
  });
  return (clean && b == 0x564D5868) ? static_cast<int16_t>(a) : 0;
}

// Virtual PC answers the instruction 0F 3F 07 0B; elsewhere it is invalid.
bool VirtualPcInstruction() {
#if defined(__i386__)
  uint32_t b = 0;
  const bool clean = Guarded([&] {
    asm volatile(
        "movl $1, %%eax\n\t"
        ".byte 0x0F, 0x3F, 0x07, 0x0B"
        : "+b"(b)
        :
        : "eax", "memory");
  });
  return clean && b == 0;
#else
  return false;  // no 64-bit guests on Virtual PC
#endif
}

}  // namespace

extern "C" {

int16_t __stdcall IsInsideVPC(void) {
  if (HypervisorVendor() == "Microsoft Hv" && !HyperVRootPartition()) return 1;
  const SmbiosSystem s = FirmwareSystem();
  if (s.manufacturer == "Microsoft Corporation" && s.product == "Virtual Machine") return 1;
  return VirtualPcInstruction();
}

int16_t __stdcall IsInsideVMWare(void) { return HypervisorVendor() == "VMwareVMware"; }

int16_t __stdcall IsInsideVMWare2(void) { return FirmwareNamesVmware(); }

int16_t __stdcall IsInsideVMWare3(void) { return VmwarePciDevice() || VmwareMacAddress(); }

int16_t __stdcall ldtCheck(void) { return HypervisorGuest(); }

int16_t __stdcall mswCheck(void) { return FullyEmulatedCpu(); }

int16_t __stdcall vmwareCheck(void) { return BackdoorVersion(); }

}  // extern "C"
