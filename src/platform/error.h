// The one error type of hostprobe: everything that ends a run (overflow, index
// out of range, invalid argument, a failing platform or file call, a missing
// probe library or routine, an unreadable or invalid snapshot). Only the front
// ends catch it.
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
  kSnapshot,  // bad usage rather than a failed run: the front ends exit 2
};

// A short lower-case name of the kind, e.g. "overflow".
const char* ErrorKindName(ErrorKind kind);

class Error : public std::runtime_error {
 public:
  // what() is "<kind name>: <detail>".
  Error(ErrorKind kind, const std::string& detail);
  ErrorKind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }

 protected:
  // An error whose what() is `detail` alone.
  struct Unprefixed {};
  Error(ErrorKind kind, const std::string& detail, Unprefixed);

 private:
  ErrorKind kind_;
  std::string detail_;
};

// An unreadable or invalid snapshot; what() names the file, the place in it
// and what is wrong, without a kind name in front.
class SnapshotError : public Error {
 public:
  explicit SnapshotError(const std::string& message) : Error(ErrorKind::kSnapshot, message, Unprefixed{}) {}
};

// A file name or other outside text as it may be shown in a message: control
// characters (C0, DEL and UTF-8-encoded C1) escaped as \n, \r, \t or \xNN,
// every other byte unchanged (backslashes too: they are Windows path
// separators). Escape sequences and line breaks in a name can then neither
// drive the terminal nor fake a message.
std::string ShownName(std::string_view text);

}  // namespace hostprobe
