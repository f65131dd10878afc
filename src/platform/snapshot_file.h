// Reading a snapshot file off this machine's file system: the one part of
// replaying that depends on the OS (each OS's sources define it).
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"

namespace hostprobe {

// The largest snapshot file read, in bytes.
inline constexpr std::uintmax_t kMaxSnapshotBytes = 64u << 20;

// The bytes of the snapshot file at `path`. It is opened without blocking (a
// FIFO without a writer would hold the run forever) and read only when it is
// a regular file of at most kMaxSnapshotBytes. Throws SnapshotError
// ("PATH: cannot read the snapshot: why", "PATH: snapshot larger than ...").
std::string ReadSnapshotText(const std::string& path);

// The errors of ReadSnapshotText, in the same words on every OS (the file
// name shown escaped).
[[noreturn]] inline void ThrowCannotReadSnapshot(const std::string& path, const std::string& why) {
  throw SnapshotError(ShownName(path + ": cannot read the snapshot: " + why));
}
[[noreturn]] inline void ThrowSnapshotTooLarge(const std::string& path) {
  throw SnapshotError(ShownName(path + ": snapshot larger than the limit of " +
                                std::to_string(kMaxSnapshotBytes >> 20) + " MiB"));
}

}  // namespace hostprobe
