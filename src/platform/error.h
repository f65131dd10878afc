// The one error type of hostprobe: everything that ends a run (overflow, index
// out of range, invalid argument, a failing platform or file call, a missing
// probe library or routine). Only the front ends catch it.
#pragma once

#include <stdexcept>
#include <string>

namespace hostprobe {

enum class ErrorKind {
  kOverflow,
  kIndexOutOfRange,
  kInvalidArgument,
  kPlatform,
  kFile,
  kProbeLibrary,
};

// A short lower-case name of the kind, e.g. "overflow".
const char* ErrorKindName(ErrorKind kind);

class Error : public std::runtime_error {
 public:
  // what() is "<kind name>: <detail>".
  Error(ErrorKind kind, const std::string& detail);
  ErrorKind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }

 private:
  ErrorKind kind_;
  std::string detail_;
};

}  // namespace hostprobe
