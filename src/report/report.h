// The report: the facts a run gathers, asked of the platform in the same way
// (the same calls, live or replayed), held as labelled values for people and
// for JSON. Nothing is written to the log. Texts are in the system's 8-bit
// code page, cut at their first NUL; the renderers decode them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "vmdetect/virt_names.h"

namespace hostprobe {

// A section's outcome: the platform's own answer ("empty", "failed" with its
// status) or an error that would have ended a run (kind and message).
struct SectionError {
  std::string message;  // Error::what(): "<kind>: <detail>"
};

struct ReportAdapter {
  int16_t index = 0;
  std::string description;
  uint32_t address_length = 0;
  std::array<uint8_t, 6> mac{};
  std::string adapter_name;
  uint32_t type = 0;
  uint32_t dhcp_enabled = 0;
  std::string dhcp_server;
  std::string ip_address;
  std::string ip_mask;
  bool more_addresses = false;  // the first address entry's Next is not 0
  std::string gateway;
  uint32_t have_wins = 0;
  std::string primary_wins_server;
  std::string secondary_wins_server;
};

struct ReportAdapters {
  std::string status;  // "listed", "empty", "failed" or "error"
  uint32_t needed_length = 0;
  std::optional<int16_t> count;        // the log's header count; listed and failed
  std::optional<uint32_t> fill_status;  // failed (and 0 when listed)
  std::vector<ReportAdapter> list;
  std::optional<SectionError> error;
};

struct ReportInterface {
  int32_t index = 0;  // from 1
  std::string description;
  uint32_t type = 0;
  uint32_t admin_status = 0;
  uint32_t oper_status = 0;
  uint32_t speed = 0;  // bits per second
  uint32_t mtu = 0;
  uint32_t phys_addr_len = 0;
  std::array<uint8_t, 6> mac{};
};

struct ReportInterfaces {
  std::string status;  // "listed", "empty", "failed" or "error"
  uint32_t needed_length = 0;
  std::optional<uint32_t> fill_status;
  std::optional<uint32_t> num_entries;
  std::vector<ReportInterface> rows;
  std::optional<SectionError> error;
};

// One property of a drive: its value, or the message of its failing read.
template <typename T>
struct DriveValue {
  std::optional<T> value;
  std::string error;  // empty when read (or not read: a drive that is not ready)
};

struct ReportDrive {
  DriveValue<std::string> letter;
  DriveValue<bool> ready;
  DriveValue<std::string> volume_name, file_system, share_name, root_path;
  DriveValue<int32_t> type;
  DriveValue<uint32_t> serial_number;
  DriveValue<int64_t> total_size, free_space;
  // Property name -> message, in reading order, for every failing read.
  std::vector<std::pair<std::string, std::string>> errors() const;
};

inline constexpr int kDriveTypeCount = 6;

struct ReportDriveTotals {
  std::array<int32_t, kDriveTypeCount> per_type{};  // ready drives of type 0..5
  int64_t total_bytes = 0, used_bytes = 0, free_bytes = 0;
  bool complete = true;  // false when a ready drive's type or sizes could not be read
};

struct ReportDrives {
  std::string status;  // "listed" or "error"
  std::optional<int32_t> count;  // the list's Count
  std::vector<ReportDrive> list;
  ReportDriveTotals totals;
  std::optional<SectionError> error;
};

struct ReportProbe {
  Probe probe{};
  std::optional<int16_t> value;
};

struct ReportProbes {
  std::string status;  // "loaded" or "error"
  std::vector<ReportProbe> list;  // the seven routines, tests 4 to 7 first
  std::optional<SectionError> error;
};

struct ReportClassification {
  std::string status;  // "ok" or "error"
  std::vector<std::string> lines;  // the lettered lines, without CR LF
  std::optional<bool> virtual_machine;
  std::optional<bool> reference_adapter_present;
  std::optional<bool> reference_vm;  // what TEST answers
  std::optional<SectionError> error;
};

struct ReportFacts {
  bool replayed = false;
  bool redacted = false;
  std::optional<std::string> host;  // the live machine's name
  std::string timestamp;            // what a log record would be stamped with
  std::string thousands_separator;
  ReportAdapters adapters;
  ReportInterfaces interfaces;
  ReportDrives drives;
  ReportProbes probes;
  ReportClassification classification;
  std::optional<VirtNames> virt;  // the live machine's; not in a snapshot
};

// What the caller knows beside the platform: whether it is a replay, the
// host name and virtualization names of the live machine.
struct ReportContext {
  bool replayed = false;
  bool redacted = false;
  std::optional<std::string> host;
  std::optional<VirtNames> virt;
};

// Gathers every section; an error in one section is kept in it and the
// others are still gathered. Only std::bad_alloc leaves.
ReportFacts GatherReport(Platform& platform, const ReportContext& context);

// The test a probe's result is logged as (4 to 7), or 0 for the three the
// classification asks.
int ProbeTest(Probe probe);
// What a probe looks at, in a few words.
const char* ProbeLooksAt(Probe probe);
// A hardware address as the log shows one: "00-1A-2B-3C-4D-5E".
std::string MacText(const std::array<uint8_t, 6>& mac);
// Words for numbers: adapter and interface types (IANA ifType), the admin
// status, the drive type; "" where there is none.
const char* InterfaceTypeName(uint32_t type);
const char* AdminStatusName(uint32_t status);
const char* DriveTypeName(int32_t type);
// The JSON key of a drive type's counter ("fixed", "cdrom", ...).
const char* DriveTypeKey(int type);

// Turns system text into UTF-8 (the platform's conversion, handed in).
using ToUtf8 = std::function<std::string(std::string_view)>;

// The report for people: labelled lines, LF line ends, UTF-8.
std::string RenderReportText(const ReportFacts& facts, const ToUtf8& to_utf8);

// The report as one JSON document ("hostprobe_report": 1), LF at the end.
std::string RenderReportJson(const ReportFacts& facts, const ToUtf8& to_utf8);

// `text` as valid UTF-8: every byte that starts no well-formed character
// (overlong forms, surrogates and code points past U+10FFFF included) is
// taken as a Windows-1252 character (0xE9 "é", 0x80 "€", 0x81 U+0081).
std::string ValidUtf8(std::string_view text);

// `text` (valid UTF-8) as a JSON string with its quotes: '"', '\\' and the
// control characters U+0000 to U+001F escaped (\n, \r, \t, \b, \f or \u00XX),
// U+007F as \u007f, everything else as it is.
std::string JsonString(std::string_view text);

}  // namespace hostprobe
