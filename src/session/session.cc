#include "session/session.h"

#include <string>
#include <utility>

#include "drives/drives_report.h"
#include "platform/utf8.h"
#include "network/adapters_report.h"
#include "network/interfaces_report.h"
#include "vmdetect/reference_check.h"
#include "vmdetect/vm_report.h"

namespace hostprobe {
namespace {

const char* Bool(bool value) { return value ? "True" : "False"; }

constexpr const char* kSeparator =
    "##########################################################################################";
static_assert(std::char_traits<char>::length(kSeparator) == 90);

// Upper case of a code point below U+0180, the range the window's texts use.
uint32_t UpperLatin(uint32_t cp) {
  if (cp >= 'a' && cp <= 'z') return cp - 0x20;
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 0x20;
  if (cp == 0xFF) return 0x178;
  if (cp >= 0x100 && cp <= 0x137 && cp != 0x131) return cp & ~1u;
  if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E)) {
    return (cp % 2 == 0) ? cp - 1 : cp;
  }
  if (cp >= 0x14A && cp <= 0x177) return cp & ~1u;
  return cp;
}

}  // namespace

std::string ToUpperUtf8(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const uint32_t cp = ReadUtf8(text, &i);
    if (cp == kNotUtf8) {
      out += text[i++];  // passed on as it is
    } else if (i - start <= 2) {
      AppendUtf8(out, UpperLatin(cp));
    } else {
      out.append(text, start, i - start);  // beyond the Latin letters: as it is
    }
  }
  return out;
}

Session::Session(Platform& platform, TextBox& text_box)
    : platform_(platform),
      text_box_(text_box),
      log_(*platform.log, *platform.clock),
      probes_(*platform.probes) {}

void Session::Append(const std::string& text) { text_box_.SetText(text_box_.Text() + text); }

std::string Session::RunTest(int n) {
  switch (n) {
    case 1: return GetAdaptersReport(*platform_.adapters);
    case 2: return GetInterfacesReport(*platform_.interfaces);
    case 3: return GetDrivesReport(*platform_.drives, platform_.clock->ThousandsSeparator());
    case 4: return Bool(probes_.IsInsideVPC() != 0);
    case 5: return Bool(probes_.IsInsideVMWare() != 0);
    case 6: return Bool(probes_.IsInsideVMWare2() != 0);
    case 7: return Bool(probes_.IsInsideVMWare3() != 0);
    default: return GetVmReport(probes_);
  }
}

void Session::Command1_Click(int16_t index) {
  text_box_.SetText(ToUpperUtf8("SOUBOR TESTů: " + std::to_string(index + 1) + "\r\n"));
  for (int n = 1; n <= 8; ++n) {
    const std::string digit = std::to_string(n);
    Append("Start testu č." + digit + "\r\n");
    // The result becomes the record in place (a drive list may run to
    // megabytes).
    std::string record = RunTest(n);
    record.insert(0, digit + ".\t");
    log_.WriteLog(std::move(record));
    Append("Konec testu č." + digit + "\r\n");
  }
  log_.WriteLog(kSeparator);
}

void Session::Test_Click() {
  const bool answer = IsReferenceVm(*platform_.adapters, probes_);
  text_box_.SetText(std::string("Test Vmware : ") + Bool(answer) + "\r\n");
}

}  // namespace hostprobe
