// The live Linux sources behind the platform interfaces.
#pragma once

#include <memory>

#include "platform/adapter_api.h"
#include "platform/drive_source.h"
#include "platform/interface_table_api.h"
#include "platform/probe_loader.h"

namespace hostprobe {

std::unique_ptr<AdapterApi> MakeLinuxAdapterApi();
std::unique_ptr<InterfaceTableApi> MakeLinuxInterfaceTableApi();
std::unique_ptr<DriveSource> MakeLinuxDriveSource();
// The probes linked into the program.
std::unique_ptr<ProbeLoader> MakeLinuxProbeLoader();

}  // namespace hostprobe
