// The x64 adapter records in their 32-bit form, against hand-built 704-byte
// records.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "network/adapters_report.h"
#include "platform/error.h"
#include "platform/records.h"
#include "platform/windows/windows_sources.h"

// A 32-bit process reads the platform's records as they come; a 64-bit one
// gets the wider form repacked here.
#if defined(_WIN64)
static_assert(sizeof(IP_ADAPTER_INFO) == hostprobe::repack::kNativeAdapterSize);
static_assert(sizeof(IP_ADDR_STRING) == hostprobe::repack::kNativeAddrSize);
#else
static_assert(sizeof(IP_ADAPTER_INFO) == 640);
static_assert(sizeof(IP_ADDR_STRING) == 40);
#endif
static_assert(sizeof(MIB_IFROW) == 860);

namespace hostprobe {
namespace {

namespace r = records;
using repack::kNativeAdapterSize;
using repack::kNativeAddrSize;

void Put64(std::vector<uint8_t>& b, std::size_t at, uint64_t v) {
  r::PutU32(b.data() + at, static_cast<uint32_t>(v));
  r::PutU32(b.data() + at + 4, static_cast<uint32_t>(v >> 32));
}
void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) { r::PutU32(b.data() + at, v); }
void PutText(std::vector<uint8_t>& b, std::size_t at, const std::string& text) {
  std::memcpy(b.data() + at, text.data(), text.size());
}

// Native (64-bit) offsets, as the platform's headers lay them out.
constexpr std::size_t kNComboIndex = 8, kNAdapterName = 12, kNDescription = 272, kNAddressLength = 404,
                      kNAddress = 408, kNIndex = 416, kNType = 420, kNDhcpEnabled = 424,
                      kNCurrentIpAddress = 432, kNIpAddressList = 440, kNGatewayList = 488,
                      kNDhcpServer = 536, kNHaveWins = 584, kNPrimaryWins = 592, kNSecondaryWins = 640,
                      kNLeaseObtained = 688, kNLeaseExpires = 696;

struct NativeAdapter {
  std::string description;
  std::string name;
  uint8_t mac_last = 0;
  uint32_t type = 6;
  std::string ip;
  std::string gateway;
  std::vector<std::string> further_ips;  // entries after the first IP address
  bool current_is_first_ip = false;
  uint64_t lease_expires = 0;
};

// A 64-bit GetAdaptersInfo buffer at `base`: the records one after another,
// the further address entries behind them, every pointer relative to `base`.
std::vector<uint8_t> NativeBuffer(const std::vector<NativeAdapter>& adapters, uint64_t base) {
  std::size_t further = 0;
  for (const auto& a : adapters) further += a.further_ips.size();
  std::vector<uint8_t> b(adapters.size() * kNativeAdapterSize + further * kNativeAddrSize, 0);
  std::size_t entry = adapters.size() * kNativeAdapterSize;
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const NativeAdapter& a = adapters[i];
    const std::size_t at = i * kNativeAdapterSize;
    Put64(b, at, i + 1 < adapters.size() ? base + at + kNativeAdapterSize : 0);
    Put32(b, at + kNComboIndex, 7);
    PutText(b, at + kNAdapterName, a.name);
    PutText(b, at + kNDescription, a.description);
    Put32(b, at + kNAddressLength, 6);
    const uint8_t mac[8] = {0x00, 0x0C, 0x29, 0xAA, 0xBB, a.mac_last, 0xEE, 0xFF};
    std::memcpy(b.data() + at + kNAddress, mac, 8);
    Put32(b, at + kNIndex, static_cast<uint32_t>(i + 10));
    Put32(b, at + kNType, a.type);
    Put32(b, at + kNDhcpEnabled, 1);
    if (a.current_is_first_ip) Put64(b, at + kNCurrentIpAddress, base + at + kNIpAddressList);
    PutText(b, at + kNIpAddressList + 8, a.ip);
    PutText(b, at + kNIpAddressList + 24, "255.255.255.0");
    PutText(b, at + kNGatewayList + 8, a.gateway);
    PutText(b, at + kNDhcpServer + 8, a.gateway);
    Put32(b, at + kNHaveWins, 0);
    Put64(b, at + kNLeaseObtained, 0x0000000100000002ull);
    Put64(b, at + kNLeaseExpires, a.lease_expires);
    std::size_t link = at + kNIpAddressList;  // the entry whose Next leads on
    for (const auto& ip : a.further_ips) {
      Put64(b, link, base + entry);
      PutText(b, entry + 8, ip);
      PutText(b, entry + 24, "255.255.0.0");
      Put32(b, entry + 40, 3);
      link = entry;
      entry += kNativeAddrSize;
    }
  }
  return b;
}

// The expected 640-byte form of one adapter.
std::vector<uint8_t> Packed(const NativeAdapter& a, std::size_t i, uint32_t next, uint32_t current,
                            uint32_t first_ip_next) {
  std::vector<uint8_t> p(r::kAdapterSize, 0);
  Put32(p, r::kAdNext, next);
  Put32(p, r::kAdComboIndex, 7);
  PutText(p, r::kAdAdapterName, a.name);
  PutText(p, r::kAdDescription, a.description);
  Put32(p, r::kAdAddressLength, 6);
  const uint8_t mac[8] = {0x00, 0x0C, 0x29, 0xAA, 0xBB, a.mac_last, 0xEE, 0xFF};
  std::memcpy(p.data() + r::kAdAddress, mac, 8);
  Put32(p, r::kAdIndex, static_cast<uint32_t>(i + 10));
  Put32(p, r::kAdType, a.type);
  Put32(p, r::kAdDhcpEnabled, 1);
  Put32(p, r::kAdCurrentIpAddress, current);
  Put32(p, r::kAdIpAddressList + r::kAddrNext, first_ip_next);
  PutText(p, r::kAdIpAddressList + r::kAddrIpAddress, a.ip);
  PutText(p, r::kAdIpAddressList + r::kAddrIpMask, "255.255.255.0");
  PutText(p, r::kAdGatewayList + r::kAddrIpAddress, a.gateway);
  PutText(p, r::kAdDhcpServer + r::kAddrIpAddress, a.gateway);
  Put32(p, r::kAdLeaseObtained, 2);
  Put32(p, r::kAdLeaseExpires, static_cast<uint32_t>(a.lease_expires));
  return p;
}

const std::vector<NativeAdapter> kThree = {
    {"First Ethernet", "{11111111-1111-1111-1111-111111111111}", 1, 6, "192.168.0.20", "192.168.0.1",
     {"10.1.2.3"}, true, 0x0000000123456789ull},
    {"Loopback Pseudo-Interface", "{22222222-2222-2222-2222-222222222222}", 2, 24, "127.0.0.1", "", {}, false,
     0},
    {"Wireless", "{33333333-3333-3333-3333-333333333333}", 3, 71, "172.16.5.9", "172.16.5.1",
     {"172.16.6.9", "172.16.7.9"}, false, 0xFFFFFFFF00000000ull},
};

// Pointers above 4 GiB: every Next leads to the following packed record, the
// other pointers keep their low 32 bits, and a 32-bit process's length counts
// 640 per record and 40 per further address entry.
TEST(AdapterRepackTest, ThreeAdaptersWithFurtherAddressesAbove4GiB) {
  const uint64_t base = 0x00000001'23450000ull;
  const std::vector<uint8_t> native = NativeBuffer(kThree, base);
  ASSERT_EQ(native.size(), 3 * 704 + 3 * 48u);
  EXPECT_EQ(repack::PackedLength(native, base), 3 * 640 + 3 * 40u);

  std::vector<uint8_t> out(3 * 640 + 3 * 40, 0xAA);
  const uint32_t at = 0x00400000;
  ASSERT_TRUE(repack::Repack(native, base, out, at));

  std::vector<uint8_t> expected;
  const uint32_t first_current = static_cast<uint32_t>(base + 440);
  const uint32_t first_further = static_cast<uint32_t>(base + 3 * 704);
  const uint32_t third_further = static_cast<uint32_t>(base + 3 * 704 + 48);
  for (auto [i, next, current, ip_next] :
       {std::tuple<std::size_t, uint32_t, uint32_t, uint32_t>{0, at + 640, first_current, first_further},
        {1, at + 1280, 0, 0},
        {2, 0, 0, third_further}}) {
    const auto p = Packed(kThree[i], i, next, current, ip_next);
    expected.insert(expected.end(), p.begin(), p.end());
  }
  expected.resize(out.size(), 0);
  EXPECT_EQ(out, expected);
}

// The report over the repacking API: the same whole text a 32-bit process
// would give, fields 5 and 7 showing the low 32 bits of the 64-bit pointers.
TEST(AdapterRepackTest, ReportOverRepackedRecords) {
  const std::vector<NativeAdapter> two = {kThree[0], kThree[1]};
  uint64_t last_base = 0;
  auto api = repack::MakeRepackingAdapterApi([&](uint8_t* buffer, uint32_t* length) -> uint32_t {
    const uint64_t base = reinterpret_cast<uintptr_t>(buffer);
    const std::vector<uint8_t> native = NativeBuffer(two, base);
    if (!buffer || *length < native.size()) {
      *length = static_cast<uint32_t>(native.size());
      return 111;
    }
    std::memcpy(buffer, native.data(), native.size());
    last_base = base;
    return 0;
  });
  const std::string report = GetAdaptersReport(*api);
  const std::string nul4(4, '\0'), nul16(16, '\0');
  auto text = [](const std::string& s, std::size_t width) { return s + std::string(width - s.size(), '\0'); };
  const std::string expected =
      "2 Adapter(s):"
      "\r\n[0] First Ethernet\t|\\1|6\t|\\2|00-0C-29-AA-BB-01\t|\\3|" +
      text(kThree[0].name, 260) + "\t|\\4|6\t|\\5|" +
      std::to_string(static_cast<int32_t>(static_cast<uint32_t>(last_base + 440))) + "\t|\\6|1\t|\\7|" +
      std::to_string(static_cast<int32_t>(static_cast<uint32_t>(last_base + 2 * 704))) + "\t|\\8|" +
      text("192.168.0.1", 16) + "\t|\\9|" + text("192.168.0.1", 16) + "\t|\\10|0\t|\\11|" +
      text("192.168.0.20", 16) + "\t|\\12|" + nul16 + "\t|\\13|" + nul16 +
      "\r\n[1] Loopback Pseudo-Interface\t|\\1|6\t|\\2|00-0C-29-AA-BB-02\t|\\3|" + text(kThree[1].name, 260) +
      "\t|\\4|24\t|\\5|0\t|\\6|1\t|\\7|0\t|\\8|" + nul16 + "\t|\\9|" + nul16 + "\t|\\10|0\t|\\11|" +
      text("127.0.0.1", 16) + "\t|\\12|" + nul16 + "\t|\\13|" + nul16;
  EXPECT_EQ(report, expected);
}

// The platform's own answers pass through; a chain that no longer fits the
// packed length asked for is the platform's buffer overflow.
TEST(AdapterRepackTest, SizingAndFillingStatuses) {
  struct Case {
    const char* name;
    std::size_t adapters_at_sizing;
    std::size_t adapters_at_filling;
    uint32_t fill_status;
    std::string report;
  };
  const std::vector<Case> cases = {
      {"nothing to list", 0, 0, 0, "Start Adapter Info ... \r\nBuffer=0 Exit from Adapter info."},
      {"filling call fails", 1, 1, 1168, "Start Adapter Info ... \r\nSTS= 1168 Exit from Adapter info."},
      {"chain grew", 1, 2, 0, "Start Adapter Info ... \r\nSTS= 111 Exit from Adapter info."},
  };
  for (const Case& c : cases) {
    int call = 0;
    auto api = repack::MakeRepackingAdapterApi([&](uint8_t* buffer, uint32_t* length) -> uint32_t {
      ++call;
      // Calls 1 and 2 belong to the sizing, 3 to the filling.
      const std::size_t n = call <= 2 ? c.adapters_at_sizing : c.adapters_at_filling;
      if (n == 0) {
        *length = 0;
        return 232;  // no data
      }
      if (call >= 3 && c.fill_status) return c.fill_status;
      const std::vector<NativeAdapter> list(kThree.begin(), kThree.begin() + static_cast<long>(n));
      const std::vector<uint8_t> native = NativeBuffer(list, reinterpret_cast<uintptr_t>(buffer));
      if (!buffer || *length < native.size()) {
        *length = static_cast<uint32_t>(native.size());
        return 111;
      }
      std::memcpy(buffer, native.data(), native.size());
      return 0;
    });
    EXPECT_EQ(GetAdaptersReport(*api), c.report) << c.name;
  }
}

// Nothing is read outside the platform's buffer: pointers leading out of it,
// a truncated record and a chain that loops are errors; an output buffer too
// small for the records is refused untouched.
TEST(AdapterRepackTest, MalformedChainsAreErrors) {
  const uint64_t base = 0x00000002'00000000ull;
  std::vector<uint8_t> next_outside = NativeBuffer({kThree[1], kThree[1]}, base);
  Put64(next_outside, 0, base + 704 + 8);  // the second record would end past the buffer
  std::vector<uint8_t> entry_outside = NativeBuffer({kThree[0]}, base);
  Put64(entry_outside, kNIpAddressList, base - 48);
  std::vector<uint8_t> loop = NativeBuffer({kThree[1], kThree[1]}, base);
  Put64(loop, 704, base);
  std::vector<uint8_t> short_record(703, 0);
  // Every list of a record leading into one chain of four entries: counted
  // five times over, more entries than the buffer has room for.
  NativeAdapter four = kThree[0];
  four.further_ips = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"};
  std::vector<uint8_t> shared = NativeBuffer({four}, base);
  for (std::size_t list : {kNGatewayList, kNDhcpServer, kNPrimaryWins, kNSecondaryWins}) {
    Put64(shared, list, base + kNativeAdapterSize);
  }
  for (const std::vector<uint8_t>* native : {&next_outside, &entry_outside, &loop, &short_record, &shared}) {
    try {
      repack::PackedLength(*native, base);
      ADD_FAILURE() << "accepted a malformed chain";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kIndexOutOfRange);
    }
  }

  const std::vector<uint8_t> native = NativeBuffer({kThree[1], kThree[1]}, base);
  std::vector<uint8_t> out(1279, 0xAA);
  EXPECT_FALSE(repack::Repack(native, base, out, 0x1000));
  EXPECT_EQ(out, std::vector<uint8_t>(1279, 0xAA));
}

}  // namespace
}  // namespace hostprobe
