// The live machine: what only the OS sources (platform/linux or
// platform/windows) define, for the front ends that choose between the live
// machine and a snapshot. The logic and the snapshot layer never see this
// header; they get the machine through the interfaces of platform/.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/log_file.h"
#include "platform/platform.h"
#include "platform/virt.h"

namespace hostprobe {

// The live machine's platform.
Platform MakeLivePlatform();
// The log file in the current directory, which waits at most `lock_wait`
// for another run's record.
std::unique_ptr<LogFile> MakeLogFile(std::chrono::milliseconds lock_wait = kLogLockWait);
// The real clock in the user's locale.
std::unique_ptr<Clock> MakeClock();

// Informational facts about this machine for a capture: host name and OS.
struct HostFacts {
  std::string host;
  std::string os;
};
HostFacts ReadHostFacts();

// What the live machine says about its hypervisor and its container, read
// afresh each call.
VmFacts ReadVmFacts();
ContainerFacts ReadContainerFacts();

// Conversion of UTF-8 text to the system's 8-bit code page (the ANSI code
// page on Windows, the locale's character set, in practice UTF-8, on Linux),
// with "?" for characters that have no mapping; and the reverse.
std::string Utf8ToSystem(std::string_view utf8);
std::string SystemToUtf8(std::string_view text);

// Replaces the file `path` with `bytes`. They go to a new file made
// exclusively in the same directory (never through a link planted there),
// are flushed, take the replaced file's permissions, and the new file is
// renamed over `path`; on any failure it is removed, so `path` is left
// either as it was or whole. A `path` that is a link is replaced, not
// written through. A read-only file, a directory or another non-regular file
// of that name is refused. Returns nullopt on success, else the system's
// reason ("Permission denied").
std::optional<std::string> ReplaceWholeFile(const std::string& path, std::string_view bytes);

}  // namespace hostprobe
