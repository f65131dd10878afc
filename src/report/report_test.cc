#include "report/report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/machine.h"
#include "network/mac_text.h"
#include "platform/error.h"
#include "platform/snapshot/snapshot.h"
#include "report/redact.h"
#include "session/session.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Fixture;
using testing::ReadFile;
using testing::ScratchDir;
using testing::SplitRecords;

ReportContext Replayed(bool redacted = false) {
  ReportContext context;
  context.replayed = true;
  context.redacted = redacted;
  return context;
}

const ToUtf8 kAsIs = [](std::string_view text) { return std::string(text); };

const char* const kFixtures[] = {
    "adapters_example.json", "adapters_three.json",   "drives_example.json",
    "drives_fail.json",      "probes_missing_routine.json", "probes_no_library.json",
    "probes_vmware.json",    "reference_vm.json",     "window_no_probes.json",
    "window_plain.json",
};

ReportFacts FixtureReport(const std::string& name) {
  Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture(name)));
  return GatherReport(platform, Replayed());
}

// The messages of a log's records: what follows the timestamp and its TAB,
// without the closing quote and CR LF.
std::vector<std::string> Messages(const std::string& log) {
  std::vector<std::string> out;
  for (const std::string& record : SplitRecords(log)) {
    const std::size_t tab = record.find('\t');
    out.push_back(record.substr(tab + 1, record.size() - tab - 4));
  }
  return out;
}

std::vector<std::string> Split(const std::string& text, const std::string& by) {
  std::vector<std::string> out;
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find(by, at);
    out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return out;
    at = end + by.size();
  }
}

std::string Cut(const std::string& field) { return field.substr(0, field.find('\0')); }

std::string Mac(const std::array<uint8_t, 6>& mac) {
  std::array<uint8_t, 8> eight{};
  std::copy(mac.begin(), mac.end(), eight.begin());
  return MacToText(eight);
}

void ExpectAdaptersAgree(const std::string& message, const ReportAdapters& a) {
  if (a.status == "empty") {
    EXPECT_EQ(message, "1.\tStart Adapter Info ... \r\nBuffer=0 Exit from Adapter info.");
    return;
  }
  if (a.status == "failed") {
    EXPECT_EQ(message, "1.\tStart Adapter Info ... \r\nSTS= " + std::to_string(*a.fill_status) +
                           " Exit from Adapter info.");
    return;
  }
  ASSERT_EQ(a.status, "listed");
  const std::vector<std::string> lines = Split(message, "\r\n");
  ASSERT_EQ(lines.size(), a.list.size() + 1);
  EXPECT_EQ(lines[0], "1.\t" + std::to_string(*a.count) + " Adapter(s):");
  for (std::size_t i = 0; i < a.list.size(); ++i) {
    const ReportAdapter& r = a.list[i];
    const std::vector<std::string> f = Split(lines[i + 1], "\t");
    ASSERT_EQ(f.size(), 14u) << lines[i + 1];
    EXPECT_EQ(f[0], "[" + std::to_string(r.index) + "] " + r.description);
    EXPECT_EQ(f[1], "|\\1|" + std::to_string(r.address_length));
    EXPECT_EQ(f[2], "|\\2|" + Mac(r.mac));
    EXPECT_EQ(Cut(f[3]), "|\\3|" + r.adapter_name);
    EXPECT_EQ(f[4], "|\\4|" + std::to_string(static_cast<int32_t>(r.type)));
    EXPECT_EQ(f[6], "|\\6|" + std::to_string(static_cast<int32_t>(r.dhcp_enabled)));
    EXPECT_EQ(f[7] != "|\\7|0", r.more_addresses);
    EXPECT_EQ(Cut(f[8]), "|\\8|" + r.dhcp_server);
    EXPECT_EQ(Cut(f[9]), "|\\9|" + r.gateway);
    EXPECT_EQ(f[10], "|\\10|" + std::to_string(static_cast<int32_t>(r.have_wins)));
    EXPECT_EQ(Cut(f[11]), "|\\11|" + r.ip_address);
    EXPECT_EQ(Cut(f[12]), "|\\12|" + r.primary_wins_server);
    EXPECT_EQ(Cut(f[13]), "|\\13|" + r.secondary_wins_server);
  }
}

void ExpectInterfacesAgree(const std::string& message, const ReportInterfaces& t) {
  if (t.status != "listed") {
    EXPECT_EQ(message, "2.\t");
    EXPECT_TRUE(t.status == "empty" || t.status == "failed") << t.status;
    return;
  }
  const std::vector<std::string> lines = Split(message, "\r\n");
  ASSERT_EQ(lines.size(), t.rows.size() + 1);
  EXPECT_EQ(lines[0], "2.\t" + std::to_string(static_cast<int32_t>(*t.num_entries)) + " Interface(s):");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const ReportInterface& r = t.rows[i];
    const std::vector<std::string> f = Split(lines[i + 1], "\t");
    ASSERT_EQ(f.size(), 5u);
    EXPECT_EQ(Cut(f[0]), "[" + std::to_string(r.index) + "] " + r.description);
    EXPECT_EQ(f[1], std::to_string(static_cast<int32_t>(r.type)));
    EXPECT_EQ(f[2], std::to_string(static_cast<int32_t>(r.admin_status)));
    EXPECT_EQ(f[3], std::to_string(static_cast<int32_t>(r.speed)));
    EXPECT_EQ(f[4], Mac(r.mac));
  }
}

// The drive record as the report's facts say it must read.
void ExpectDrivesAgree(const std::string& message, const ReportDrives& d, const std::string& sep) {
  ASSERT_EQ(d.status, "listed");
  static const char* kTypeTexts[] = {"Unknown", "Removable", "Fixed", "Network", "CD-ROM", "RAM Disk"};
  static const char* kLabels[] = {"Unknown", "Removable", "Fixed", "NetWork", "CD-ROM", "RAM-Disk"};
  auto grouped = [&](int64_t v) {
    std::string digits = std::to_string(v), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
      if (i && (digits.size() - i) % 3 == 0) out += sep;
      out += digits[i];
    }
    return v == 0 ? std::string() : out;
  };
  auto k = [&](int64_t bytes) { return grouped((bytes + 500) / 1000) + "K"; };
  std::string expected = "3.\t";
  for (const ReportDrive& r : d.list) {
    ASSERT_TRUE(r.errors().empty());
    if (!*r.ready.value) {
      expected += " (" + *r.letter.value + ":)     Drive Not Ready\r\n";
      continue;
    }
    expected += (r.volume_name.value->empty() ? "No Volume Name On" : *r.volume_name.value) + " (" +
                *r.letter.value + ":) Information     Drive Type is " + kTypeTexts[*r.type.value] + "\r\n";
    expected += "     File System Type - " + *r.file_system.value + "\r\n";
    expected += "     SerialNumber - " + std::to_string(static_cast<int32_t>(*r.serial_number.value)) + "\r\n";
    expected += "     ShareName - " + *r.share_name.value + "\r\n";
    expected += "     Root Folder - " + *r.root_path.value + "\r\n";
    expected += "     Total Bytes Available - " + grouped(*r.total_size.value) + "\r\n";
    expected += "     Bytes Used - " + grouped(*r.total_size.value - *r.free_space.value) + "\r\n";
    expected += "     Free Space Available - " + grouped(*r.free_space.value) + "\r\n";
  }
  expected += "\r\nSYSTEM INFORMATION\r\n\r\nNumber of Drives - " + std::to_string(*d.count);
  for (int type = 0; type < kDriveTypeCount; ++type) {
    expected += "\r\n     " + std::to_string(d.totals.per_type[type]) + " - " + kLabels[type] + " Drives";
  }
  expected += "\r\nTotal Bytes - " + k(d.totals.total_bytes) + "\r\nUsed Bytes - " + k(d.totals.used_bytes) +
              "\r\nFree Bytes - " + k(d.totals.free_bytes) + "\r\n";
  EXPECT_EQ(message, expected);
}

// The report and the log of a run on the same snapshot agree fact by fact;
// where the run ends with an error, the report shows that section's error.
TEST(ReportTest, AgreesWithTheLogOfARunOnEveryFixture) {
  for (const char* name : kFixtures) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    const ReportFacts report = FixtureReport(name);
    EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT")) << "the report wrote the log";

    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture(name)));
    MemoryTextBox box;
    Session session(platform, box);
    bool ended_by_error = false;
    try {
      session.Command1_Click(0);
    } catch (const Error&) {
      ended_by_error = true;
    }
    const std::vector<std::string> m = Messages(ReadFile("TEST_OUT.TXT"));
    ASSERT_EQ(m.size() == 9, !ended_by_error);
    if (m.size() < 9) {
      // The test that failed is the one after the last record; its section
      // names the error.
      switch (m.size()) {
        case 0: EXPECT_EQ(report.adapters.status, "error"); break;
        case 1: EXPECT_EQ(report.interfaces.status, "error"); break;
        case 2: {
          bool any = report.drives.status == "error";
          for (const ReportDrive& d : report.drives.list) any = any || !d.errors().empty();
          EXPECT_TRUE(any);
          break;
        }
        default: EXPECT_EQ(report.probes.status, "error");
      }
    }
    EXPECT_EQ(report.timestamp, m.empty() ? report.timestamp : SplitRecords(ReadFile("TEST_OUT.TXT"))[0].substr(1, report.timestamp.size()));
    if (m.size() > 0) ExpectAdaptersAgree(m[0], report.adapters);
    if (m.size() > 1) ExpectInterfacesAgree(m[1], report.interfaces);
    if (m.size() > 2) ExpectDrivesAgree(m[2], report.drives, report.thousands_separator);
    for (std::size_t test = 4; test <= 7 && test <= m.size(); ++test) {
      const ReportProbe& p = report.probes.list[test - 4];
      EXPECT_EQ(ProbeTest(p.probe), static_cast<int>(test));
      EXPECT_EQ(m[test - 1], std::to_string(test) + ".\t" + (*p.value ? "True" : "False"));
    }
    if (m.size() > 7) {
      std::string lines;
      for (const std::string& line : report.classification.lines) lines += line + "\r\n";
      EXPECT_EQ(m[7], "8.\t" + lines);
    }
    if (!ended_by_error) {
      session.Test_Click();
      EXPECT_EQ(box.Text(), std::string("Test Vmware : ") + (*report.classification.reference_vm ? "True" : "False") +
                                "\r\n");
    }
  }
}

TEST(ReportTest, TextForPeople) {
  const std::string text = RenderReportText(FixtureReport("adapters_example.json"), kAsIs);
  EXPECT_EQ(text,
            "hostprobe report (replayed snapshot)\n"
            "Host:                 - (not in a snapshot)\n"
            "Time:                 6.12.2026 1:11:54\n"
            "\n"
            "Network adapters: 1 by the needed length of 640 bytes, 1 listed\n"
            "  [0] Example Ethernet Adapter\n"
            "      Adapter name:   {AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}\n"
            "      MAC address:    02-00-5E-10-00-01 (address length 6)\n"
            "      Type:           ethernet (6)\n"
            "      DHCP:           yes (1)\n"
            "      DHCP server:    192.168.0.1\n"
            "      IP address:     192.168.0.20 mask 255.255.255.0\n"
            "      Gateway:        192.168.0.1\n"
            "      WINS:           no (0), primary -, secondary -\n"
            "\n"
            "Interface table: 2 interface(s)\n"
            "  #    Description               Type           Admin status  Speed (bit/s)  MAC address\n"
            "  [1]  Loopback Interface        loopback (24)  up (1)        10,000,000     00-00-00-00-00-00\n"
            "  [2]  Example Ethernet Adapter  ethernet (6)   up (1)        100,000,000    02-00-5E-10-00-01\n"
            "\n"
            "Drives: 0 in the list\n"
            "  Ready drives by type: 0 unknown, 0 removable, 0 fixed, 0 network, 0 CD-ROM, 0 RAM disk\n"
            "  Totals:             total 0K, used 0K, free 0K\n"
            "\n"
            "Probes:\n"
            "  Test  Probe            Result     Looks at\n"
            "  4     IsInsideVPC      False (0)  a Microsoft hypervisor's guest (Virtual PC, Hyper-V): CPUID "
            "vendor, firmware names\n"
            "  5     IsInsideVMWare   False (0)  CPUID hypervisor vendor \"VMwareVMware\"\n"
            "  6     IsInsideVMWare2  False (0)  firmware (DMI/SMBIOS) manufacturer or product names VMware\n"
            "  7     IsInsideVMWare3  False (0)  VMware hardware: a PCI device of vendor 0x15AD or a VMware "
            "guest's MAC prefix\n"
            "  -     ldtCheck         0          a hypervisor announces itself (CPUID), not on Hyper-V's root "
            "partition\n"
            "  -     mswCheck         0          a fully emulated CPU (TCG, Bochs)\n"
            "  -     vmwareCheck      0          the VMware backdoor's version number (0: none)\n"
            "\n"
            "Classification:\n"
            "  a) Native machine detected.\n"
            "Reference check (TEST): False (reference adapter present: no, virtual machine: no)\n"
            "Hypervisor:           - (not in a snapshot)\n"
            "Container:            - (not in a snapshot)\n");
}

// Platform status results and errors are shown as what they are.
TEST(ReportTest, StatusResultsAndErrorsShownAsWhatTheyAre) {
  SnapshotData d;
  d.adapters.needed_length = 1280;
  d.adapters.fill_status = 111;
  d.interfaces.needed_length = 864;
  d.interfaces.fill_status = 122;
  SnapshotDrive bad;
  bad.letter = "E";
  bad.ready = true;
  bad.fail = "TotalSize";
  d.drives.push_back(bad);
  d.probes.loadable = false;
  Platform platform = MakeReplayPlatform(d);
  const ReportFacts f = GatherReport(platform, Replayed());
  EXPECT_EQ(f.adapters.status, "failed");
  EXPECT_EQ(f.adapters.fill_status, 111u);
  EXPECT_EQ(f.adapters.count, 2);
  EXPECT_EQ(f.interfaces.status, "failed");
  EXPECT_EQ(f.interfaces.fill_status, 122u);
  ASSERT_EQ(f.drives.list.size(), 1u);
  EXPECT_FALSE(f.drives.list[0].total_size.value);
  EXPECT_NE(f.drives.list[0].total_size.error.find("TotalSize"), std::string::npos);
  EXPECT_FALSE(f.drives.totals.complete);
  EXPECT_EQ(f.probes.status, "error");
  EXPECT_EQ(f.classification.status, "error");

  const std::string text = RenderReportText(f, kAsIs);
  EXPECT_NE(text.find("Network adapters: the filling call failed with status 111 (needed length 1280 bytes)\n"),
            std::string::npos);
  EXPECT_NE(text.find("Interface table: the filling call failed with status 122\n"), std::string::npos);
  EXPECT_NE(text.find("Total size:     UNREADABLE: "), std::string::npos);
  EXPECT_NE(text.find("Probes: ERROR: probe library"), std::string::npos) << text;

  const auto j = nlohmann::json::parse(RenderReportJson(f, kAsIs));
  EXPECT_EQ(j["adapters"]["status"], "failed");
  EXPECT_EQ(j["adapters"]["fill_status"], 111);
  EXPECT_TRUE(j["drives"]["list"][0]["total_size"].is_null());
  EXPECT_TRUE(j["drives"]["list"][0]["errors"]["TotalSize"].is_string());
  EXPECT_TRUE(j["probes"]["list"][0]["value"].is_null());
  EXPECT_TRUE(j["probes"]["error"].is_string());

  SnapshotData none;
  Platform empty = MakeReplayPlatform(none);
  const auto e = nlohmann::json::parse(RenderReportJson(GatherReport(empty, {}), kAsIs));
  EXPECT_EQ(e["adapters"]["status"], "empty");
  EXPECT_TRUE(e["adapters"]["count"].is_null());
  EXPECT_EQ(e["interfaces"]["status"], "empty");
}

// Unsigned fields stay unsigned where the log shows them signed; texts are
// cut at their NUL and decoded; MACs are six bytes.
TEST(ReportTest, JsonNumbersTextsAndMacs) {
  const auto j = nlohmann::json::parse(RenderReportJson(FixtureReport("adapters_three.json"), kAsIs));
  EXPECT_EQ(j["hostprobe_report"], 1);
  const auto& a = j["adapters"]["list"];
  ASSERT_EQ(a.size(), 3u);
  EXPECT_EQ(a[0]["description"], "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(a[0]["adapter_name"], "eth0");
  EXPECT_EQ(a[0]["mac"], nlohmann::json({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
  EXPECT_EQ(a[0]["address_length"], 8);
  EXPECT_EQ(a[0]["more_addresses"], true);
  EXPECT_EQ(a[1]["description"], "");
  EXPECT_EQ(a[2]["type"], 4294967295u);
  EXPECT_TRUE(a[2]["type"].is_number_unsigned());
  // Bytes that are not UTF-8 read as Windows-1252.
  EXPECT_EQ(a[2]["description"], "Caf\xC3\xA9 \xC3\xBF");
  EXPECT_EQ(a[2]["ip_address"], "123.123.123.123\xC3\xBF");
}

TEST(ReportTest, JsonStringsAndUtf8) {
  struct Case {
    std::string in, json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\", "\"q\\\"b\\\\\""},
      {"\n\r\t\b\f", "\"\\n\\r\\t\\b\\f\""},
      {std::string("\x00\x01\x1F\x7F", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.in), c.json) << c.in;

  struct Utf8Case {
    std::string in, out;
  } utf8[] = {
      {"ok \xC3\xA9", "ok \xC3\xA9"},
      {"\xE9", "\xC3\xA9"},                          // Latin-1 byte
      {"\x80\x81", "\xE2\x82\xAC\xC2\x81"},          // euro sign, an undefined byte
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},              // overlong '/'
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},  // a surrogate
      {"\xF4\x90\x80\x80", "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC"},  // past U+10FFFF
      {"\xE2\x82", "\xC3\xA2\xE2\x80\x9A"},          // cut off
  };
  for (const Utf8Case& c : utf8) EXPECT_EQ(ValidUtf8(c.in), c.out) << c.in;
}

// Every real name, address, MAC suffix and serial of a fixture, as text.
std::vector<std::string> RealValues(const ReportFacts& f) {
  std::vector<std::string> out;
  auto add = [&](const std::string& v) {
    if (!v.empty() && v != "0.0.0.0" && v != "255.255.255.255") out.push_back(v);
  };
  for (const ReportAdapter& a : f.adapters.list) {
    add(a.adapter_name);
    for (const std::string* ip : {&a.ip_address, &a.gateway, &a.dhcp_server, &a.primary_wins_server,
                                  &a.secondary_wins_server}) {
      add(*ip);
    }
    if (a.mac != std::array<uint8_t, 6>{}) add(Mac(a.mac));
  }
  for (const ReportDrive& d : f.drives.list) {
    if (d.volume_name.value) add(*d.volume_name.value);
    if (d.share_name.value) add(*d.share_name.value);
    if (d.serial_number.value && *d.serial_number.value) {
      add(std::to_string(*d.serial_number.value));
      add(std::to_string(static_cast<int32_t>(*d.serial_number.value)));
    }
  }
  return out;
}

std::string RunPass(const std::string& snapshot_path) {
  ScratchDir dir;
  Platform platform = MakeReplayPlatform(ReadSnapshotFile(snapshot_path));
  MemoryTextBox box;
  Session session(platform, box);
  try {
    session.Command1_Click(0);
  } catch (const Error&) {
  }
  return ReadFile("TEST_OUT.TXT");
}

// A redacted capture keeps no real value and still replays to the same
// probes, classification and drive totals.
TEST(RedactTest, RedactedCaptureReplaysToTheSameResults) {
  for (const char* name : kFixtures) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture(name)));
    const auto redactor = std::make_shared<Redactor>();
    RedactPlatform(platform, redactor);
    const std::string capture = CaptureMachine(platform, redactor.get());
    EXPECT_EQ(nlohmann::json::parse(capture)["captured"]["host"], "host-1");
    testing::WriteFile("redacted.json", capture);

    const ReportFacts facts = FixtureReport(name);
    Platform again = MakeReplayPlatform(ReadSnapshotFile("redacted.json"));
    const ReportFacts redacted_facts = GatherReport(again, {});
    const std::string report = RenderReportJson(redacted_facts, kAsIs);
    const std::vector<std::string> pseudonyms = RealValues(redacted_facts);
    for (const std::string& value : RealValues(facts)) {
      EXPECT_EQ(std::count(pseudonyms.begin(), pseudonyms.end(), value), 0) << value;
      if (value.size() < 4) continue;  // too short to look for in the texts
      EXPECT_EQ(capture.find(value), std::string::npos) << value;
      EXPECT_EQ(report.find(value), std::string::npos) << value;
    }

    const std::vector<std::string> original = Messages(RunPass(Fixture(name)));
    const std::vector<std::string> redacted = Messages(RunPass((dir.path() / "redacted.json").string()));
    ASSERT_EQ(original.size(), redacted.size());
    for (std::size_t i = 3; i < original.size(); ++i) EXPECT_EQ(original[i], redacted[i]);
    if (original.size() > 2) {
      const std::size_t totals = original[2].find("SYSTEM INFORMATION");
      EXPECT_EQ(original[2].substr(totals), redacted[2].substr(redacted[2].find("SYSTEM INFORMATION")));
    }
  }
}

TEST(RedactTest, SameValueSamePseudonymWithinOneDocument) {
  Platform platform = MakeReplayPlatform(ReadSnapshotFile(Fixture("adapters_example.json")));
  RedactPlatform(platform, std::make_shared<Redactor>());
  const ReportFacts f = GatherReport(platform, Replayed(true));
  ASSERT_EQ(f.adapters.list.size(), 1u);
  const ReportAdapter& a = f.adapters.list[0];
  // 192.168.0.1 is both the gateway and the DHCP server.
  EXPECT_EQ(a.gateway, a.dhcp_server);
  EXPECT_NE(a.gateway, a.ip_address);
  EXPECT_EQ(a.gateway.rfind("192.0.2.", 0), 0u) << a.gateway;
  // The vendor prefix stays; the adapter's MAC is the same in the table.
  EXPECT_EQ(Mac(a.mac).substr(0, 8), "02-00-5E");
  EXPECT_NE(Mac(a.mac), "02-00-5E-10-00-01");
  EXPECT_EQ(f.interfaces.rows[1].mac, a.mac);
  EXPECT_EQ(f.interfaces.rows[0].mac, (std::array<uint8_t, 6>{}));
  EXPECT_EQ(a.adapter_name, "adapter-1");

  Redactor r;
  EXPECT_EQ(r.Host("pc-42"), "host-1");
  EXPECT_EQ(r.Host("other"), "host-2");
  EXPECT_EQ(r.Host("pc-42"), "host-1");
  EXPECT_EQ(r.Ipv4("255.255.255.255"), "255.255.255.255");
  EXPECT_EQ(r.Serial(1622468873), 1);
  EXPECT_EQ(r.Serial(0), 0);
  EXPECT_EQ(r.Volume(""), "");
  EXPECT_EQ(r.Share("\\\\server\\share"), "share-1");
  for (int i = 0; i < 300; ++i) r.Ipv4("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
  EXPECT_EQ(r.Ipv4("10.1.0.253"), "192.0.2.254");
  EXPECT_EQ(r.Ipv4("10.1.0.254"), "198.18.0.1");
}

}  // namespace
}  // namespace hostprobe
