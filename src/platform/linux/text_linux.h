// Small text helpers of the Linux sources' file readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hostprobe::linux_net {

// `s` without line ends and blanks at its end and blanks at its start.
inline std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

// The decimal number `text` starts with, at most about 2^40; -1 when it
// starts with no digit.
inline int64_t Number(std::string_view text) {
  int64_t v = 0;
  bool any = false;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    v = v * 10 + (c - '0');
    any = true;
    if (v > (int64_t{1} << 40)) break;
  }
  return any ? v : -1;
}

// Four bytes of an IPv4 address, in network order, as dotted decimal text.
inline std::string DottedQuad(const unsigned char* four) {
  std::string out;
  for (int i = 0; i < 4; ++i) {
    if (i) out += '.';
    out += std::to_string(four[i]);
  }
  return out;
}

}  // namespace hostprobe::linux_net
