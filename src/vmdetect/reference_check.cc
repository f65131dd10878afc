// Placeholder until the adapter walk lands.
#include "vmdetect/reference_check.h"

#include "vmdetect/vm_report.h"

namespace hostprobe {
bool IsReferenceAdapterPresent(AdapterApi&) { return false; }
bool IsReferenceVm(AdapterApi& api, ProbeLibrary& probes) {
  const bool adapter = IsReferenceAdapterPresent(api);
  const bool vm = IsVirtualMachine(probes);
  return adapter && vm;
}
}  // namespace hostprobe
