// The one error type of hostprobe: everything that ends a run (overflow, index
// out of range, invalid argument, a failing platform or file call, a missing
// probe library or routine). Only the front ends catch it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

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

// A file name or other outside text as it may be shown in a message: control
// characters (C0, DEL and UTF-8-encoded C1) escaped as \n, \r, \t or \xNN,
// every other byte unchanged (backslashes too: they are Windows path
// separators). Escape sequences and line breaks in a name can then neither
// drive the terminal nor fake a message.
std::string ShownName(std::string_view text);

}  // namespace hostprobe
