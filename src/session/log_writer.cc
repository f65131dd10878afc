#include "session/log_writer.h"

namespace hostprobe {

std::string FormatLogRecord(const std::string& timestamp, const std::string& message) {
  std::string record;
  record.reserve(timestamp.size() + message.size() + 5);
  record += '"';
  record += timestamp;
  record += '\t';
  record += message;
  record += "\"\r\n";
  return record;
}

void LogWriter::WriteLog(const std::string& message) {
  file_.Append(FormatLogRecord(clock_.GeneralDate(), message));
}

}  // namespace hostprobe
