// Replacing a whole file safely, for snapshots written by --capture.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostprobe {

// Replaces the file `path` with `bytes`. They go to a new file made
// exclusively in the same directory (never through a link planted there),
// are flushed, take the replaced file's permissions, and the new file is
// renamed over `path`; on any failure it is removed, so `path` is left
// either as it was or whole. A `path` that is a link is replaced, not
// written through. A read-only file, a directory or another non-regular file
// of that name is refused. Returns nullopt on success, else the system's
// reason ("Permission denied").
std::optional<std::string> ReplaceWholeFile(const std::string& path, std::string_view bytes);

// Ten random lower-case letters and digits, for the name of a new file.
std::string RandomFileSuffix();

}  // namespace hostprobe
