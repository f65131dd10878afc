// The live adapter list and interface table against what `ip` reports on
// this machine, and a capture of them replayed.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

#include "network/adapter_walk.h"
#include "network/adapters_report.h"
#include "network/interfaces_report.h"
#include "platform/live/live.h"
#include "network/mac_text.h"
#include "platform/error.h"
#include "platform/linux/linux_sources.h"
#include "platform/linux/network_linux_facts.h"
#include "platform/records.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "test_util.h"

namespace hostprobe {
namespace {

namespace rec = records;
using nlohmann::json;

// The JSON that `ip -j <args>` prints; null where ip cannot be run.
json Ip(const std::string& args) {
  FILE* pipe = popen(("ip -j " + args + " 2>/dev/null").c_str(), "r");
  if (!pipe) return nullptr;
  std::string out;
  char chunk[4096];
  for (std::size_t n; (n = fread(chunk, 1, sizeof(chunk), pipe)) > 0;) out.append(chunk, n);
  if (pclose(pipe) != 0) return nullptr;
  return json::parse(out, nullptr, false);
}

// "aa:bb:.." as the record's address text, "AA-BB-.." (six bytes, 00 padded).
std::string MacOf(const json& link) {
  std::array<uint8_t, 8> bytes{};
  const std::string text = link.value("address", "");
  for (std::size_t i = 0, at = 0; i < 8 && at + 2 <= text.size(); ++i, at += 3) {
    bytes[i] = static_cast<uint8_t>(std::stoul(text.substr(at, 2), nullptr, 16));
  }
  return MacToText(bytes);
}

struct IpView {
  json links;                                   // ip -j link, by ifindex order
  std::map<std::string, std::vector<std::string>> v4;  // ifname -> IPv4 addresses in order
  std::map<std::string, std::string> gateway;   // ifname -> default gateway
};

bool ReadIp(IpView& v) {
  v.links = Ip("link");
  const json addresses = Ip("address");
  const json routes = Ip("route");
  if (!v.links.is_array() || !addresses.is_array() || !routes.is_array()) return false;
  std::sort(v.links.begin(), v.links.end(),
            [](const json& a, const json& b) { return a["ifindex"].get<int>() < b["ifindex"].get<int>(); });
  for (const json& a : addresses) {
    for (const json& info : a.value("addr_info", json::array())) {
      if (info.value("family", "") == "inet") {
        v.v4[a["ifname"].get<std::string>()].push_back(info["local"].get<std::string>());
      }
    }
  }
  for (const json& r : routes) {
    if (r.value("dst", "") == "default" && r.contains("gateway") && r.contains("dev")) {
      v.gateway.emplace(r["dev"].get<std::string>(), r["gateway"].get<std::string>());
    }
  }
  return true;
}

std::string Or(const std::map<std::string, std::string>& m, const std::string& key, const std::string& fallback) {
  auto it = m.find(key);
  return it == m.end() ? fallback : it->second;
}

TEST(NetworkLinuxTest, AdaptersAgreeWithIp) {
  IpView ip;
  if (!ReadIp(ip)) GTEST_SKIP() << "ip is not available";
  std::vector<AdapterRecord> records;
  auto api = MakeLinuxAdapterApi();
  const WalkResult walk = WalkAdapters(*api, [&](int16_t, const AdapterRecord& r) {
    records.push_back(r);
    return true;
  });
  std::size_t k = 0;
  for (const json& link : ip.links) {
    if (link.value("link_type", "") == "loopback") continue;
    const std::string name = link["ifname"];
    SCOPED_TRACE(name);
    ASSERT_LT(k, records.size());
    const AdapterRecord& r = records[k++];
    EXPECT_EQ(CutAtNul(r.adapter_name), name);
    EXPECT_EQ(r.index, link["ifindex"].get<int>());
    if (link.value("link_type", "") == "ether") {
      EXPECT_EQ(r.type, 6);
      EXPECT_EQ(r.address_length, 6);
      EXPECT_EQ(MacToText(r.address), MacOf(link));
    }
    const std::vector<std::string> v4 = ip.v4.count(name) ? ip.v4.at(name) : std::vector<std::string>{"0.0.0.0"};
    EXPECT_EQ(CutAtNul(r.ip_address_list.ip_address), v4[0]);
    EXPECT_EQ(r.ip_address_list.next != 0, v4.size() > 1);
    EXPECT_EQ(CutAtNul(r.gateway_list.ip_address), Or(ip.gateway, name, "0.0.0.0"));
  }
  EXPECT_EQ(k, records.size());
  if (k == 0) {
    EXPECT_EQ(walk.outcome, WalkOutcome::kEmpty);
    return;
  }

  // Every IPv4 address of an adapter along its address list, inside the buffer.
  std::vector<uint8_t> buffer(api->NeededLength());
  uint32_t location = 0;
  ASSERT_EQ(api->Fill(buffer, &location), 0u);
  for (uint32_t position = location; position != 0;) {
    const uint64_t offset = static_cast<uint32_t>(position - location);
    ASSERT_LE(offset + rec::kAdapterSize, buffer.size());
    const AdapterRecord r = ReadAdapterRecord(buffer.data() + offset);
    const std::string name = CutAtNul(r.adapter_name);
    SCOPED_TRACE(name);
    std::vector<std::string> listed = {CutAtNul(r.ip_address_list.ip_address)};
    for (uint32_t entry = static_cast<uint32_t>(r.ip_address_list.next); entry != 0;) {
      const uint64_t at = static_cast<uint32_t>(entry - location);
      ASSERT_LE(at + rec::kAddrSize, buffer.size());
      const uint8_t* e = buffer.data() + at;
      listed.push_back(CutAtNul(std::string(reinterpret_cast<const char*>(e + rec::kAddrIpAddress), 16)));
      entry = rec::GetU32(e + rec::kAddrNext);
    }
    EXPECT_EQ(listed, ip.v4.count(name) ? ip.v4.at(name) : std::vector<std::string>{"0.0.0.0"});
    position = static_cast<uint32_t>(r.next);
  }
}

TEST(NetworkLinuxTest, InterfaceTableAgreesWithIp) {
  IpView ip;
  if (!ReadIp(ip)) GTEST_SKIP() << "ip is not available";
  auto api = MakeLinuxInterfaceTableApi();
  std::vector<uint8_t> table(api->NeededLength());
  ASSERT_GE(table.size(), rec::kTableRows);
  ASSERT_EQ(api->Fill(table), 0u);
  ASSERT_EQ(rec::GetU32(table.data()), ip.links.size());
  ASSERT_EQ(table.size(), rec::kTableRows + rec::kRowSize * ip.links.size());
  for (std::size_t i = 0; i < ip.links.size(); ++i) {
    const json& link = ip.links[i];
    SCOPED_TRACE(link["ifname"].get<std::string>());
    const uint8_t* row = table.data() + rec::kTableRows + i * rec::kRowSize;
    EXPECT_EQ(rec::GetI32(row + rec::kRowIndex), link["ifindex"].get<int>());
    EXPECT_EQ(rec::GetU32(row + rec::kRowMtu), link["mtu"].get<uint32_t>());
    const json flags = link.value("flags", json::array());
    const bool up = std::find(flags.begin(), flags.end(), "UP") != flags.end();
    EXPECT_EQ(rec::GetU32(row + rec::kRowAdminStatus), up ? 1u : 2u);
    const std::string type = link.value("link_type", "");
    if (type == "ether" || type == "loopback") {
      EXPECT_EQ(rec::GetU32(row + rec::kRowType), type == "ether" ? 6u : 24u);
      EXPECT_EQ(MacToText(std::span<const uint8_t, 8>(row + rec::kRowPhysAddr, 8)), MacOf(link));
      EXPECT_EQ(rec::GetU32(row + rec::kRowPhysAddrLen), 6u);
    }
    const std::string descr(reinterpret_cast<const char*>(row + rec::kRowDescr));
    EXPECT_FALSE(descr.empty());
    EXPECT_EQ(rec::GetU32(row + rec::kRowDescrLen), descr.size() + 1);
  }
}

// What --capture writes, replayed, gives the live texts of tests 1 and 2,
// and two calls give the same texts: the locations of field 7 are fixed.
TEST(NetworkLinuxTest, CaptureReplaysAsLive) {
  testing::ScratchDir dir;
  Platform live = MakeLivePlatform();
  const std::string adapters = GetAdaptersReport(*live.adapters);
  const std::string interfaces = GetInterfacesReport(*live.interfaces);
  EXPECT_EQ(GetAdaptersReport(*live.adapters), adapters);
  Platform replay = MakeReplayPlatform(ParseSnapshot(CaptureMachine(live), "capture"));
  EXPECT_EQ(GetAdaptersReport(*replay.adapters), adapters);
  EXPECT_EQ(GetInterfacesReport(*replay.interfaces), interfaces);
}

linux_net::LinkFacts FakeLink(int32_t index, const char* name, std::vector<std::string> addresses = {}) {
  linux_net::LinkFacts l;
  l.index = index;
  l.name = name;
  l.description = name;
  l.arphrd = 1;  // Ethernet
  l.address = {2, 0, 0x5E, 0, 0, static_cast<uint8_t>(index)};
  for (const std::string& a : addresses) l.ipv4.push_back({a, "255.255.255.0"});
  return l;
}

// The adapter line of FakeLink(index, name) with field 7 `next` and the first
// address `ip` (at most 15 characters).
std::string FakeLine(int index, const std::string& name, const std::string& next, const std::string& ip) {
  const std::string mac = "02-00-5E-00-00-0" + std::to_string(index);
  return "\r\n[" + std::to_string(index - 2) + "] " + name + "\t|\\1|6\t|\\2|" + mac + "\t|\\3|" + name +
         std::string(260 - name.size(), '\0') + "\t|\\4|6\t|\\5|0\t|\\6|0\t|\\7|" + next + "\t|\\8|" +
         std::string(16, '\0') + "\t|\\9|0.0.0.0" + std::string(9, '\0') + "\t|\\10|0\t|\\11|" + ip +
         std::string(16 - ip.size(), '\0') + "\t|\\12|" + std::string(16, '\0') + "\t|\\13|" + std::string(16, '\0');
}

// The records lie from a fixed notional location of the buffer, 0x00100000,
// their further address entries after the last record, in link and address
// order: field 7 is that entry's notional location.
TEST(NetworkLinuxFaultTest, LocationsAreFixedNotionalAddresses) {
  auto lo = FakeLink(1, "lo", {"127.0.0.1"});
  lo.arphrd = 772;  // loopback: not an adapter
  const std::vector<linux_net::LinkFacts> links = {
      lo, FakeLink(2, "eth0", {"192.0.2.10", "192.0.2.11", "192.0.2.12"}), FakeLink(3, "eth1", {"198.51.100.1", "198.51.100.2"}),
      FakeLink(4, "eth2", {"203.0.113.5"})};
  auto api = linux_net::MakeAdapterApi([&](const linux_net::Gather&) { return links; });
  EXPECT_EQ(GetAdaptersReport(*api), "3 Adapter(s):" + FakeLine(2, "eth0", "1050496", "192.0.2.10") +
                                         FakeLine(3, "eth1", "1050576", "198.51.100.1") +
                                         FakeLine(4, "eth2", "0", "203.0.113.5"));

  std::vector<uint8_t> buffer(api->NeededLength());
  ASSERT_EQ(buffer.size(), 3 * rec::kAdapterSize + 3 * rec::kAddrSize);
  uint32_t location = 0;
  ASSERT_EQ(api->Fill(buffer, &location), 0u);
  EXPECT_EQ(location, 0x00100000u);
  auto u32 = [&](std::size_t at) { return rec::GetU32(buffer.data() + at); };
  auto text = [&](std::size_t at) { return std::string(reinterpret_cast<const char*>(buffer.data() + at)); };
  EXPECT_EQ(u32(rec::kAdNext), 0x00100000u + 640);
  EXPECT_EQ(u32(640 + rec::kAdNext), 0x00100000u + 1280);
  EXPECT_EQ(u32(1280 + rec::kAdNext), 0u);
  // eth0: 1920 -> 1960 -> end; eth1: 2000 -> end.
  EXPECT_EQ(u32(rec::kAdIpAddressList + rec::kAddrNext), 0x00100000u + 1920);
  EXPECT_EQ(text(1920 + rec::kAddrIpAddress), "192.0.2.11");
  EXPECT_EQ(u32(1920 + rec::kAddrNext), 0x00100000u + 1960);
  EXPECT_EQ(text(1960 + rec::kAddrIpAddress), "192.0.2.12");
  EXPECT_EQ(u32(1960 + rec::kAddrNext), 0u);
  EXPECT_EQ(u32(640 + rec::kAdIpAddressList + rec::kAddrNext), 0x00100000u + 2000);
  EXPECT_EQ(text(2000 + rec::kAddrIpAddress), "198.51.100.2");
  EXPECT_EQ(u32(2000 + rec::kAddrNext), 0u);
}

// DHCP as Windows shows it: a lease the link holds (its server, and WINS
// servers where the lease gives them), a link a DHCP client manages without
// a lease (enabled, the server 255.255.255.255, address 0.0.0.0), a static one.
TEST(NetworkLinuxFaultTest, DhcpFieldsOfLeasedManagedAndStaticLinks) {
  auto leased = FakeLink(2, "eth0", {"192.0.2.10"});
  leased.lease = linux_net::DhcpLease{"192.0.2.1", 1000, 4600, {"10.0.0.9", "10.0.0.10", "10.0.0.11"}};
  leased.dhcp_managed = true;
  auto one_wins = FakeLink(3, "eth1", {"198.51.100.5"});
  one_wins.lease = linux_net::DhcpLease{"198.51.100.1", 1000, 4600, {"10.0.0.9"}};
  auto waiting = FakeLink(4, "eth2");
  waiting.dhcp_managed = true;
  auto fixed = FakeLink(5, "eth3", {"203.0.113.5"});
  const std::vector<linux_net::LinkFacts> links = {leased, one_wins, waiting, fixed};
  auto api = linux_net::MakeAdapterApi([&](const linux_net::Gather&) { return links; });
  auto padded = [](const std::string& s, std::size_t width) { return s + std::string(width - s.size(), '\0'); };
  auto line = [&](int index, const std::string& name, const std::string& dhcp, const std::string& server,
                  const std::string& wins, const std::string& ip, const std::string& primary,
                  const std::string& secondary) {
    return "\r\n[" + std::to_string(index - 2) + "] " + name + "\t|\\1|6\t|\\2|02-00-5E-00-00-0" +
           std::to_string(index) + "\t|\\3|" + padded(name, 260) + "\t|\\4|6\t|\\5|0\t|\\6|" + dhcp +
           "\t|\\7|0\t|\\8|" + padded(server, 16) + "\t|\\9|" + padded("0.0.0.0", 16) + "\t|\\10|" + wins +
           "\t|\\11|" + padded(ip, 16) + "\t|\\12|" + padded(primary, 16) + "\t|\\13|" + padded(secondary, 16);
  };
  EXPECT_EQ(GetAdaptersReport(*api),
            "4 Adapter(s):" + line(2, "eth0", "1", "192.0.2.1", "1", "192.0.2.10", "10.0.0.9", "10.0.0.10") +
                line(3, "eth1", "1", "198.51.100.1", "1", "198.51.100.5", "10.0.0.9", "") +
                line(4, "eth2", "1", "255.255.255.255", "0", "0.0.0.0", "", "") +
                line(5, "eth3", "0", "", "0", "203.0.113.5", "", ""));
}

// The kernel's view changing between the sizing and the filling call, or
// not answering: each gives the reports' soft result, never a read past the
// buffer.
TEST(NetworkLinuxFaultTest, LinksChangingBetweenSizingAndFilling) {
  auto link = [](int32_t index, const char* name) { return FakeLink(index, name); };
  const std::vector<linux_net::LinkFacts> one = {link(2, "eth0")};
  const std::vector<linux_net::LinkFacts> two = {link(2, "eth0"), link(3, "eth1")};
  // Answers `first` to the sizing call and `then` to every later call.
  auto changing = [](std::vector<linux_net::LinkFacts> first, std::vector<linux_net::LinkFacts> then) {
    return [first, then, calls = 0](const linux_net::Gather&) mutable { return calls++ == 0 ? first : then; };
  };
  const std::string eth0_line =
      "\r\n[0] eth0\t|\\1|6\t|\\2|02-00-5E-00-00-02\t|\\3|eth0" + std::string(256, '\0') +
      "\t|\\4|6\t|\\5|0\t|\\6|0\t|\\7|0\t|\\8|" + std::string(16, '\0') + "\t|\\9|0.0.0.0" +
      std::string(9, '\0') + "\t|\\10|0\t|\\11|0.0.0.0" + std::string(9, '\0') + "\t|\\12|" +
      std::string(16, '\0') + "\t|\\13|" + std::string(16, '\0');

  // An interface added in between no longer fits: the platform's overflow status.
  auto grown = linux_net::MakeAdapterApi(changing(one, two));
  EXPECT_EQ(GetAdaptersReport(*grown), "Start Adapter Info ... \r\nSTS= 111 Exit from Adapter info.");
  auto grown_table = linux_net::MakeInterfaceTableApi(changing(one, two));
  EXPECT_EQ(GetInterfacesReport(*grown_table), "");

  // An interface gone in between: the count from the sizing call, one line.
  auto shrunk = linux_net::MakeAdapterApi(changing(two, one));
  EXPECT_EQ(GetAdaptersReport(*shrunk), "2 Adapter(s):" + eth0_line);
  auto shrunk_table = linux_net::MakeInterfaceTableApi(changing(two, one));
  EXPECT_EQ(GetInterfacesReport(*shrunk_table),
            "1 Interface(s):\r\n[1] eth0\t6\t2\t0\t02-00-5E-00-00-02");

  // Every adapter gone in between: the platform's no-data status, not an empty record.
  auto emptied = linux_net::MakeAdapterApi(changing(one, {}));
  EXPECT_EQ(GetAdaptersReport(*emptied), "Start Adapter Info ... \r\nSTS= 232 Exit from Adapter info.");

  // The kernel cannot be asked: nothing to list.
  auto failing = [](const linux_net::Gather&) -> std::vector<linux_net::LinkFacts> {
    throw Error(ErrorKind::kPlatform, "netlink socket: Permission denied");
  };
  auto no_kernel = linux_net::MakeAdapterApi(failing);
  EXPECT_EQ(GetAdaptersReport(*no_kernel), "Start Adapter Info ... \r\nBuffer=0 Exit from Adapter info.");
  auto no_kernel_table = linux_net::MakeInterfaceTableApi(failing);
  EXPECT_EQ(GetInterfacesReport(*no_kernel_table), "");
}

}  // namespace
}  // namespace hostprobe
