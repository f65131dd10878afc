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

void LogWriter::WriteLog(std::string message) {
  const std::string head = '"' + clock_.GeneralDate() + '\t';
  message.reserve(head.size() + message.size() + 3);
  message.insert(0, head);
  message += "\"\r\n";
  file_.Append(message);
}

}  // namespace hostprobe
