// The result log file: TEST_OUT.TXT in the current directory, appended to.
#pragma once

#include <chrono>
#include <string_view>

namespace hostprobe {

inline constexpr const char* kLogFileName = "TEST_OUT.TXT";
// How long a run waits for the record another run is writing before it gives
// up with "file locked by another process".
inline constexpr std::chrono::seconds kLogLockWait{10};

class LogFile {
 public:
  virtual ~LogFile() = default;
  // Opens the log for appending (creating it), writes `bytes` whole under a
  // lock that keeps other runs' records out, and closes it. A record that
  // does not fit is cut back off. Throws Error (kFile) naming the file and
  // the reason.
  virtual void Append(std::string_view bytes) = 0;
};

}  // namespace hostprobe
