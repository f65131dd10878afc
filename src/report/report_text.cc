// The report for people: one labelled line per fact, tables with headed
// columns, sizes grouped as the log groups them.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "drives/drives_report.h"
#include "report/report.h"

namespace hostprobe {
namespace {

constexpr int kLabelWidth = 22;

class Text {
 public:
  Text(const ToUtf8& to_utf8, const std::string& separator) : to_utf8_(to_utf8), separator_(separator) {}

  // A platform text, decoded, with control characters shown as \xNN so they
  // cannot drive the terminal; "-" where it is empty.
  std::string Shown(const std::string& system_text) const {
    const std::string utf8 = ValidUtf8(to_utf8_(system_text));
    if (utf8.empty()) return "-";
    std::string out;
    for (const char c : utf8) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F) {
        char buffer[5];
        std::snprintf(buffer, sizeof buffer, "\\x%02X", u);
        out += buffer;
      } else {
        out += c;
      }
    }
    return out;
  }
  std::string Grouped(int64_t value) const {
    const std::string g = GroupedNumber(value, Shown(separator_));
    return g.empty() ? "0" : g;
  }
  std::string GroupedK(int64_t bytes) const {
    // The log's totals: thousands of bytes, halves rounded away from zero.
    const std::string g = GroupedTenThousandths(bytes * 10, Shown(separator_));
    return (g.empty() ? "0" : g) + "K";
  }
  void Line(int indent, const std::string& label, const std::string& value) {
    std::string head = std::string(static_cast<std::size_t>(indent), ' ') + label + ":";
    if (head.size() < static_cast<std::size_t>(kLabelWidth)) head.resize(kLabelWidth, ' ');
    else head += ' ';
    out_ += head + value + "\n";
  }
  void Plain(const std::string& line) { out_ += line + "\n"; }
  std::string Done() const { return out_; }

 private:
  const ToUtf8& to_utf8_;
  const std::string& separator_;
  std::string out_;
};

std::string Named(const char* name, int64_t number) {
  return *name ? std::string(name) + " (" + std::to_string(number) + ")" : std::to_string(number);
}

std::string ErrorLine(const std::optional<SectionError>& e, const Text& t) {
  return e ? "ERROR: " + t.Shown(e->message) : "";
}

void Adapters(Text& t, const ReportAdapters& a) {
  if (a.status == "empty") {
    t.Plain("Network adapters: none (the platform asks for no bytes)");
  } else if (a.status == "failed") {
    t.Plain("Network adapters: the filling call failed with status " + std::to_string(*a.fill_status) +
            " (needed length " + std::to_string(a.needed_length) + " bytes)");
  } else if (a.status == "error") {
    t.Plain("Network adapters: " + ErrorLine(a.error, t));
  } else {
    t.Plain("Network adapters: " + std::to_string(*a.count) + " by the needed length of " +
            std::to_string(a.needed_length) + " bytes, " + std::to_string(a.list.size()) + " listed");
  }
  for (const ReportAdapter& r : a.list) {
    t.Plain("  [" + std::to_string(r.index) + "] " + t.Shown(r.description));
    t.Line(6, "Adapter name", t.Shown(r.adapter_name));
    t.Line(6, "MAC address", MacText(r.mac) + " (address length " + std::to_string(r.address_length) + ")");
    t.Line(6, "Type", Named(InterfaceTypeName(r.type), r.type));
    t.Line(6, "DHCP", Named(r.dhcp_enabled == 0 ? "no" : r.dhcp_enabled == 1 ? "yes" : "", r.dhcp_enabled));
    t.Line(6, "DHCP server", t.Shown(r.dhcp_server));
    t.Line(6, "IP address", t.Shown(r.ip_address) + " mask " + t.Shown(r.ip_mask) +
                                (r.more_addresses ? " (more addresses follow)" : ""));
    t.Line(6, "Gateway", t.Shown(r.gateway));
    t.Line(6, "WINS", Named(r.have_wins == 0 ? "no" : r.have_wins == 1 ? "yes" : "", r.have_wins) +
                          ", primary " + t.Shown(r.primary_wins_server) + ", secondary " +
                          t.Shown(r.secondary_wins_server));
  }
}

// Columns padded to their widest cell (by code points, not bytes).
void Table(Text& t, const std::vector<std::vector<std::string>>& rows) {
  auto width = [](const std::string& s) {
    return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  };
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], width(row[c]));
  }
  for (const auto& row : rows) {
    std::string line = " ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += " " + row[c];
      if (c + 1 < row.size()) line.append(widths[c] - width(row[c]) + 1, ' ');
    }
    t.Plain(line);
  }
}

void Interfaces(Text& t, const ReportInterfaces& i) {
  if (i.status == "empty") {
    t.Plain("Interface table: none (the platform asks for no bytes)");
    return;
  }
  if (i.status == "failed") {
    t.Plain("Interface table: the filling call failed with status " + std::to_string(*i.fill_status));
    return;
  }
  t.Plain("Interface table: " + (i.num_entries ? std::to_string(*i.num_entries) : std::string("no")) +
          " interface(s)");
  std::vector<std::vector<std::string>> rows = {
      {"#", "Description", "Type", "Admin status", "Speed (bit/s)", "MAC address"}};
  for (const ReportInterface& r : i.rows) {
    rows.push_back({"[" + std::to_string(r.index) + "]", t.Shown(r.description), Named(InterfaceTypeName(r.type), r.type),
                    Named(AdminStatusName(r.admin_status), r.admin_status), t.Grouped(r.speed), MacText(r.mac)});
  }
  if (!i.rows.empty()) Table(t, rows);
  if (i.error) t.Plain("  " + ErrorLine(i.error, t));
}

template <typename T>
std::string Shown(const Text& t, const DriveValue<T>& v, const std::string& value) {
  if (!v.error.empty()) return "UNREADABLE: " + t.Shown(v.error);
  return v.value ? value : "-";
}

void Drives(Text& t, const ReportDrives& d) {
  if (d.status == "error") {
    t.Plain("Drives: " + ErrorLine(d.error, t));
    return;
  }
  t.Plain("Drives: " + std::to_string(*d.count) + " in the list");
  for (const ReportDrive& r : d.list) {
    const std::string letter = Shown(t, r.letter, r.letter.value ? t.Shown(*r.letter.value) + ":" : "");
    if (!r.ready.error.empty()) {
      t.Plain("  " + letter + " readiness " + Shown(t, r.ready, ""));
      continue;
    }
    if (!*r.ready.value) {
      t.Plain("  " + letter + " not ready");
      continue;
    }
    t.Plain("  " + letter);
    t.Line(6, "Volume name", Shown(t, r.volume_name, r.volume_name.value ? t.Shown(*r.volume_name.value) : ""));
    t.Line(6, "Type", Shown(t, r.type, r.type.value ? Named(DriveTypeName(*r.type.value), *r.type.value) : ""));
    t.Line(6, "File system", Shown(t, r.file_system, r.file_system.value ? t.Shown(*r.file_system.value) : ""));
    std::string serial;
    if (r.serial_number.value) {
      char hex[12];
      std::snprintf(hex, sizeof hex, "%04X-%04X", *r.serial_number.value >> 16, *r.serial_number.value & 0xFFFF);
      serial = std::to_string(*r.serial_number.value) + " (" + hex + ")";
    }
    t.Line(6, "Serial number", Shown(t, r.serial_number, serial));
    t.Line(6, "Share name", Shown(t, r.share_name, r.share_name.value ? t.Shown(*r.share_name.value) : ""));
    t.Line(6, "Root folder", Shown(t, r.root_path, r.root_path.value ? t.Shown(*r.root_path.value) : ""));
    t.Line(6, "Total size", Shown(t, r.total_size, r.total_size.value ? t.Grouped(*r.total_size.value) + " bytes" : ""));
    if (r.total_size.value && r.free_space.value) {
      t.Line(6, "Used", t.Grouped(*r.total_size.value - *r.free_space.value) + " bytes");
    }
    t.Line(6, "Free space", Shown(t, r.free_space, r.free_space.value ? t.Grouped(*r.free_space.value) + " bytes" : ""));
  }
  const ReportDriveTotals& s = d.totals;
  std::string per_type;
  for (int type = 0; type < kDriveTypeCount; ++type) {
    per_type += (type ? ", " : "") + std::to_string(s.per_type[type]) + " " + DriveTypeName(type);
  }
  t.Line(2, "Ready drives by type", per_type);
  t.Line(2, "Totals", "total " + t.GroupedK(s.total_bytes) + ", used " + t.GroupedK(s.used_bytes) + ", free " +
                          t.GroupedK(s.free_bytes) + (s.complete ? "" : " (without the unreadable drives)"));
}

void Probes(Text& t, const ReportProbes& p) {
  t.Plain(p.status == "error" ? "Probes: " + ErrorLine(p.error, t) : "Probes:");
  std::vector<std::vector<std::string>> rows = {{"Test", "Probe", "Result", "Looks at"}};
  for (const ReportProbe& r : p.list) {
    const int test = ProbeTest(r.probe);
    std::string result = "-";
    if (r.value) {
      result = test ? std::string(*r.value ? "True" : "False") + " (" + std::to_string(*r.value) + ")"
                    : std::to_string(*r.value);
    }
    rows.push_back({test ? std::to_string(test) : "-", ProbeName(r.probe), result, ProbeLooksAt(r.probe)});
  }
  Table(t, rows);
}

std::string YesNo(const std::optional<bool>& v) { return v ? (*v ? "yes" : "no") : "-"; }

}  // namespace

std::string RenderReportText(const ReportFacts& f, const ToUtf8& to_utf8) {
  Text t(to_utf8, f.thousands_separator);
  t.Plain(std::string("hostprobe report") + (f.replayed ? " (replayed snapshot)" : "") +
          (f.redacted ? " (redacted)" : ""));
  t.Line(0, "Host", f.host ? t.Shown(*f.host) : "- (not in a snapshot)");
  t.Line(0, "Time", t.Shown(f.timestamp));
  t.Plain("");
  Adapters(t, f.adapters);
  t.Plain("");
  Interfaces(t, f.interfaces);
  t.Plain("");
  Drives(t, f.drives);
  t.Plain("");
  Probes(t, f.probes);
  t.Plain("");
  const ReportClassification& c = f.classification;
  if (c.status == "error") {
    t.Plain("Classification: " + ErrorLine(c.error, t));
  } else {
    t.Plain("Classification:");
    for (const std::string& line : c.lines) t.Plain("  " + t.Shown(line));
  }
  t.Line(0, "Reference check (TEST)",
         c.reference_vm ? std::string(*c.reference_vm ? "True" : "False") + " (reference adapter present: " +
                              YesNo(c.reference_adapter_present) +
                              ", virtual machine: " + YesNo(c.virtual_machine) + ")"
                        : "-");
  t.Line(0, "Hypervisor", f.virt ? t.Shown(f.virt->hypervisor) : "- (not in a snapshot)");
  t.Line(0, "Container", f.virt ? t.Shown(f.virt->container) : "- (not in a snapshot)");
  return t.Done();
}

}  // namespace hostprobe
