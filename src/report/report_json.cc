// The report as JSON, written by hand: the core uses the standard library
// only. Every key is always present (null where a value is not known), so
// consumers can rely on the shape.
#include <cstdio>
#include <string>

#include "report/report.h"

namespace hostprobe {
namespace {

// The length of the well-formed UTF-8 character at text[at], 0 if none.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char b0 = b(0);
  const std::size_t left = text.size() - at;
  if (b0 < 0x80) return 1;
  auto cont = [&](std::size_t k) { return k < left && (b(k) & 0xC0) == 0x80; };
  if (b0 >= 0xC2 && b0 <= 0xDF) return cont(1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (b0 == 0xE0 && b(1) < 0xA0) return 0;   // overlong
    if (b0 == 0xED && b(1) >= 0xA0) return 0;  // surrogates
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (b0 == 0xF0 && b(1) < 0x90) return 0;   // overlong
    if (b0 == 0xF4 && b(1) >= 0x90) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

// A byte outside UTF-8 read as Windows-1252, the ANSI code page of most
// Windows systems, so that a replayed record text decodes alike on both.
uint32_t Windows1252(unsigned char b) {
  static constexpr uint16_t k80[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return b >= 0x80 && b < 0xA0 ? k80[b - 0x80] : b;
}

void AppendCodePoint(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Json {
 public:
  explicit Json(const ToUtf8& to_utf8) : to_utf8_(to_utf8) {}

  // Objects and arrays; Key() before each member of an object.
  void Open(char c) {
    Comma();
    out_ += c;
    first_ = true;
    ++depth_;
  }
  void Close(char c) {
    --depth_;
    if (!first_) Newline();
    out_ += c;
    first_ = false;
  }
  void Key(const char* key) {
    Comma();
    out_ += JsonString(key);
    out_ += ": ";
    keyed_ = true;
  }
  void Raw(const std::string& value) {
    Comma();
    out_ += value;
  }
  void Text(const std::string& system_text) { Raw(JsonString(ValidUtf8(to_utf8_(system_text)))); }
  void Ascii(const char* text) { Raw(JsonString(text)); }
  void Null() { Raw("null"); }
  void Bool(bool v) { Raw(v ? "true" : "false"); }
  template <typename T>
  void Number(T v) {
    Raw(std::to_string(v));
  }
  void Mac(const std::array<uint8_t, 6>& mac) {
    Comma();
    out_ += '[';
    for (std::size_t i = 0; i < mac.size(); ++i) out_ += (i ? ", " : "") + std::to_string(mac[i]);
    out_ += ']';
  }
  template <typename T>
  void Optional(const std::optional<T>& v) {
    if (!v) return Null();
    if constexpr (std::is_same_v<T, bool>) {
      Bool(*v);
    } else {
      Number(*v);
    }
  }
  void Error(const std::optional<SectionError>& e) {
    Key("error");
    if (e) {
      Text(e->message);
    } else {
      Null();
    }
  }
  std::string Done() { return out_ + "\n"; }

 private:
  void Comma() {
    if (keyed_) {
      keyed_ = false;
      return;
    }
    if (depth_ == 0) return;
    if (!first_) out_ += ',';
    Newline();
    first_ = false;
  }
  void Newline() {
    out_ += '\n';
    out_.append(static_cast<std::size_t>(depth_) * 2, ' ');
  }

  const ToUtf8& to_utf8_;
  std::string out_;
  int depth_ = 0;
  bool first_ = true;
  bool keyed_ = false;
};

void NameOrNull(Json& j, const char* name) {
  if (*name) {
    j.Ascii(name);
  } else {
    j.Null();
  }
}

void Adapters(Json& j, const ReportAdapters& a) {
  j.Open('{');
  j.Key("status"), j.Ascii(a.status.c_str());
  j.Key("needed_length"), j.Number(a.needed_length);
  j.Key("count"), j.Optional(a.count);
  j.Key("fill_status"), j.Optional(a.fill_status);
  j.Error(a.error);
  j.Key("list"), j.Open('[');
  for (const ReportAdapter& r : a.list) {
    j.Open('{');
    j.Key("index"), j.Number(r.index);
    j.Key("description"), j.Text(r.description);
    j.Key("adapter_name"), j.Text(r.adapter_name);
    j.Key("address_length"), j.Number(r.address_length);
    j.Key("mac"), j.Mac(r.mac);
    j.Key("mac_text"), j.Ascii(MacText(r.mac).c_str());
    j.Key("type"), j.Number(r.type);
    j.Key("type_name"), NameOrNull(j, InterfaceTypeName(r.type));
    j.Key("dhcp_enabled"), j.Number(r.dhcp_enabled);
    j.Key("dhcp_server"), j.Text(r.dhcp_server);
    j.Key("ip_address"), j.Text(r.ip_address);
    j.Key("ip_mask"), j.Text(r.ip_mask);
    j.Key("more_addresses"), j.Bool(r.more_addresses);
    j.Key("gateway"), j.Text(r.gateway);
    j.Key("have_wins"), j.Number(r.have_wins);
    j.Key("primary_wins_server"), j.Text(r.primary_wins_server);
    j.Key("secondary_wins_server"), j.Text(r.secondary_wins_server);
    j.Close('}');
  }
  j.Close(']');
  j.Close('}');
}

void Interfaces(Json& j, const ReportInterfaces& t) {
  j.Open('{');
  j.Key("status"), j.Ascii(t.status.c_str());
  j.Key("needed_length"), j.Number(t.needed_length);
  j.Key("fill_status"), j.Optional(t.fill_status);
  j.Key("num_entries"), j.Optional(t.num_entries);
  j.Error(t.error);
  j.Key("rows"), j.Open('[');
  for (const ReportInterface& r : t.rows) {
    j.Open('{');
    j.Key("index"), j.Number(r.index);
    j.Key("description"), j.Text(r.description);
    j.Key("type"), j.Number(r.type);
    j.Key("type_name"), NameOrNull(j, InterfaceTypeName(r.type));
    j.Key("admin_status"), j.Number(r.admin_status);
    j.Key("admin_status_name"), NameOrNull(j, AdminStatusName(r.admin_status));
    j.Key("oper_status"), j.Number(r.oper_status);
    j.Key("speed"), j.Number(r.speed);
    j.Key("mtu"), j.Number(r.mtu);
    j.Key("phys_addr_len"), j.Number(r.phys_addr_len);
    j.Key("mac"), j.Mac(r.mac);
    j.Key("mac_text"), j.Ascii(MacText(r.mac).c_str());
    j.Close('}');
  }
  j.Close(']');
  j.Close('}');
}

template <typename T>
void Value(Json& j, const char* key, const DriveValue<T>& v) {
  j.Key(key);
  if (!v.value) return j.Null();
  if constexpr (std::is_same_v<T, std::string>) {
    j.Text(*v.value);
  } else if constexpr (std::is_same_v<T, bool>) {
    j.Bool(*v.value);
  } else {
    j.Number(*v.value);
  }
}

void Drives(Json& j, const ReportDrives& d) {
  j.Open('{');
  j.Key("status"), j.Ascii(d.status.c_str());
  j.Key("count"), j.Optional(d.count);
  j.Error(d.error);
  j.Key("list"), j.Open('[');
  for (const ReportDrive& r : d.list) {
    j.Open('{');
    Value(j, "letter", r.letter);
    Value(j, "ready", r.ready);
    Value(j, "volume_name", r.volume_name);
    Value(j, "type", r.type);
    j.Key("type_name");
    if (r.type.value) {
      NameOrNull(j, DriveTypeName(*r.type.value));
    } else {
      j.Null();
    }
    Value(j, "file_system", r.file_system);
    Value(j, "serial_number", r.serial_number);
    Value(j, "share_name", r.share_name);
    Value(j, "root_path", r.root_path);
    Value(j, "total_size", r.total_size);
    Value(j, "free_space", r.free_space);
    j.Key("used_space");
    if (r.total_size.value && r.free_space.value) {
      j.Number(*r.total_size.value - *r.free_space.value);
    } else {
      j.Null();
    }
    j.Key("errors"), j.Open('{');
    for (const auto& [property, message] : r.errors()) j.Key(property.c_str()), j.Text(message);
    j.Close('}');
    j.Close('}');
  }
  j.Close(']');
  const ReportDriveTotals& t = d.totals;
  j.Key("totals"), j.Open('{');
  j.Key("per_type"), j.Open('{');
  for (int type = 0; type < kDriveTypeCount; ++type) j.Key(DriveTypeKey(type)), j.Number(t.per_type[type]);
  j.Close('}');
  j.Key("total_bytes"), j.Number(t.total_bytes);
  j.Key("used_bytes"), j.Number(t.used_bytes);
  j.Key("free_bytes"), j.Number(t.free_bytes);
  j.Key("complete"), j.Bool(t.complete);
  j.Close('}');
  j.Close('}');
}

void Probes(Json& j, const ReportProbes& p) {
  j.Open('{');
  j.Key("status"), j.Ascii(p.status.c_str());
  j.Error(p.error);
  j.Key("list"), j.Open('[');
  for (const ReportProbe& r : p.list) {
    j.Open('{');
    j.Key("name"), j.Ascii(ProbeName(r.probe));
    j.Key("test");
    if (ProbeTest(r.probe)) {
      j.Number(ProbeTest(r.probe));
    } else {
      j.Null();
    }
    j.Key("value"), j.Optional(r.value);
    j.Key("detected");
    if (r.value) {
      j.Bool(*r.value != 0);
    } else {
      j.Null();
    }
    j.Key("looks_at"), j.Ascii(ProbeLooksAt(r.probe));
    j.Close('}');
  }
  j.Close(']');
  j.Close('}');
}

void Classification(Json& j, const ReportClassification& c) {
  j.Open('{');
  j.Key("status"), j.Ascii(c.status.c_str());
  j.Error(c.error);
  j.Key("lines"), j.Open('[');
  for (const std::string& line : c.lines) j.Text(line);
  j.Close(']');
  j.Key("virtual_machine"), j.Optional(c.virtual_machine);
  j.Close('}');
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      AppendCodePoint(out, Windows1252(static_cast<unsigned char>(text[i])));
      ++i;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (u < 0x20 || u == 0x7F) {
          char buffer[7];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
          out += buffer;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string RenderReportJson(const ReportFacts& f, const ToUtf8& to_utf8) {
  Json j(to_utf8);
  j.Open('{');
  j.Key("hostprobe_report"), j.Number(1);
  j.Key("source"), j.Ascii(f.replayed ? "replay" : "live");
  j.Key("redacted"), j.Bool(f.redacted);
  j.Key("host");
  if (f.host) {
    j.Text(*f.host);
  } else {
    j.Null();
  }
  j.Key("timestamp"), j.Text(f.timestamp);
  j.Key("thousands_separator"), j.Text(f.thousands_separator);
  j.Key("adapters"), Adapters(j, f.adapters);
  j.Key("interfaces"), Interfaces(j, f.interfaces);
  j.Key("drives"), Drives(j, f.drives);
  j.Key("probes"), Probes(j, f.probes);
  j.Key("classification"), Classification(j, f.classification);
  j.Key("reference_check"), j.Open('{');
  j.Key("adapter_present"), j.Optional(f.classification.reference_adapter_present);
  j.Key("virtual_machine"), j.Optional(f.classification.virtual_machine);
  j.Key("reference_vm"), j.Optional(f.classification.reference_vm);
  j.Close('}');
  j.Key("virtualization"), j.Open('{');
  j.Key("hypervisor");
  if (f.virt) {
    j.Text(f.virt->hypervisor);
  } else {
    j.Null();
  }
  j.Key("container");
  if (f.virt) {
    j.Text(f.virt->container);
  } else {
    j.Null();
  }
  j.Close('}');
  j.Close('}');
  return j.Done();
}

}  // namespace hostprobe
