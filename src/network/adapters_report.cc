#include "network/adapters_report.h"

#include "network/adapter_walk.h"
#include "network/mac_text.h"

namespace hostprobe {
namespace {

constexpr const char* kStart = "Start Adapter Info ... \r\n";

// Appends CR LF, "[i] ", then fourteen TAB-separated fields, 1 to 13 behind
// their "|\n|" markers.
void AppendAdapterLine(std::string& out, int16_t i, const AdapterRecord& r) {
  const auto field = [&out](const char* marker, const std::string& text) {
    out += marker;
    out += text;
  };
  const auto number = [&out](const char* marker, int32_t v) {
    out += marker;
    out += std::to_string(v);
  };
  out += "\r\n[";
  out += std::to_string(i);
  out += "] ";
  out += CutAtNul(r.description);
  number("\t|\\1|", r.address_length);
  field("\t|\\2|", MacToText(r.address));
  field("\t|\\3|", r.adapter_name);
  number("\t|\\4|", r.type);
  number("\t|\\5|", r.current_ip_address);
  number("\t|\\6|", r.dhcp_enabled);
  number("\t|\\7|", r.ip_address_list.next);
  field("\t|\\8|", r.dhcp_server.ip_address);
  field("\t|\\9|", r.gateway_list.ip_address);
  number("\t|\\10|", r.have_wins);
  field("\t|\\11|", r.ip_address_list.ip_address);
  field("\t|\\12|", r.primary_wins_server.ip_address);
  field("\t|\\13|", r.secondary_wins_server.ip_address);
}

// A line without its description and numbers: CR LF, brackets, markers,
// TABs, the address text and the fixed-width texts.
constexpr std::size_t kLineBytes = 2 + 3 + 56 + 13 + 17 + 260 + 5 * 16;

}  // namespace

std::string GetAdaptersReport(AdapterApi& api) {
  std::string report;
  const auto start = [&](int16_t count) {
    // The header, then room for every line the walk may visit.
    report.reserve(32 + static_cast<std::size_t>(count) * (kLineBytes + 64));
    report += std::to_string(count);
    report += " Adapter(s):";
  };
  const WalkResult walk = WalkAdapters(
      api,
      [&](int16_t i, const AdapterRecord& r) {
        AppendAdapterLine(report, i, r);
        return true;
      },
      start);
  switch (walk.outcome) {
    case WalkOutcome::kEmpty:
      return std::string(kStart) + "Buffer=0 Exit from Adapter info.";
    case WalkOutcome::kFailed:
      return std::string(kStart) + "STS= " + std::to_string(static_cast<int32_t>(walk.status)) +
             " Exit from Adapter info.";
    case WalkOutcome::kWalked:
      break;
  }
  return report;
}

}  // namespace hostprobe
