#include "platform/error.h"

namespace hostprobe {

const char* ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kOverflow: return "overflow";
    case ErrorKind::kIndexOutOfRange: return "index out of range";
    case ErrorKind::kInvalidArgument: return "invalid argument";
    case ErrorKind::kPlatform: return "platform call failed";
    case ErrorKind::kFile: return "file error";
    case ErrorKind::kProbeLibrary: return "probe library error";
  }
  return "error";
}

Error::Error(ErrorKind kind, const std::string& detail)
    : std::runtime_error(std::string(ErrorKindName(kind)) + ": " + detail),
      kind_(kind),
      detail_(detail) {}

}  // namespace hostprobe
