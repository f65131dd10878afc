// A DHCP message (RFC 2131, options RFC 2132) as a client keeps it: dhcpcd's
// lease file is the server's DHCPACK itself, the BOOTP header and options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostprobe::linux_net {

struct DhcpMessage {
  std::string your_address;             // yiaddr, dotted decimal
  std::string server;                   // option 54, else siaddr where set; else empty
  int64_t lease_seconds = -1;           // option 51; -1 when absent, 0xFFFFFFFF for "infinite"
  std::vector<std::string> wins;        // option 44, NetBIOS name servers, in order
  int message_type = 0;                 // option 53 (5 = DHCPACK), 0 when absent
};

// The message in `bytes`; nullopt when it is not one (shorter than the BOOTP
// header and magic cookie, not a reply, a cookie that is not 99.130.83.99, or
// an option running past the end). Options in the file and sname fields are
// read where option 52 says they hold some; a split option (RFC 3396) is
// joined.
std::optional<DhcpMessage> ParseDhcpMessage(std::string_view bytes);

}  // namespace hostprobe::linux_net
