// The result log file: TEST_OUT.TXT in the current directory, appended to.
#pragma once

#include <string_view>

namespace hostprobe {

inline constexpr const char* kLogFileName = "TEST_OUT.TXT";

class LogFile {
 public:
  virtual ~LogFile() = default;
  // Opens the log for appending (creating it), writes `bytes` with one write
  // call, and closes it. Throws Error (kFile) naming the file and the reason.
  virtual void Append(std::string_view bytes) = 0;
};

}  // namespace hostprobe
