#include "network/mac_text.h"

#include "platform/error.h"

namespace hostprobe {

std::string MacToText(std::span<const uint8_t, 8> address) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(17);
  for (std::size_t i = 0; i < 6; ++i) {
    text += kDigits[address[i] >> 4];
    text += kDigits[address[i] & 0x0F];
    if (i < 5) text += '-';
  }
  return text;
}

std::string CutAtNul(std::string text) {
  const std::size_t nul = text.find('\0');
  if (nul == std::string::npos) {
    throw Error(ErrorKind::kInvalidArgument, "text field of " + std::to_string(text.size()) +
                                                 " bytes has no terminating NUL (prefix length -1)");
  }
  text.resize(nul);
  return text;
}

}  // namespace hostprobe
