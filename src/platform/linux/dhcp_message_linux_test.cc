#include "platform/linux/dhcp_message_linux.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace hostprobe::linux_net {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s += static_cast<char>(c);
  return s;
}

// A DHCPACK: BOOTP header (yiaddr 192.0.2.10, siaddr `siaddr`), the magic
// cookie, then `options` as given (the end option included by the caller).
std::string Ack(const std::string& options, const std::string& siaddr = std::string(4, '\0'),
                const std::string& sname = std::string(64, '\0'), const std::string& file = std::string(128, '\0')) {
  std::string m(236, '\0');
  m[0] = 2;  // BOOTREPLY
  m[1] = 1;
  m[2] = 6;
  m.replace(16, 4, Bytes({192, 0, 2, 10}));
  m.replace(20, 4, siaddr);
  m.replace(44, 64, sname);
  m.replace(108, 128, file);
  return m + Bytes({99, 130, 83, 99}) + options;
}

const std::string kTypeAck = Bytes({53, 1, 5});
const std::string kServer = Bytes({54, 4, 192, 0, 2, 1});
const std::string kLease = Bytes({51, 4, 0, 0, 0x0E, 0x10});  // 3600 s
const std::string kWins = Bytes({44, 8, 10, 0, 0, 9, 10, 0, 0, 10});
const std::string kEnd = Bytes({255});

auto Fields(const DhcpMessage& m) {
  return std::tie(m.your_address, m.server, m.lease_seconds, m.wins, m.message_type);
}

TEST(DhcpMessageTest, ReadsTheServerTheLeaseTimeAndTheWinsServers) {
  std::string file_area(128, '\0');
  file_area.replace(0, 11, kWins + Bytes({255}));
  std::string sname_area(64, '\0');
  sname_area.replace(0, 6, kServer);
  struct Case {
    const char* name;
    std::string bytes;
    std::optional<DhcpMessage> expected;
  };
  const std::vector<Case> cases = {
      {"whole", Ack(kTypeAck + kServer + kLease + kWins + kEnd),
       DhcpMessage{"192.0.2.10", "192.0.2.1", 3600, {"10.0.0.9", "10.0.0.10"}, 5}},
      {"pads and no end option", Ack(Bytes({0, 0}) + kServer + Bytes({0}) + kLease),
       DhcpMessage{"192.0.2.10", "192.0.2.1", 3600, {}, 0}},
      {"what follows the end is not read", Ack(kServer + kEnd + kWins), DhcpMessage{"192.0.2.10", "192.0.2.1", -1, {}, 0}},
      {"no server identifier: siaddr", Ack(kLease + kEnd, Bytes({192, 0, 2, 254})),
       DhcpMessage{"192.0.2.10", "192.0.2.254", 3600, {}, 0}},
      {"no server at all", Ack(kEnd), DhcpMessage{"192.0.2.10", "", -1, {}, 0}},
      {"infinite lease", Ack(Bytes({51, 4, 0xFF, 0xFF, 0xFF, 0xFF}) + kEnd),
       DhcpMessage{"192.0.2.10", "", 0xFFFFFFFFll, {}, 0}},
      {"one WINS server, a stray byte left over", Ack(Bytes({44, 5, 10, 1, 2, 3, 9}) + kEnd),
       DhcpMessage{"192.0.2.10", "", -1, {"10.1.2.3"}, 0}},
      {"a split option is joined", Ack(Bytes({44, 4, 10, 0, 0, 1}) + kLease + Bytes({44, 4, 10, 0, 0, 2}) + kEnd),
       DhcpMessage{"192.0.2.10", "", 3600, {"10.0.0.1", "10.0.0.2"}, 0}},
      {"options overloaded into file and sname", Ack(Bytes({52, 1, 3}) + kLease + kEnd, std::string(4, '\0'), sname_area, file_area),
       DhcpMessage{"192.0.2.10", "192.0.2.1", 3600, {"10.0.0.9", "10.0.0.10"}, 0}},
      {"wrong sizes are ignored", Ack(Bytes({54, 3, 1, 2, 3, 51, 2, 0, 1}) + kEnd), DhcpMessage{"192.0.2.10", "", -1, {}, 0}},
      {"an option past the end", Ack(kServer + Bytes({44, 8, 10, 0})), std::nullopt},
      {"a code without a length", Ack(kServer + Bytes({44})), std::nullopt},
      {"a request, not a reply", [] { std::string m = Ack(kServer + kEnd); m[0] = 1; return m; }(), std::nullopt},
      {"a wrong cookie", [] { std::string m = Ack(kServer + kEnd); m[239] = 0; return m; }(), std::nullopt},
      {"too short", Ack("").substr(0, 239), std::nullopt},
      {"empty", "", std::nullopt},
      {"a dhclient lease text", "lease {\n  interface \"eth0\";\n}\n" + std::string(300, ' '), std::nullopt},
  };
  for (const Case& c : cases) {
    const auto got = ParseDhcpMessage(c.bytes);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.name;
    if (got) {
      EXPECT_EQ(Fields(*got), Fields(*c.expected)) << c.name;
    }
  }
}

}  // namespace
}  // namespace hostprobe::linux_net
