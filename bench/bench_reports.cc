// Report builders at scale. Each builder should be linear in its input: the
// Complexity lines give the fitted coefficient and its RMS error for O(N).
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "session/session.h"
#include "bytes_sources.h"
#include "drives/drives_report.h"
#include "network/adapters_report.h"
#include "network/interfaces_report.h"
#include "platform/records.h"
#include "app/machine.h"
#include "platform/live/live.h"
#include "platform/snapshot/snapshot.h"

namespace {

using namespace hostprobe;
namespace rec = records;

constexpr uint32_t kLocation = 0x00100000;

void Put(uint8_t* p, const char* text) { std::memcpy(p, text, std::strlen(text)); }

std::vector<uint8_t> AdapterChain(std::size_t n) {
  std::vector<uint8_t> b(n * rec::kAdapterSize);
  for (std::size_t i = 0; i < n; ++i) {
    uint8_t* r = b.data() + i * rec::kAdapterSize;
    rec::PutU32(r + rec::kAdNext, i + 1 == n ? 0 : kLocation + static_cast<uint32_t>((i + 1) * rec::kAdapterSize));
    Put(r + rec::kAdAdapterName, "{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}");
    Put(r + rec::kAdDescription, "Example Ethernet Adapter");
    rec::PutU32(r + rec::kAdAddressLength, 6);
    rec::PutU32(r + rec::kAdType, 6);
    Put(r + rec::kAdIpAddressList + rec::kAddrIpAddress, "192.168.0.20");
    Put(r + rec::kAdGatewayList + rec::kAddrIpAddress, "192.168.0.1");
  }
  return b;
}

std::vector<uint8_t> InterfaceTable(std::size_t n) {
  std::vector<uint8_t> b(rec::kTableRows + n * rec::kRowSize);
  rec::PutU32(b.data(), static_cast<uint32_t>(n));
  for (std::size_t i = 0; i < n; ++i) {
    uint8_t* r = b.data() + rec::kTableRows + i * rec::kRowSize;
    rec::PutU32(r + rec::kRowType, 6);
    rec::PutU32(r + rec::kRowSpeed, 1000000000);
    rec::PutU32(r + rec::kRowAdminStatus, 1);
    rec::PutU32(r + rec::kRowDescrLen, 25);
    Put(r + rec::kRowDescr, "Example Ethernet Adapter");
  }
  return b;
}

SnapshotData Drives(std::size_t n) {
  SnapshotData d;
  for (std::size_t i = 0; i < n; ++i) {
    SnapshotDrive drive;
    drive.letter = "/mnt/disk" + std::to_string(i);
    drive.ready = i % 10 != 0;
    drive.volume_name = "DATA";
    drive.type = static_cast<int32_t>(i % 6);
    drive.file_system = "ext4";
    drive.serial_number = static_cast<int32_t>(i * 7919);
    drive.root_path = drive.letter;
    drive.total_size = 40007729152;
    drive.free_space = 12345678848;
    d.drives.push_back(drive);
  }
  return d;
}

void BM_AdaptersReport(benchmark::State& state) {
  testing::BytesAdapterApi api(AdapterChain(static_cast<std::size_t>(state.range(0))), kLocation);
  for (auto _ : state) benchmark::DoNotOptimize(GetAdaptersReport(api));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_AdaptersReport)->Arg(1)->Arg(100)->Arg(32767)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_InterfacesReport(benchmark::State& state) {
  testing::BytesTableApi api(InterfaceTable(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(GetInterfacesReport(api));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_InterfacesReport)->Arg(300)->Arg(32767)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

void BM_DrivesReport(benchmark::State& state) {
  Platform p = MakeReplayPlatform(Drives(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(GetDrivesReport(*p.drives, ","));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_DrivesReport)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

class CountingLog : public LogFile {
 public:
  void Append(std::string_view bytes) override { benchmark::DoNotOptimize(bytes.size()); }
};

// A whole pass over a large snapshot: 32,767 adapters and interfaces and
// 1,000 drives, with the log kept in memory.
void BM_WholePass(benchmark::State& state) {
  SnapshotData d = Drives(1000);
  d.timestamp = "6.12.2026 1:11:54";
  d.thousands_separator = ",";
  const std::vector<uint8_t> chain = AdapterChain(32767);
  for (std::size_t i = 0; i < 32767; ++i) {
    std::array<uint8_t, rec::kAdapterSize> r{};
    std::memcpy(r.data(), chain.data() + i * rec::kAdapterSize, rec::kAdapterSize);
    d.adapters.records.push_back(r);
  }
  d.adapters.needed_length = 32767 * rec::kAdapterSize;
  const std::vector<uint8_t> table = InterfaceTable(32767);
  for (std::size_t i = 0; i < 32767; ++i) {
    std::array<uint8_t, rec::kRowSize> r{};
    std::memcpy(r.data(), table.data() + rec::kTableRows + i * rec::kRowSize, rec::kRowSize);
    d.interfaces.rows.push_back(r);
  }
  d.interfaces.num_entries = 32767;
  d.interfaces.needed_length = static_cast<uint32_t>(table.size());
  d.probes.results.fill(int16_t{0});
  Platform p = MakeReplayPlatform(std::move(d));
  p.log = std::make_unique<CountingLog>();
  MemoryTextBox box;
  Session session(p, box);
  for (auto _ : state) session.Command1_Click(0);
}
BENCHMARK(BM_WholePass)->Unit(benchmark::kMillisecond);

// Tests 1 and 2 on this machine's live sources (four gatherings: the sizing
// and filling calls of each report). Run it in a network namespace with many
// links to see the cost per link, e.g. 300 bridges under `unshare -n`.
void BM_LiveNetworkReports(benchmark::State& state) {
  Platform live = MakeLivePlatform();
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetAdaptersReport(*live.adapters));
    benchmark::DoNotOptimize(GetInterfacesReport(*live.interfaces));
  }
}
BENCHMARK(BM_LiveNetworkReports)->Unit(benchmark::kMillisecond);

}  // namespace
