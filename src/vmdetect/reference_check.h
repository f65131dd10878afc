// The reference machine check: one known VMware guest with one known adapter.
#pragma once

#include "platform/adapter_api.h"
#include "vmdetect/probe_library.h"

namespace hostprobe {

// True when the reference adapter is in the adapter list.
bool IsReferenceAdapterPresent(AdapterApi& api);

// The reference adapter is present and the probes report a virtual machine.
// Both checks always run, in that order.
bool IsReferenceVm(AdapterApi& api, ProbeLibrary& probes);

}  // namespace hostprobe
