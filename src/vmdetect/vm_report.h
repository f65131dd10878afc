// The virtual machine classification built from ldtCheck, mswCheck and
// vmwareCheck, as a lettered report and as a yes/no answer.
#pragma once

#include <string>

#include "vmdetect/probe_library.h"

namespace hostprobe {

// The lettered classification report; every line ends in CR LF.
std::string GetVmReport(ProbeLibrary& probes);

// True when any of the three classification probes reports a virtual machine.
bool IsVirtualMachine(ProbeLibrary& probes);

}  // namespace hostprobe
