// Everything the reports and the session reach the machine through. A live
// platform comes from the OS sources, a replayed one from a snapshot file.
#pragma once

#include <memory>
#include <string>

#include "platform/adapter_api.h"
#include "platform/clock.h"
#include "platform/drive_source.h"
#include "platform/interface_table_api.h"
#include "platform/log_file.h"
#include "platform/probe_loader.h"

namespace hostprobe {

struct Platform {
  std::unique_ptr<AdapterApi> adapters;
  std::unique_ptr<InterfaceTableApi> interfaces;
  std::unique_ptr<DriveSource> drives;
  std::unique_ptr<ProbeLoader> probes;
  std::unique_ptr<LogFile> log;
  std::unique_ptr<Clock> clock;
};

}  // namespace hostprobe
