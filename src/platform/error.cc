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
    case ErrorKind::kSnapshot: return "invalid snapshot";
  }
  return "error";
}

Error::Error(ErrorKind kind, const std::string& detail)
    : std::runtime_error(std::string(ErrorKindName(kind)) + ": " + detail),
      kind_(kind),
      detail_(detail) {}

Error::Error(ErrorKind kind, const std::string& detail, Unprefixed)
    : std::runtime_error(detail), kind_(kind), detail_(detail) {}

std::string ShownName(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  auto hex = [&](unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7f) {
      hex(c);
    } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      hex(c);  // U+0080..U+009F: C1 controls, CSI among them
      hex(static_cast<unsigned char>(text[++i]));
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace hostprobe
