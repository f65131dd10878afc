// A substitute CPU for the CPUID facts of probes/cpuid.h: answers the leaves
// those facts ask from a few fields, zeros elsewhere.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "probes/cpuid.h"

namespace hostprobe::testing {

struct FakeCpu {
  bool cpuid = true;  // false: a processor without the instruction
  std::string cpu_vendor = "GenuineIntel";
  bool hypervisor_bit = false;
  std::string hypervisor_vendor;       // leaf 0x40000000, up to 12 characters
  uint32_t max_hypervisor_leaf = 0x40000006;
  uint32_t partition_ebx = 0;          // leaf 0x40000003 EBX (bit 0: CreatePartitions)
  std::string brand;                   // leaves 0x80000002..4, up to 48 characters

  // Copies with one field changed, to write table rows in one expression.
  FakeCpu Hypervisor(const std::string& vendor) const {
    FakeCpu c = *this;
    c.hypervisor_bit = true;
    c.hypervisor_vendor = vendor;
    return c;
  }
  FakeCpu WithoutHypervisorBit() const { return Set(&FakeCpu::hypervisor_bit, false); }
  FakeCpu PartitionEbx(uint32_t ebx) const { return Set(&FakeCpu::partition_ebx, ebx); }
  FakeCpu MaxHypervisorLeaf(uint32_t leaf) const { return Set(&FakeCpu::max_hypervisor_leaf, leaf); }
  FakeCpu Vendor(const std::string& vendor) const { return Set(&FakeCpu::cpu_vendor, vendor); }
  FakeCpu Brand(const std::string& brand_text) const { return Set(&FakeCpu::brand, brand_text); }
  FakeCpu WithoutCpuid() const { return Set(&FakeCpu::cpuid, false); }

 private:
  template <typename T, typename V>
  FakeCpu Set(T FakeCpu::*field, const V& value) const {
    FakeCpu c = *this;
    c.*field = value;
    return c;
  }
};

// Packs up to 4 * n characters into n registers, NUL padded.
inline void PackText(const std::string& text, uint32_t* const* words, int n) {
  char buffer[48] = {};
  std::memcpy(buffer, text.data(), std::min<std::size_t>(text.size(), sizeof buffer));
  for (int i = 0; i < n; ++i) std::memcpy(words[i], buffer + 4 * i, 4);
}

inline bool AnswerCpuid(const FakeCpu& cpu, uint32_t leaf, probes::CpuidRegs* r) {
  if (!cpu.cpuid) return false;
  if (leaf == 0) {
    r->a = 0x16;
    uint32_t* words[] = {&r->b, &r->d, &r->c};
    PackText(cpu.cpu_vendor, words, 3);
  } else if (leaf == 1) {
    r->c = cpu.hypervisor_bit ? 0x80000000u : 0;
  } else if (leaf == 0x40000000 && cpu.hypervisor_bit) {
    r->a = cpu.max_hypervisor_leaf;
    uint32_t* words[] = {&r->b, &r->c, &r->d};
    PackText(cpu.hypervisor_vendor, words, 3);
  } else if (leaf == 0x40000003 && cpu.hypervisor_bit) {
    r->b = cpu.partition_ebx;
  } else if (leaf == 0x80000000) {
    r->a = cpu.brand.empty() ? 0x80000001 : 0x80000004;
  } else if (leaf >= 0x80000002 && leaf <= 0x80000004) {
    const std::size_t at = (leaf - 0x80000002) * 16;
    const std::string part = at < cpu.brand.size() ? cpu.brand.substr(at, 16) : "";
    uint32_t* words[] = {&r->a, &r->b, &r->c, &r->d};
    PackText(part, words, 4);
  }
  return true;
}

// Puts the fake CPU in place of the processor while in scope.
class ScopedCpuid {
 public:
  explicit ScopedCpuid(FakeCpu cpu) {
    probes::SetCpuidQuery([cpu](uint32_t leaf, probes::CpuidRegs* r) { return AnswerCpuid(cpu, leaf, r); });
  }
  ~ScopedCpuid() { probes::SetCpuidQuery({}); }
  ScopedCpuid(const ScopedCpuid&) = delete;
  ScopedCpuid& operator=(const ScopedCpuid&) = delete;
};

}  // namespace hostprobe::testing
