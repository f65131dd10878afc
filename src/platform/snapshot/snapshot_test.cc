#include "app/machine.h"
#include "platform/snapshot/snapshot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/error.h"
#include "platform/live/live.h"
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
      {"truncated", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [", "line 1, column 52: not valid JSON: unexpected end of input; expected a value or ']'"},
      {"not an object", "[1, 2]", "top level: expected an object, found array"},
      {"unknown top key", "{\"hostprobe_snapshot\": 1, \"adapter\": {}}", "adapter: unknown key"},
      {"unknown record key", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [{\"descripton\": \"x\"}]}}",
       "adapters.records[0].descripton: unknown key"},
      {"wrong type", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"needed_length\": \"640\"}}",
       "adapters.needed_length: expected an integer, found string"},
      {"fraction", "{\"hostprobe_snapshot\": 1, \"interfaces\": {\"rows\": [{\"speed\": 1.5}]}}",
       "interfaces.rows[0].speed: expected an integer, found a fractional number"},
      {"4-byte field too big", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [{\"type\": 4294967296}]}}",
       "adapters.records[0].type: number out of range (-2147483648 to 4294967295)"},
      {"4-byte field too small", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [{\"type\": -2147483649}]}}",
       "adapters.records[0].type: number out of range (-2147483648 to 4294967295)"},
      {"negative length", "{\"hostprobe_snapshot\": 1, \"interfaces\": {\"needed_length\": -1}}",
       "interfaces.needed_length: number out of range (0 to 67108864)"},
      {"huge length", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"needed_length\": 4294967295}}",
       "adapters.needed_length: number out of range (0 to 67108864)"},
      {"probe out of range", "{\"hostprobe_snapshot\": 1, \"probes\": {\"ldtCheck\": 32768}}",
       "probes.ldtCheck: number out of range (-32768 to 32767)"},
      {"unknown probe", "{\"hostprobe_snapshot\": 1, \"probes\": {\"ldtcheck\": 0}}", "probes.ldtcheck: unknown key"},
      {"text one byte too long", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [{\"description\": \"" + long_description + "\"}]}}",
       "adapters.records[0].description: text longer than the field's 132 bytes"},
      {"ip text one byte too long",
       "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [{\"gateway_list\": {\"ip_address\": \"1234567890123456.\"}}]}}",
       "adapters.records[0].gateway_list.ip_address: text longer than the field's 16 bytes"},
      {"character beyond a byte", "{\"hostprobe_snapshot\": 1, \"interfaces\": {\"rows\": [{\"descr\": \"ok\\u0100\"}]}}",
       "interfaces.rows[0].descr: character 3 is beyond U+00FF; a text field holds one byte per character"},
      {"bad address", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [{\"address\": \"00:0C:29\"}]}}",
       "adapters.records[0].address: expected two hex digits per byte, joined by \"-\""},
      {"address too long", "{\"hostprobe_snapshot\": 1, \"interfaces\": {\"rows\": [{\"phys_addr\": \"00-00-00-00-00-00-00-00-00\"}]}}",
       "interfaces.rows[0].phys_addr: more than 8 address bytes"},
      {"drive without letter", "{\"hostprobe_snapshot\": 1, \"drives\": [{\"ready\": true}]}", "drives[0]: missing key \"letter\""},
      {"drive ready not boolean", "{\"hostprobe_snapshot\": 1, \"drives\": [{\"letter\": \"C\", \"ready\": 1}]}",
       "drives[0].ready: expected true or false, found a number"},
      {"unknown failing property", "{\"hostprobe_snapshot\": 1, \"drives\": [{\"letter\": \"C\", \"ready\": true, \"fail\": \"Size\"}]}",
       "drives[0].fail: unknown drive property \"Size\""},
      {"negative size", "{\"hostprobe_snapshot\": 1, \"drives\": [{\"letter\": \"C\", \"ready\": true, \"total_size\": -1}]}",
       "drives[0].total_size: number out of range (0 to 9223372036854775807)"},
      {"wrong version", "{\"hostprobe_snapshot\": 2}",
       "hostprobe_snapshot: unsupported snapshot version (this build reads version 1)"},
      {"deep nesting", std::string(100, '[') + std::string(100, ']'), "nesting deeper than 32 levels"},
      {"number beyond a double", "{\"hostprobe_snapshot\": 1, \"probes\": {\"ldtCheck\": 5E555}}",
       "line 1, column 50: not valid JSON: the number 5E555 is too large"},
      {"too many records", "{\"hostprobe_snapshot\": 1, \"adapters\": {\"records\": [" + Repeat("{},", 104857) + "{}]}}",
       "adapters.records: more records than a 64 MiB buffer holds"},
      {"too many rows", "{\"hostprobe_snapshot\": 1, \"interfaces\": {\"rows\": [" + Repeat("{},", 78033) + "{}]}}",
       "interfaces.rows: more rows than a 64 MiB buffer holds"},
      {"too many values", "[" + Repeat("0,", 4000000) + "0]", "more than 4000000 values"},
      {"empty file", "", "line 1, column 1: not valid JSON: unexpected end of input; expected a value"},
      // Nothing passes silently: a key given twice at any level, a missing
      // version, an informational block that is not texts, trailing bytes.
      {"duplicate section", R"({"hostprobe_snapshot": 1, "probes": null, "probes": {}})", "probes: duplicate key"},
      {"duplicate version", R"({"hostprobe_snapshot": 1, "hostprobe_snapshot": 1})",
       "hostprobe_snapshot: duplicate key"},
      {"duplicate record key", R"({"hostprobe_snapshot": 1, "adapters": {"records": [{}, {"type": 1, "type": 2}]}})",
       "adapters.records[1].type: duplicate key"},
      {"duplicate in an address entry",
       R"({"hostprobe_snapshot": 1, "adapters": {"records": [{"gateway_list": {"next": 0, "next": 0}}]}})",
       "adapters.records[0].gateway_list.next: duplicate key"},
      {"duplicate captured key", R"({"hostprobe_snapshot": 1, "captured": {"host": "a", "host": "b"}})",
       "captured.host: duplicate key"},
      {"no version", "{}", "top level: missing key \"hostprobe_snapshot\""},
      {"sections without version", R"({"probes": null, "timestamp": "t"})", "top level: missing key \"hostprobe_snapshot\""},
      {"captured not an object", R"({"hostprobe_snapshot": 1, "captured": 5})",
       "captured: expected an object, found a number"},
      {"captured holding a number", R"({"hostprobe_snapshot": 1, "captured": {"host": "h", "os": 5}})",
       "captured.os: expected a string, found a number"},
      {"captured holding an object", R"({"hostprobe_snapshot": 1, "captured": {"time": {}}})",
       "captured.time: missing key \"bytes\""},
      {"bytes beside another key", R"({"hostprobe_snapshot": 1, "drives": [{"letter": {"bytes": "C", "x": 1}, "ready": false}]})",
       "drives[0].letter.x: unknown key"},
      {"bytes not a string", R"({"hostprobe_snapshot": 1, "drives": [{"letter": {"bytes": 5}, "ready": false}]})",
       "drives[0].letter.bytes: expected a string, found a number"},
      {"bytes beyond U+00FF", R"({"hostprobe_snapshot": 1, "drives": [{"letter": {"bytes": "C\u0100"}, "ready": false}]})",
       "drives[0].letter.bytes: character 2 is beyond U+00FF; it holds one byte per character"},
      {"separator bytes too long", R"({"hostprobe_snapshot": 1, "thousands_separator": {"bytes": "\u00a0\u00a0\u00a0\u00a0"}})",
       "thousands_separator: text longer than 3 bytes"},
      {"timestamp bytes not printable", R"({"hostprobe_snapshot": 1, "timestamp": {"bytes": "1.1.2027\u001b"}})",
       "timestamp: byte 9 is not printable"},
      {"garbage after a NUL", std::string("{\"hostprobe_snapshot\": 1}\0 garbage {", 36),
       "line 1, column 26: not valid JSON: unexpected NUL byte; expected end of input"},
      {"NUL after a line break", std::string("{\"hostprobe_snapshot\": 1}\n\0", 27),
       "line 2, column 1: not valid JSON: unexpected NUL byte; expected end of input"},
      {"NUL inside the value", std::string("{\"hostprobe_snapshot\": 1, \"probes\": \0}", 38),
       "line 1, column 37: not valid JSON: unexpected NUL byte; expected a value"},
      {"second value", R"({"hostprobe_snapshot": 1} {})",
       "line 1, column 27: not valid JSON: unexpected '{'; expected end of input"},
      // Every number of a snapshot is an integer in plain digits.
      {"integer in exponent form", R"({"hostprobe_snapshot": 1, "probes": {"ldtCheck": 1e2}})",
       "probes.ldtCheck: number out of range (-32768 to 32767 in plain digits)"},
      {"whole number with a fraction part", R"({"hostprobe_snapshot": 1, "adapters": {"records": [{"type": 6.0}]}})",
       "adapters.records[0].type: number out of range (-2147483648 to 4294967295 in plain digits)"},
      {"exponent beyond the range", R"({"hostprobe_snapshot": 1, "adapters": {"needed_length": 1E10}})",
       "adapters.needed_length: number out of range (0 to 67108864)"},
      {"integer beyond 64 bits", R"({"hostprobe_snapshot": 1, "adapters": {"records": [{"type": 18446744073709551616}]}})",
       "adapters.records[0].type: number out of range (-2147483648 to 4294967295)"},
      {"negative integer beyond 64 bits",
       R"({"hostprobe_snapshot": 1, "drives": [{"letter": "C", "ready": true, "free_space": -9223372036854775809}]})",
       "drives[0].free_space: number out of range (0 to 9223372036854775807)"},
      {"version in exponent form", R"({"hostprobe_snapshot": 1e0})",
       "hostprobe_snapshot: number out of range (0 to 1000 in plain digits)"},
      {"exponent for a text", R"({"hostprobe_snapshot": 1, "timestamp": 1e2})",
       "timestamp: expected a string, found a number"},
      {"fraction in exponent form", R"({"hostprobe_snapshot": 1, "probes": {"ldtCheck": 5e-1}})",
       "probes.ldtCheck: expected an integer, found a fractional number"},
      // Outside text in a message is shown escaped.
      {"key with a NUL and an escape sequence", "{\"hostprobe_snapshot\": 1, \"a\\u0000b\\u001b[2J\": 1}",
       "a\\x00b\\x1b[2J: unknown key"},
      {"nested key with a line break", R"({"hostprobe_snapshot": 1, "drives": [{"letter": "C", "ready": true, "x\ny\u009b": 1}]})",
       "drives[0].x\\ny\\xc2\\x9b: unknown key"},
      {"duplicate key with a control character", R"({"hostprobe_snapshot": 1, "\r": 1, "\r": 2})",
       "\\r: duplicate key"},
      {"failing property with an escape sequence",
       R"({"hostprobe_snapshot": 1, "drives": [{"letter": "C", "ready": true, "fail": "\u001b]0;x\u0007"}]})",
       "drives[0].fail: unknown drive property \"\\x1b]0;x\\x07\""},
      // The timestamp and separator go into every record as they are: short
      // printable text only, as a locale gives.
      {"timestamp of 65 characters", "{\"hostprobe_snapshot\": 1, \"timestamp\": \"" + std::string(65, '1') + "\"}",
       "timestamp: text longer than 64 characters"},
      {"timestamp of 65 two-byte characters",
       "{\"hostprobe_snapshot\": 1, \"timestamp\": \"" + Repeat("\xC3\xA9", 65) + "\"}",
       "timestamp: text longer than 64 characters"},
      {"timestamp with a line break", R"({"hostprobe_snapshot": 1, "timestamp": "6.12.2026\r\n\"1:11"})",
       "timestamp: character 10 is not printable"},
      {"timestamp with a NUL", R"({"hostprobe_snapshot": 1, "timestamp": "6.12.2026\u0000"})",
       "timestamp: character 10 is not printable"},
      {"timestamp with a TAB", R"({"hostprobe_snapshot": 1, "timestamp": "\t"})", "timestamp: character 1 is not printable"},
      {"timestamp with DEL", R"({"hostprobe_snapshot": 1, "timestamp": "6.12.\u007f"})",
       "timestamp: character 6 is not printable"},
      {"timestamp with a C1 control", R"({"hostprobe_snapshot": 1, "timestamp": "\u00e9\u009b2J"})",
       "timestamp: character 2 is not printable"},
      {"timestamp with a line separator", R"({"hostprobe_snapshot": 1, "timestamp": "1\u2028"})",
       "timestamp: character 2 is not printable"},
      {"separator of 4 characters", R"({"hostprobe_snapshot": 1, "thousands_separator": "\u00a0\u00a0\u00a0."})",
       "thousands_separator: text longer than 3 characters"},
      {"separator with a control character", R"({"hostprobe_snapshot": 1, "thousands_separator": "\n"})",
       "thousands_separator: character 1 is not printable"},
      {"separator not a text", R"({"hostprobe_snapshot": 1, "thousands_separator": 44})",
       "thousands_separator: expected a string, found a number"},
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
      {"missing.json", "missing.json: cannot read the snapshot: No such file or directory"},
      {"a_dir", "a_dir: cannot read the snapshot: it is a directory"},
      {"big.json", "big.json: snapshot larger than the limit of 64 MiB"},
      {std::string(300, 'n'), std::string(300, 'n') + ": cannot read the snapshot: " + std::strerror(ENAMETOOLONG)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto r = RunCliCapture({"--replay", c.file, "--test"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "hostprobe: " + c.message + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
}

// What a locale may give passes: non-ASCII month names and separators (a
// no-break space, a narrow one), texts at their longest, no separator at all.
TEST(SnapshotTest, LocaleTextsWithinTheLimitsAreAccepted) {
  const struct {
    std::string timestamp, separator;
  } cases[] = {
      {"6. prosince 2026 1:11:54", "\xC2\xA0"},            // U+00A0
      {"06-d\xC3\xA9" "c.-2026 01:11:54", "\xE2\x80\xAF"},  // U+202F
      {std::string(64, '9'), "'"},
      {Repeat("\xC3\xA9", 64), ""},
      {Repeat("\xE4\xB8\x80", 64), "..."},
      {"\"quoted\" 1:11", ",\xC2\xA0,"},
      {"", ","},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timestamp);
    const nlohmann::json snapshot = {
        {"hostprobe_snapshot", 1}, {"timestamp", c.timestamp}, {"thousands_separator", c.separator}};
    const SnapshotData d = ParseSnapshot(snapshot.dump(), "inline");
    EXPECT_EQ(d.timestamp, c.timestamp);
    EXPECT_EQ(d.thousands_separator, c.separator);
  }
  // The informational block may hold any texts, or nothing.
  EXPECT_NO_THROW(ParseSnapshot(R"({"hostprobe_snapshot": 1, "captured": {}})", "inline"));
  EXPECT_NO_THROW(ParseSnapshot(R"({"hostprobe_snapshot": 1, "captured": {"host": "h\u0000", "x": ""}})", "inline"));
}

// A file name reaches messages escaped: a name cannot drive the terminal.
TEST(SnapshotTest, FileNamesInMessagesAreEscaped) {
  const struct {
    std::string text, message;
  } cases[] = {
      {"[]", "top level: expected an object, found array"},
      {"{", "line 1, column 2: not valid JSON: unexpected end of input; expected a key or '}'"},
      {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[", "nesting deeper than 32 levels"},
  };
  for (const auto& c : cases) {
    try {
      ParseSnapshot(c.text, "a\nb\x1b[2J\x7f.json");
      ADD_FAILURE() << "accepted " << c.text;
    } catch (const SnapshotError& e) {
      EXPECT_EQ(std::string(e.what()), "a\\nb\\x1b[2J\\x7f.json: " + c.message);
    }
  }
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
      R"({"hostprobe_snapshot": 1, "adapters": {"records": [{"description": "Caf\u00e9\u0000x", "address_length": -1,
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
  Platform p = MakeReplayPlatform(ParseSnapshot("{\"hostprobe_snapshot\": 1, \"timestamp\": \"t\"}", "inline"));
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
      R"({"hostprobe_snapshot": 1, "adapters": {"needed_length": 1000, "records": [{"type": 1}, {"type": 2}, {"type": 3}]}})", "inline"));
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
      R"({"hostprobe_snapshot": 1, "adapters": {"fill_status": 111, "records": [{}]}, "interfaces": {"fill_status": 122, "rows": [{}]}})",
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
  const std::string text = R"({"hostprobe_snapshot": 1, "timestamp": "1.1.2027", "thousands_separator": ".",
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
  EXPECT_EQ(second.clock->GeneralDate(), "1.1.2027");
}

// A capture of a replay keeps the snapshot's timestamp, so that replaying the
// capture writes the same log, byte for byte, as replaying the original.
TEST(SnapshotTest, CaptureOfAReplayReplaysToTheSameLog) {
  int compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(HOSTPROBE_FIXTURES)) {
    const std::string fixture = entry.path().string();
    SCOPED_TRACE(fixture);
    ScratchDir dir;
    const auto capture = RunCliCapture({"--replay", fixture, "--capture", "-"});
    ASSERT_EQ(capture.code, 0) << capture.err;
    const SnapshotData original = ReadSnapshotFile(fixture);
    const SnapshotData captured = ParseSnapshot(capture.out, "capture");
    EXPECT_EQ(captured.timestamp, original.timestamp);
    if (!original.timestamp) continue;  // the live clock: no two runs agree
    WriteFile("capture.json", capture.out);
    std::filesystem::create_directory("a");
    std::filesystem::create_directory("b");
    std::filesystem::current_path("a");
    const auto first = RunCliCapture({"--replay", fixture, "--pass", "1"});
    std::filesystem::current_path("../b");
    const auto second = RunCliCapture({"--replay", "../capture.json", "--pass", "1"});
    std::filesystem::current_path("..");
    EXPECT_EQ(second.code, first.code);
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(second.err, first.err);
    EXPECT_EQ(ReadFile("b/TEST_OUT.TXT"), ReadFile("a/TEST_OUT.TXT"));
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

// A live clock fixes no timestamp: a capture of the live machine has none.
TEST(SnapshotTest, OnlyASnapshotClockFixesATimestamp) {
  EXPECT_EQ(FixedTimestamp(*MakeClock()), std::nullopt);
  Platform fixed = MakeReplayPlatform(ParseSnapshot(R"({"hostprobe_snapshot": 1, "timestamp": "t\u00e9"})", "inline"));
  EXPECT_EQ(FixedTimestamp(*fixed.clock), "t\xC3\xA9");
  Platform open = MakeReplayPlatform(ParseSnapshot(R"({"hostprobe_snapshot": 1})", "inline"));
  EXPECT_EQ(FixedTimestamp(*open.clock), std::nullopt);
}

}  // namespace
}  // namespace hostprobe
