// The snapshot schema: the document's keys, types and ranges checked and
// turned into the records the replayed platform serves. Every problem is
// reported with the file name, the place of the offending value (its keys and
// indexes) and what is wrong with it.
#include "platform/snapshot/snapshot_schema.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

#include "platform/error.h"
#include "platform/hex_digit.h"
#include "platform/snapshot/snapshot_fields.h"
#include "platform/utf8.h"

namespace hostprobe {
namespace {

using nlohmann::json;
namespace rec = records;

// The longest timestamp and thousands separator, in characters: more than any
// locale's general date (with month names) or grouping separator.
constexpr std::size_t kMaxTimestamp = 64;
constexpr std::size_t kMaxSeparator = 3;

// Every message leaves with the outside text in it (file name, keys, values)
// shown escaped.
[[noreturn]] void Throw(const std::string& message) { throw SnapshotError(ShownName(message)); }

class Reader {
 public:
  explicit Reader(std::string name) : name_(std::move(name)) {}

  [[noreturn]] void Fail(const std::string& where, const std::string& what) const {
    Throw(name_ + ": " + (where.empty() ? std::string("top level") : where) + ": " + what);
  }

  static std::string Join(const std::string& base, const std::string& key) {
    return base.empty() ? key : base + "." + key;
  }
  static std::string Index(const std::string& base, std::size_t i) {
    return base + "[" + std::to_string(i) + "]";
  }

  // A number the parser holds as a double but whose value is whole: an
  // integer in exponent form (1e2) or beyond 64 bits.
  static bool WholeFloat(const json& v) {
    if (!v.is_number_float()) return false;
    const double d = v.get<double>();
    return std::isfinite(d) && std::trunc(d) == d;
  }

  static const char* TypeName(const json& v) {
    if (v.is_number_float() && !WholeFloat(v)) return "a fractional number";
    if (v.is_number()) return "a number";
    return v.type_name();
  }

  void ExpectObject(const json& v, const std::string& where, std::set<std::string> keys) const {
    if (!v.is_object()) Fail(where, std::string("expected an object, found ") + TypeName(v));
    for (const auto& item : v.items()) {
      if (!keys.count(item.key())) Fail(Join(where, item.key()), "unknown key");
    }
  }

  void ExpectArray(const json& v, const std::string& where) const {
    if (!v.is_array()) Fail(where, std::string("expected an array, found ") + TypeName(v));
  }

  // Integers are read in plain digits within 64 bits; other whole numbers are
  // out of range, and said so even where their value would fit.
  int64_t Integer(const json& v, const std::string& where, int64_t lo, int64_t hi) const {
    if (WholeFloat(v)) {
      const double d = v.get<double>();
      const bool inside = d >= static_cast<double>(lo) && d <= static_cast<double>(hi);
      Fail(where, inside ? OutOfRange(lo, hi, " in plain digits") : OutOfRange(lo, hi));
    }
    if (!v.is_number_integer()) {
      Fail(where, std::string("expected an integer, found ") + TypeName(v));
    }
    if (v.is_number_unsigned()) {
      const auto u = v.get<uint64_t>();
      if (u > static_cast<uint64_t>(hi)) Fail(where, OutOfRange(lo, hi));
      return static_cast<int64_t>(u);
    }
    const auto s = v.get<int64_t>();
    if (s < lo || s > hi) Fail(where, OutOfRange(lo, hi));
    return s;
  }

  static std::string OutOfRange(int64_t lo, int64_t hi, const char* form = "") {
    return "number out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + form + ")";
  }

  // A 4-byte field: -2^31 to 2^32 - 1, kept as its 32-bit pattern.
  uint32_t Field32(const json& v, const std::string& where) const {
    return static_cast<uint32_t>(Integer(v, where, -2147483648LL, 4294967295LL));
  }

  // A platform's needed length; replay takes buffers of up to 64 MiB, more
  // than any adapter list or interface table the reports can walk.
  uint32_t NeededLength(const json& v, const std::string& where) const {
    return static_cast<uint32_t>(Integer(v, where, 0, kMaxSnapshotBytes));
  }

  bool Boolean(const json& v, const std::string& where) const {
    if (!v.is_boolean()) Fail(where, std::string("expected true or false, found ") + TypeName(v));
    return v.get<bool>();
  }

  std::string Text(const json& v, const std::string& where) const {
    if (!v.is_string()) Fail(where, std::string("expected a string, found ") + TypeName(v));
    return v.get<std::string>();
  }

  // A text of the machine: a string, or where it is not UTF-8
  // {"bytes": "..."}, one character U+0000 to U+00FF per byte. The bytes.
  std::string MachineText(const json& v, const std::string& where) const {
    if (!v.is_object()) return Text(v, where);
    ExpectObject(v, where, {"bytes"});
    if (!v.contains("bytes")) Fail(where, "missing key \"bytes\"");
    const std::string s = Text(v["bytes"], Join(where, "bytes"));
    std::string bytes;
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) {
      const uint32_t cp = ReadUtf8(s, &i);
      if (cp > 0xFF) {
        Fail(Join(where, "bytes"), "character " + std::to_string(n + 1) + " is beyond U+00FF; it holds one byte per character");
      }
      bytes += static_cast<char>(cp);
    }
    return bytes;
  }

  // A text of at most `limit` printable characters (no C0 or C1 control,
  // DEL, line or paragraph separator): it goes into every log record as is.
  // Given as bytes, at most `limit` bytes, none of them C0 or DEL.
  std::string PrintableText(const json& v, const std::string& where, std::size_t limit) const {
    if (v.is_object()) {
      std::string bytes = MachineText(v, where);
      if (bytes.size() > limit) Fail(where, "text longer than " + std::to_string(limit) + " bytes");
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x20 || b == 0x7F) Fail(where, "byte " + std::to_string(i + 1) + " is not printable");
      }
      return bytes;
    }
    std::string s = Text(v, where);
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size(); ++n) {
      // The parser has checked the UTF-8: every character reads whole.
      const uint32_t cp = ReadUtf8(s, &i);
      if (cp == kNotUtf8) Fail(where, "character " + std::to_string(n + 1) + " is not UTF-8");
      if (n == limit) Fail(where, "text longer than " + std::to_string(limit) + " characters");
      if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x2028 || cp == 0x2029) {
        Fail(where, "character " + std::to_string(n + 1) + " is not printable");
      }
    }
    return s;
  }

  // A fixed-width 8-bit field: every character U+0000 to U+00FF is one byte;
  // shorter texts are padded with NULs.
  void ByteText(const json& v, const std::string& where, uint8_t* out, std::size_t width) const {
    const std::string s = Text(v, where);
    std::size_t n = 0;
    for (std::size_t i = 0; i < s.size();) {
      const uint32_t cp = ReadUtf8(s, &i);
      if (cp > 0xFF) {
        Fail(where, "character " + std::to_string(n + 1) +
                        " is beyond U+00FF; a text field holds one byte per character");
      }
      if (n == width) {
        Fail(where, "text longer than the field's " + std::to_string(width) + " bytes");
      }
      out[n++] = static_cast<uint8_t>(cp);
    }
    std::fill(out + n, out + width, 0);
  }

  // Up to 8 bytes as two hex digits each joined by "-"; missing bytes are 0.
  void HardwareAddress(const json& v, const std::string& where, uint8_t* out) const {
    const std::string s = Text(v, where);
    std::fill(out, out + rec::kPhysAddrWidth, 0);
    if (s.empty()) return;
    std::size_t n = 0;
    for (std::size_t i = 0;; i += 3) {
      const auto hex = HexDigitValue;
      if (n == rec::kPhysAddrWidth) Fail(where, "more than 8 address bytes");
      if (i + 2 > s.size() || hex(s[i]) < 0 || hex(s[i + 1]) < 0) {
        Fail(where, "expected two hex digits per byte, joined by \"-\"");
      }
      out[n++] = static_cast<uint8_t>(hex(s[i]) * 16 + hex(s[i + 1]));
      if (i + 2 == s.size()) break;
      if (s[i + 2] != '-') Fail(where, "expected two hex digits per byte, joined by \"-\"");
    }
  }

  void AddressEntry(const json& v, const std::string& where, uint8_t* entry) const {
    ExpectObject(v, where, {"next", "ip_address", "ip_mask", "context"});
    std::fill(entry, entry + rec::kAddrSize, 0);
    if (v.contains("next")) rec::PutU32(entry + rec::kAddrNext, Field32(v["next"], Join(where, "next")));
    if (v.contains("ip_address")) {
      ByteText(v["ip_address"], Join(where, "ip_address"), entry + rec::kAddrIpAddress,
               rec::kAddrTextWidth);
    }
    if (v.contains("ip_mask")) {
      ByteText(v["ip_mask"], Join(where, "ip_mask"), entry + rec::kAddrIpMask, rec::kAddrTextWidth);
    }
    if (v.contains("context")) {
      rec::PutU32(entry + rec::kAddrContext, Field32(v["context"], Join(where, "context")));
    }
  }

  void AdapterRecord(const json& v, const std::string& where, uint8_t* r) const {
    static const std::map<std::string, std::size_t> numbers = {
        {"combo_index", rec::kAdComboIndex},     {"address_length", rec::kAdAddressLength},
        {"index", rec::kAdIndex},                {"type", rec::kAdType},
        {"dhcp_enabled", rec::kAdDhcpEnabled},   {"current_ip_address", rec::kAdCurrentIpAddress},
        {"have_wins", rec::kAdHaveWins},         {"lease_obtained", rec::kAdLeaseObtained},
        {"lease_expires", rec::kAdLeaseExpires},
    };
    static const std::map<std::string, std::size_t> entries = {
        {"ip_address_list", rec::kAdIpAddressList},
        {"gateway_list", rec::kAdGatewayList},
        {"dhcp_server", rec::kAdDhcpServer},
        {"primary_wins_server", rec::kAdPrimaryWinsServer},
        {"secondary_wins_server", rec::kAdSecondaryWinsServer},
    };
    std::set<std::string> keys = {"adapter_name", "description", "address"};
    for (const auto& [k, off] : numbers) keys.insert(k);
    for (const auto& [k, off] : entries) keys.insert(k);
    ExpectObject(v, where, keys);
    std::fill(r, r + rec::kAdapterSize, 0);
    for (const auto& [k, off] : numbers) {
      if (v.contains(k)) rec::PutU32(r + off, Field32(v[k], Join(where, k)));
    }
    for (const auto& [k, off] : entries) {
      if (v.contains(k)) AddressEntry(v[k], Join(where, k), r + off);
    }
    if (v.contains("adapter_name")) {
      ByteText(v["adapter_name"], Join(where, "adapter_name"), r + rec::kAdAdapterName,
               rec::kAdAdapterNameWidth);
    }
    if (v.contains("description")) {
      ByteText(v["description"], Join(where, "description"), r + rec::kAdDescription,
               rec::kAdDescriptionWidth);
    }
    if (v.contains("address")) {
      HardwareAddress(v["address"], Join(where, "address"), r + rec::kAdAddress);
    }
  }

  SnapshotAdapters Adapters(const json& v, const std::string& where) const {
    ExpectObject(v, where, {"needed_length", "fill_status", "records"});
    SnapshotAdapters a;
    if (v.contains("records")) {
      const json& list = v["records"];
      const std::string at = Join(where, "records");
      ExpectArray(list, at);
      if (list.size() > kMaxSnapshotBytes / rec::kAdapterSize) {
        Fail(at, "more records than a 64 MiB buffer holds");
      }
      a.records.resize(list.size());
      for (std::size_t i = 0; i < list.size(); ++i) {
        AdapterRecord(list[i], Index(at, i), a.records[i].data());
      }
    }
    const uint64_t fallback = uint64_t{rec::kAdapterSize} * a.records.size();
    if (v.contains("needed_length")) {
      a.needed_length = NeededLength(v["needed_length"], Join(where, "needed_length"));
    } else if (fallback > std::numeric_limits<uint32_t>::max()) {
      Fail(Join(where, "records"), "too many records for a 32-bit length");
    } else {
      a.needed_length = static_cast<uint32_t>(fallback);
    }
    if (v.contains("fill_status")) a.fill_status = Field32(v["fill_status"], Join(where, "fill_status"));
    return a;
  }

  void InterfaceRow(const json& v, const std::string& where, uint8_t* r) const {
    // Checked in the order of their names, so that of two bad fields the
    // same one is always named.
    static const std::map<std::string, std::size_t> numbers = [] {
      std::map<std::string, std::size_t> m;
      for (const auto& [k, off] : snapshot_fields::kRowNumbers) m.emplace(k, off);
      return m;
    }();
    std::set<std::string> keys = {"name", "phys_addr", "descr"};
    for (const auto& [k, off] : numbers) keys.insert(k);
    ExpectObject(v, where, keys);
    std::fill(r, r + rec::kRowSize, 0);
    for (const auto& [k, off] : numbers) {
      if (v.contains(k)) rec::PutU32(r + off, Field32(v[k], Join(where, k)));
    }
    if (v.contains("name")) {
      // The wide name is never shown: stored as UTF-16LE, cut to 255 units.
      rec::PutRowName(r, Text(v["name"], Join(where, "name")));
    }
    if (v.contains("phys_addr")) {
      HardwareAddress(v["phys_addr"], Join(where, "phys_addr"), r + rec::kRowPhysAddr);
    }
    std::size_t descr_bytes = 0;
    if (v.contains("descr")) {
      ByteText(v["descr"], Join(where, "descr"), r + rec::kRowDescr, rec::kRowDescrWidth);
      descr_bytes = TextBytes(v["descr"].get<std::string>());
    }
    if (!v.contains("descr_len")) {
      rec::PutU32(r + rec::kRowDescrLen, static_cast<uint32_t>(descr_bytes + 1));
    }
  }

  // The number of bytes a validated 8-bit text stands for.
  static std::size_t TextBytes(const std::string& utf8) {
    std::size_t n = 0;
    for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
  }

  SnapshotInterfaces Interfaces(const json& v, const std::string& where) const {
    ExpectObject(v, where, {"needed_length", "fill_status", "num_entries", "rows"});
    SnapshotInterfaces t;
    if (v.contains("rows")) {
      const json& list = v["rows"];
      const std::string at = Join(where, "rows");
      ExpectArray(list, at);
      if (list.size() > (kMaxSnapshotBytes - rec::kTableRows) / rec::kRowSize) {
        Fail(at, "more rows than a 64 MiB buffer holds");
      }
      t.rows.resize(list.size());
      for (std::size_t i = 0; i < list.size(); ++i) InterfaceRow(list[i], Index(at, i), t.rows[i].data());
    }
    const uint64_t fallback = rec::kTableRows + uint64_t{rec::kRowSize} * t.rows.size();
    if (v.contains("needed_length")) {
      t.needed_length = NeededLength(v["needed_length"], Join(where, "needed_length"));
    } else if (fallback > std::numeric_limits<uint32_t>::max()) {
      Fail(Join(where, "rows"), "too many rows for a 32-bit length");
    } else {
      t.needed_length = static_cast<uint32_t>(fallback);
    }
    t.num_entries = v.contains("num_entries")
                        ? Field32(v["num_entries"], Join(where, "num_entries"))
                        : static_cast<uint32_t>(t.rows.size());
    if (v.contains("fill_status")) t.fill_status = Field32(v["fill_status"], Join(where, "fill_status"));
    return t;
  }

  SnapshotDrive OneDrive(const json& v, const std::string& where) const {
    ExpectObject(v, where,
                 {"letter", "ready", "volume_name", "type", "file_system", "serial_number",
                  "share_name", "root_path", "total_size", "free_space", "fail"});
    SnapshotDrive d;
    if (!v.contains("letter")) Fail(where, "missing key \"letter\"");
    if (!v.contains("ready")) Fail(where, "missing key \"ready\"");
    d.letter = MachineText(v["letter"], Join(where, "letter"));
    d.ready = Boolean(v["ready"], Join(where, "ready"));
    auto text = [&](const char* key, std::string& out) {
      if (v.contains(key)) out = MachineText(v[key], Join(where, key));
    };
    text("volume_name", d.volume_name);
    text("file_system", d.file_system);
    text("share_name", d.share_name);
    text("root_path", d.root_path);
    constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();
    if (v.contains("type")) d.type = static_cast<int32_t>(Integer(v["type"], Join(where, "type"), kMin32, kMax32));
    if (v.contains("serial_number")) {
      d.serial_number = static_cast<int32_t>(Field32(v["serial_number"], Join(where, "serial_number")));
    }
    constexpr int64_t kMaxSize = std::numeric_limits<int64_t>::max();
    if (v.contains("total_size")) d.total_size = Integer(v["total_size"], Join(where, "total_size"), 0, kMaxSize);
    if (v.contains("free_space")) d.free_space = Integer(v["free_space"], Join(where, "free_space"), 0, kMaxSize);
    if (v.contains("fail")) {
      static const std::set<std::string> properties = {
          "IsReady",      "DriveLetter", "VolumeName", "DriveType",  "FileSystem", "SerialNumber",
          "ShareName",    "RootFolder",  "Path",       "TotalSize",  "FreeSpace",  "Drives",
          "Count"};
      d.fail = Text(v["fail"], Join(where, "fail"));
      if (!properties.count(d.fail)) Fail(Join(where, "fail"), "unknown drive property \"" + d.fail + "\"");
    }
    return d;
  }

  SnapshotProbes Probes(const json& v, const std::string& where) const {
    SnapshotProbes p;
    if (v.is_null()) {
      p.loadable = false;
      return p;
    }
    std::set<std::string> keys;
    for (int i = 0; i < kProbeCount; ++i) keys.insert(ProbeName(static_cast<Probe>(i)));
    ExpectObject(v, where, keys);
    for (int i = 0; i < kProbeCount; ++i) {
      const char* name = ProbeName(static_cast<Probe>(i));
      if (v.contains(name)) {
        p.results[i] = static_cast<int16_t>(Integer(v[name], Join(where, name), -32768, 32767));
      }
    }
    return p;
  }

  SnapshotData Top(const json& v) const {
    ExpectObject(v, "",
                 {"hostprobe_snapshot", "timestamp", "thousands_separator", "adapters", "interfaces",
                  "drives", "probes", "captured"});
    SnapshotData d;
    if (!v.contains("hostprobe_snapshot")) Fail("", "missing key \"hostprobe_snapshot\"");
    if (Integer(v["hostprobe_snapshot"], "hostprobe_snapshot", 0, 1000) != 1) {
      Fail("hostprobe_snapshot", "unsupported snapshot version (this build reads version 1)");
    }
    if (v.contains("captured")) {
      const json& captured = v["captured"];
      if (!captured.is_object()) {
        Fail("captured", std::string("expected an object, found ") + TypeName(captured));
      }
      for (const auto& item : captured.items()) MachineText(item.value(), Join("captured", item.key()));
    }
    if (v.contains("timestamp")) d.timestamp = PrintableText(v["timestamp"], "timestamp", kMaxTimestamp);
    if (v.contains("thousands_separator")) {
      d.thousands_separator = PrintableText(v["thousands_separator"], "thousands_separator", kMaxSeparator);
    }
    if (v.contains("adapters")) d.adapters = Adapters(v["adapters"], "adapters");
    if (v.contains("interfaces")) d.interfaces = Interfaces(v["interfaces"], "interfaces");
    if (v.contains("drives")) {
      ExpectArray(v["drives"], "drives");
      for (std::size_t i = 0; i < v["drives"].size(); ++i) {
        d.drives.push_back(OneDrive(v["drives"][i], Index("drives", i)));
      }
    }
    if (v.contains("probes")) {
      d.probes = Probes(v["probes"], "probes");
    } else {
      d.probes.results.fill(int16_t{0});  // no section: a library that finds nothing
    }
    return d;
  }

 private:
  std::string name_;
};

}  // namespace

SnapshotData ReadSnapshotDocument(const json& document, const std::string& name) {
  return Reader(name).Top(document);
}

}  // namespace hostprobe
