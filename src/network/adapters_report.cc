#include "network/adapters_report.h"

#include "network/adapter_walk.h"
#include "network/mac_text.h"

namespace hostprobe {
namespace {

constexpr const char* kStart = "Start Adapter Info ... \r\n";

// CR LF, "[i] ", then fourteen TAB-separated fields, 1 to 13 behind their
// "|\n|" markers.
std::string AdapterLine(int16_t i, const AdapterRecord& r) {
  const auto n = [](int32_t v) { return std::to_string(v); };
  std::string line = "\r\n[" + std::to_string(i) + "] ";
  line += CutAtNul(r.description);
  line += "\t|\\1|" + n(r.address_length);
  line += "\t|\\2|" + MacToText(r.address);
  line += "\t|\\3|" + r.adapter_name;
  line += "\t|\\4|" + n(r.type);
  line += "\t|\\5|" + n(r.current_ip_address);
  line += "\t|\\6|" + n(r.dhcp_enabled);
  line += "\t|\\7|" + n(r.ip_address_list.next);
  line += "\t|\\8|" + r.dhcp_server.ip_address;
  line += "\t|\\9|" + r.gateway_list.ip_address;
  line += "\t|\\10|" + n(r.have_wins);
  line += "\t|\\11|" + r.ip_address_list.ip_address;
  line += "\t|\\12|" + r.primary_wins_server.ip_address;
  line += "\t|\\13|" + r.secondary_wins_server.ip_address;
  return line;
}

}  // namespace

std::string GetAdaptersReport(AdapterApi& api) {
  std::string lines;
  const WalkResult walk = WalkAdapters(api, [&](int16_t i, const AdapterRecord& r) {
    lines += AdapterLine(i, r);
    return true;
  });
  switch (walk.outcome) {
    case WalkOutcome::kEmpty:
      return std::string(kStart) + "Buffer=0 Exit from Adapter info.";
    case WalkOutcome::kFailed:
      return std::string(kStart) + "STS= " + std::to_string(static_cast<int32_t>(walk.status)) +
             " Exit from Adapter info.";
    case WalkOutcome::kWalked:
      break;
  }
  return std::to_string(walk.count) + " Adapter(s):" + lines;
}

}  // namespace hostprobe
