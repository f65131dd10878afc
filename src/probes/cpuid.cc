#include "probes/cpuid.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define HOSTPROBE_HAVE_CPUID 1
#endif

namespace hostprobe::probes {
namespace {

using Regs = CpuidRegs;

CpuidQuery& Substitute() {
  static CpuidQuery query;
  return query;
}

bool Cpuid(uint32_t leaf, Regs* r) {
  *r = Regs{};
  if (const CpuidQuery& query = Substitute()) return query(leaf, r);
#ifdef HOSTPROBE_HAVE_CPUID
  __cpuid(leaf, r->a, r->b, r->c, r->d);
  return true;
#else
  (void)leaf;
  return false;
#endif
}

std::string Chars(const uint32_t* words, int n) {
  std::string s(reinterpret_cast<const char*>(words), static_cast<std::size_t>(n) * 4);
  s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
  return s;
}

}  // namespace

void SetCpuidQuery(CpuidQuery query) { Substitute() = std::move(query); }

bool HypervisorPresent() {
  Regs r;
  return Cpuid(1, &r) && (r.c & (1u << 31)) != 0;
}

std::string HypervisorVendor() {
  Regs r;
  if (!HypervisorPresent() || !Cpuid(0x40000000, &r)) return "";
  const uint32_t words[3] = {r.b, r.c, r.d};
  return Chars(words, 3);
}

bool HyperVRootPartition() {
  if (HypervisorVendor() != "Microsoft Hv") return false;
  Regs r;
  // EAX of the vendor leaf is the highest hypervisor leaf.
  if (!Cpuid(0x40000000, &r) || r.a < 0x40000003) return false;
  return Cpuid(0x40000003, &r) && (r.b & 1u) != 0;
}

bool HypervisorGuest() { return HypervisorPresent() && !HyperVRootPartition(); }

std::string CpuVendor() {
  Regs r;
  if (!Cpuid(0, &r)) return "";
  const uint32_t words[3] = {r.b, r.d, r.c};
  return Chars(words, 3);
}

std::string CpuBrand() {
  Regs r;
  if (!Cpuid(0x80000000, &r) || r.a < 0x80000004) return "";
  uint32_t words[12];
  for (uint32_t i = 0; i < 3; ++i) {
    Cpuid(0x80000002 + i, &r);
    words[i * 4] = r.a;
    words[i * 4 + 1] = r.b;
    words[i * 4 + 2] = r.c;
    words[i * 4 + 3] = r.d;
  }
  std::string s = Chars(words, 12);
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool FullyEmulatedCpu() {
  const std::string hv = HypervisorVendor();
  const std::string vendor = CpuVendor();
  const std::string brand = CpuBrand();
  return hv == "TCGTCGTCGTCG" || vendor == "BochsCPU" || vendor == "TCGTCGTCGTCG" ||
         brand.find("QEMU Virtual CPU") != std::string::npos ||
         brand.find("Bochs") != std::string::npos;
}

bool NamesVmware(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("vmware") != std::string::npos;
}

}  // namespace hostprobe::probes
