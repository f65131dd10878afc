#include "app/machine.h"
#include "platform/snapshot/snapshot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/error.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::ReadFile;
using testing::RunCliCapture;
using testing::ScratchDir;
using testing::WriteFile;

std::string Repeat(const std::string& piece, std::size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

struct BadCase {
  const char* name;
  std::string text;
  std::string message;  // the whole message after "hostprobe: snap.json: "
};

// Every invalid snapshot exits 2 with a message naming the file, the place and
// the problem, and writes nothing to the log.
TEST(SnapshotTest, InvalidSnapshotsAreRejectedWithAPlace) {
  const std::string long_description(133, 'x');
  const BadCase cases[] = {
      {"truncated", "{\"adapters\": {\"records\": [", "line 1, column 27: not valid JSON: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"not an object", "[1, 2]", "top level: expected an object, found array"},
      {"unknown top key", "{\"adapter\": {}}", "adapter: unknown key"},
      {"unknown record key", "{\"adapters\": {\"records\": [{\"descripton\": \"x\"}]}}",
       "adapters.records[0].descripton: unknown key"},
      {"wrong type", "{\"adapters\": {\"needed_length\": \"640\"}}",
       "adapters.needed_length: expected an integer, found string"},
      {"fraction", "{\"interfaces\": {\"rows\": [{\"speed\": 1.5}]}}",
       "interfaces.rows[0].speed: expected an integer, found a fractional number"},
      {"4-byte field too big", "{\"adapters\": {\"records\": [{\"type\": 4294967296}]}}",
       "adapters.records[0].type: number out of range (-2147483648 to 4294967295)"},
      {"4-byte field too small", "{\"adapters\": {\"records\": [{\"type\": -2147483649}]}}",
       "adapters.records[0].type: number out of range (-2147483648 to 4294967295)"},
      {"negative length", "{\"interfaces\": {\"needed_length\": -1}}",
       "interfaces.needed_length: number out of range (0 to 67108864)"},
      {"huge length", "{\"adapters\": {\"needed_length\": 4294967295}}",
       "adapters.needed_length: number out of range (0 to 67108864)"},
      {"probe out of range", "{\"probes\": {\"ldtCheck\": 32768}}",
       "probes.ldtCheck: number out of range (-32768 to 32767)"},
      {"unknown probe", "{\"probes\": {\"ldtcheck\": 0}}", "probes.ldtcheck: unknown key"},
      {"text one byte too long", "{\"adapters\": {\"records\": [{\"description\": \"" + long_description + "\"}]}}",
       "adapters.records[0].description: text longer than the field's 132 bytes"},
      {"ip text one byte too long",
       "{\"adapters\": {\"records\": [{\"gateway_list\": {\"ip_address\": \"1234567890123456.\"}}]}}",
       "adapters.records[0].gateway_list.ip_address: text longer than the field's 16 bytes"},
      {"character beyond a byte", "{\"interfaces\": {\"rows\": [{\"descr\": \"ok\\u0100\"}]}}",
       "interfaces.rows[0].descr: character 3 is beyond U+00FF; a text field holds one byte per character"},
      {"bad address", "{\"adapters\": {\"records\": [{\"address\": \"00:0C:29\"}]}}",
       "adapters.records[0].address: expected two hex digits per byte, joined by \"-\""},
      {"address too long", "{\"interfaces\": {\"rows\": [{\"phys_addr\": \"00-00-00-00-00-00-00-00-00\"}]}}",
       "interfaces.rows[0].phys_addr: more than 8 address bytes"},
      {"drive without letter", "{\"drives\": [{\"ready\": true}]}", "drives[0]: missing key \"letter\""},
      {"drive ready not boolean", "{\"drives\": [{\"letter\": \"C\", \"ready\": 1}]}",
       "drives[0].ready: expected true or false, found a number"},
      {"unknown failing property", "{\"drives\": [{\"letter\": \"C\", \"ready\": true, \"fail\": \"Size\"}]}",
       "drives[0].fail: unknown drive property \"Size\""},
      {"negative size", "{\"drives\": [{\"letter\": \"C\", \"ready\": true, \"total_size\": -1}]}",
       "drives[0].total_size: number out of range (0 to 9223372036854775807)"},
      {"wrong version", "{\"hostprobe_snapshot\": 2}",
       "hostprobe_snapshot: unsupported snapshot version (this build reads version 1)"},
      {"deep nesting", std::string(100, '[') + std::string(100, ']'), "nesting deeper than 32 levels"},
      {"number beyond a double", "{\"probes\": {\"ldtCheck\": 5E555}}",
       "not valid JSON: number overflow parsing '5E555'"},
      {"too many records", "{\"adapters\": {\"records\": [" + Repeat("{},", 104857) + "{}]}}",
       "adapters.records: more records than a 64 MiB buffer holds"},
      {"too many rows", "{\"interfaces\": {\"rows\": [" + Repeat("{},", 78033) + "{}]}}",
       "interfaces.rows: more rows than a 64 MiB buffer holds"},
      {"too many values", "[" + Repeat("0,", 4000000) + "0]", "more than 4000000 values"},
      {"empty file", "", "line 1, column 1: not valid JSON: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteFile("snap.json", c.text);
    const auto r = RunCliCapture({"--replay", "snap.json", "--pass", "1"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "hostprobe: snap.json: " + c.message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
  }
}

TEST(SnapshotTest, UnreadableFilesAreRejected) {
  ScratchDir dir;
  std::filesystem::create_directory("a_dir");
  WriteFile("big.json", "");
  std::filesystem::resize_file("big.json", 100u << 20);  // 100 MB, sparse
  struct {
    std::string file, message;
  } cases[] = {
      {"missing.json", "missing.json: cannot read the snapshot: no such file"},
      {"a_dir", "a_dir: cannot read the snapshot: it is a directory"},
      {"big.json", "big.json: snapshot larger than the limit of 64 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto r = RunCliCapture({"--replay", c.file, "--test"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "hostprobe: " + c.message + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
}

TEST(SnapshotTest, FileWithoutReadPermission) {
  ScratchDir dir;
  WriteFile("secret.json", "{}");
  std::filesystem::permissions("secret.json", std::filesystem::perms::none);
  if (std::ifstream("secret.json").good()) GTEST_SKIP() << "this user reads files without permission (root)";
  const auto r = RunCliCapture({"--replay", "secret.json", "--pass", "1"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "hostprobe: secret.json: cannot read the snapshot: Permission denied\n");
  EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
}

TEST(SnapshotTest, FixedWidthTextsAndAddressesBecomeRecordBytes) {
  const SnapshotData d = ParseSnapshot(
      R"({"adapters": {"records": [{"description": "Caf\u00e9\u0000x", "address_length": -1,
          "address": "02-0a-FF", "ip_address_list": {"next": 4294967295, "ip_address": "1.2.3.4"}}]},
          "interfaces": {"rows": [{"descr": "eth0"}, {"descr": "", "descr_len": 0}]}})",
      "inline");
  ASSERT_EQ(d.adapters.records.size(), 1u);
  EXPECT_EQ(d.adapters.needed_length, 640u);
  const uint8_t* r = d.adapters.records[0].data();
  const std::string description(reinterpret_cast<const char*>(r + records::kAdDescription),
                                records::kAdDescriptionWidth);
  EXPECT_EQ(description, std::string("Caf\xE9\0x", 6) + std::string(126, '\0'));
  EXPECT_EQ(records::GetU32(r + records::kAdAddressLength), 0xFFFFFFFFu);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + records::kAdAddress), 8),
            std::string("\x02\x0A\xFF\0\0\0\0\0", 8));
  EXPECT_EQ(records::GetU32(r + records::kAdIpAddressList + records::kAddrNext), 0xFFFFFFFFu);
  // The row's description length defaults to the text's bytes plus its NUL.
  EXPECT_EQ(d.interfaces.needed_length, 4u + 2 * 860);
  EXPECT_EQ(d.interfaces.num_entries, 2u);
  EXPECT_EQ(records::GetU32(d.interfaces.rows[0].data() + records::kRowDescrLen), 5u);
  EXPECT_EQ(records::GetU32(d.interfaces.rows[1].data() + records::kRowDescrLen), 0u);
}

TEST(SnapshotTest, MissingSectionsMeanNothingThere) {
  ScratchDir dir;
  Platform p = MakeReplayPlatform(ParseSnapshot("{\"timestamp\": \"t\"}", "inline"));
  EXPECT_EQ(p.adapters->NeededLength(), 0u);
  EXPECT_EQ(p.interfaces->NeededLength(), 0u);
  EXPECT_EQ(p.drives->Open()->Count(), 0);
  const ProbeTable table = p.probes->Load();
  for (const auto& routine : table) EXPECT_EQ(routine(), 0);
  EXPECT_EQ(p.clock->GeneralDate(), "t");
}

// Records lie 640 bytes apart, chained in order; a buffer shorter than the
// chain cuts it off rather than being written past.
TEST(SnapshotTest, AdapterChainFillsExactlyTheBuffer) {
  Platform p = MakeReplayPlatform(ParseSnapshot(
      R"({"adapters": {"needed_length": 1000, "records": [{"type": 1}, {"type": 2}, {"type": 3}]}})", "inline"));
  ASSERT_EQ(p.adapters->NeededLength(), 1000u);
  std::vector<uint8_t> buffer(1000, 0xAA);
  uint32_t location = 0;
  ASSERT_EQ(p.adapters->Fill(buffer, &location), 0u);
  EXPECT_EQ(location, kSnapshotBufferLocation);
  EXPECT_EQ(records::GetU32(buffer.data() + records::kAdNext), location + 640);
  EXPECT_EQ(records::GetU32(buffer.data() + records::kAdType), 1u);
  // The second record is cut at the buffer's end: its Next is there, its Type is not.
  EXPECT_EQ(records::GetU32(buffer.data() + 640 + records::kAdNext), location + 1280);
}

TEST(SnapshotTest, FailingFillReturnsItsStatus) {
  Platform p = MakeReplayPlatform(ParseSnapshot(
      R"({"adapters": {"fill_status": 111, "records": [{}]}, "interfaces": {"fill_status": 122, "rows": [{}]}})",
      "inline"));
  std::vector<uint8_t> buffer(p.adapters->NeededLength());
  uint32_t location = 0;
  EXPECT_EQ(p.adapters->Fill(buffer, &location), 111u);
  std::vector<uint8_t> table(p.interfaces->NeededLength());
  EXPECT_EQ(p.interfaces->Fill(table), 122u);
}

// A capture read back gives the same platform facts.
TEST(SnapshotTest, CaptureRoundTrips) {
  ScratchDir dir;
  const std::string text = R"({"timestamp": "1.1.2027", "thousands_separator": ".",
    "adapters": {"records": [{"description": "A\u00ff", "address": "00-0C-29-ED-BF-1C", "address_length": 6,
                              "adapter_name": "{X}", "type": 6, "dhcp_enabled": 1,
                              "ip_address_list": {"ip_address": "192.168.75.128", "ip_mask": "255.255.255.0"}},
                             {"description": "B", "lease_expires": 4294967295}]},
    "interfaces": {"num_entries": 3, "rows": [{"descr": "lo", "type": 24, "speed": 2500000000, "name": "lo"}]},
    "drives": [{"letter": "A", "ready": false},
               {"letter": "C", "ready": true, "volume_name": "DATA", "type": 2, "file_system": "NTFS",
                "serial_number": -5, "root_path": "C:\\", "total_size": 40007729152, "free_space": 1}],
    "probes": {"IsInsideVPC": 1, "IsInsideVMWare": 2, "IsInsideVMWare2": 3, "IsInsideVMWare3": 4,
               "ldtCheck": -1, "mswCheck": 0, "vmwareCheck": 32767}})";
  Platform first = MakeReplayPlatform(ParseSnapshot(text, "first"));
  const std::string captured = CaptureMachine(first);
  Platform second = MakeReplayPlatform(ParseSnapshot(captured, "second"));
  // Equal but for the informational block, which holds the capture's time.
  const auto without_captured = [](std::string text) {
    const auto begin = text.find("  \"captured\"");
    return text.erase(begin, text.find("},\n", begin) + 3 - begin);
  };
  EXPECT_EQ(without_captured(CaptureMachine(second)), without_captured(captured));

  auto adapter_bytes = [](Platform& p) {
    std::vector<uint8_t> b(p.adapters->NeededLength());
    uint32_t location = 0;
    p.adapters->Fill(b, &location);
    return b;
  };
  EXPECT_EQ(adapter_bytes(first), adapter_bytes(second));
  auto table_bytes = [](Platform& p) {
    std::vector<uint8_t> b(p.interfaces->NeededLength());
    p.interfaces->Fill(b);
    return b;
  };
  EXPECT_EQ(table_bytes(first), table_bytes(second));
  EXPECT_EQ(second.clock->ThousandsSeparator(), ".");
}

}  // namespace
}  // namespace hostprobe
