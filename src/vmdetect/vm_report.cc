#include "vmdetect/vm_report.h"

#include <cstdint>

namespace hostprobe {
namespace {

constexpr int16_t kFullyEmulated = 1;
constexpr int16_t kVmware = 2;
constexpr int16_t kWithoutEmulation = 8;

struct Classification {
  int16_t flags = 0;
  int16_t version = 0;
};

// ldtCheck first; when it finds a machine, mswCheck is still asked (its answer
// unused) and vmwareCheck is not.
Classification Classify(ProbeLibrary& probes) {
  Classification c;
  if (probes.ldtCheck() != 0) {
    c.flags = kWithoutEmulation;
    probes.mswCheck();
    return c;
  }
  if (probes.mswCheck() != 0) c.flags = kFullyEmulated;
  c.version = probes.vmwareCheck();
  if (c.version != 0) c.flags |= kVmware;
  return c;
}

}  // namespace

std::string GetVmReport(ProbeLibrary& probes) {
  const Classification c = Classify(probes);
  if (c.flags == 0) return "a) Native machine detected.\r\n";
  std::string report;
  if (c.flags & kVmware) {
    report += "b) VMWare version " + std::to_string(c.version) + " detected.\r\n";
  }
  if (c.flags & kFullyEmulated) report += "d) Fully emulated virtual machine detected.\r\n";
  if (c.flags & kWithoutEmulation) {
    report += "e) Virtual machine detected without emulation.\r\n";
  }
  return report;
}

bool IsVirtualMachine(ProbeLibrary& probes) { return Classify(probes).flags != 0; }

}  // namespace hostprobe
