#include "platform/linux/dhcp_message_linux.h"

#include <map>

#include "platform/linux/text_linux.h"

namespace hostprobe::linux_net {
namespace {

constexpr std::size_t kOpOffset = 0;
constexpr std::size_t kYiaddrOffset = 16;
constexpr std::size_t kSiaddrOffset = 20;
constexpr std::size_t kSnameOffset = 44;
constexpr std::size_t kSnameSize = 64;
constexpr std::size_t kFileOffset = 108;
constexpr std::size_t kFileSize = 128;
constexpr std::size_t kCookieOffset = 236;
constexpr std::size_t kOptionsOffset = 240;

std::string Dotted(std::string_view four) {
  return DottedQuad(reinterpret_cast<const unsigned char*>(four.data()));
}

// Appends the options of one area to `options` (code -> joined data);
// false when an option runs past the area's end.
bool ReadOptions(std::string_view area, std::map<int, std::string>& options) {
  for (std::size_t i = 0; i < area.size();) {
    const int code = static_cast<unsigned char>(area[i]);
    if (code == 0) {  // pad
      ++i;
      continue;
    }
    if (code == 255) return true;  // end
    if (i + 1 >= area.size()) return false;
    const std::size_t length = static_cast<unsigned char>(area[i + 1]);
    if (i + 2 + length > area.size()) return false;
    options[code].append(area.substr(i + 2, length));
    i += 2 + length;
  }
  return true;  // no end option: the area's end ends it
}

}  // namespace

std::optional<DhcpMessage> ParseDhcpMessage(std::string_view bytes) {
  if (bytes.size() < kOptionsOffset || bytes[kOpOffset] != 2 ||
      bytes.substr(kCookieOffset, 4) != std::string_view("\x63\x82\x53\x63", 4)) {
    return std::nullopt;
  }
  std::map<int, std::string> options;
  if (!ReadOptions(bytes.substr(kOptionsOffset), options)) return std::nullopt;
  if (auto overload = options.find(52); overload != options.end() && overload->second.size() == 1) {
    const int which = static_cast<unsigned char>(overload->second[0]);
    if ((which & 1) && !ReadOptions(bytes.substr(kFileOffset, kFileSize), options)) return std::nullopt;
    if ((which & 2) && !ReadOptions(bytes.substr(kSnameOffset, kSnameSize), options)) return std::nullopt;
  }
  DhcpMessage m;
  m.your_address = Dotted(bytes.substr(kYiaddrOffset, 4));
  if (auto it = options.find(54); it != options.end() && it->second.size() == 4) {
    m.server = Dotted(it->second);
  } else if (bytes.substr(kSiaddrOffset, 4) != std::string_view("\0\0\0\0", 4)) {
    m.server = Dotted(bytes.substr(kSiaddrOffset, 4));
  }
  if (auto it = options.find(51); it != options.end() && it->second.size() == 4) {
    uint32_t v = 0;
    for (char c : it->second) v = v << 8 | static_cast<unsigned char>(c);
    m.lease_seconds = v;
  }
  if (auto it = options.find(44); it != options.end()) {
    for (std::size_t i = 0; i + 4 <= it->second.size(); i += 4) m.wins.push_back(Dotted(it->second.substr(i, 4)));
  }
  if (auto it = options.find(53); it != options.end() && it->second.size() == 1) {
    m.message_type = static_cast<unsigned char>(it->second[0]);
  }
  return m;
}

}  // namespace hostprobe::linux_net
