// Writes one quoted, timestamped record per call to the result log.
#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/log_file.h"

namespace hostprobe {

// The record for `message` stamped with `timestamp`: quote, timestamp, TAB,
// message (bytes unchanged), quote, CR LF.
std::string FormatLogRecord(const std::string& timestamp, const std::string& message);

class LogWriter {
 public:
  LogWriter(LogFile& file, Clock& clock) : file_(file), clock_(clock) {}
  // Appends one record; throws Error (kFile) when the log cannot be written.
  // The record is made in the message's own storage: a drive list of many
  // thousand drives is held once, not copied.
  void WriteLog(std::string message);

 private:
  LogFile& file_;
  Clock& clock_;
};

}  // namespace hostprobe
