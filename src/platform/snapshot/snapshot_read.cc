// Reading and validating snapshot files. Every problem is reported with the
// file name, the JSON path of the offending value and what is wrong with it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/error.h"
#include "platform/utf8.h"
#include "platform/snapshot/snapshot.h"
#include "platform/snapshot/snapshot_fields.h"

// Open flags one C runtime lacks are no-ops there: Windows has no FIFOs to
// block on and no controlling terminal, POSIX no text mode.
#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
#ifndef O_NOCTTY
#define O_NOCTTY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace hostprobe {
namespace {

using nlohmann::json;
namespace rec = records;

constexpr int kMaxDepth = 32;
// Four million values: about twice a capture of 32,767 adapters and 32,767
// interfaces.
constexpr std::size_t kMaxValues = 4'000'000;
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

  // A text of at most `limit` printable characters (no C0 or C1 control,
  // DEL, line or paragraph separator): it goes into every log record as is.
  std::string PrintableText(const json& v, const std::string& where, std::size_t limit) const {
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
      auto hex = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
      };
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
      const std::string s = Text(v["name"], Join(where, "name"));
      std::size_t n = 0;
      for (std::size_t i = 0; i < s.size() && n < 255; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if ((c & 0xC0) == 0x80) continue;  // keep one unit per UTF-8 lead byte
        r[rec::kRowName + 2 * n] = c < 0x80 ? c : '?';
        ++n;
      }
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
    d.letter = Text(v["letter"], Join(where, "letter"));
    d.ready = Boolean(v["ready"], Join(where, "ready"));
    auto text = [&](const char* key, std::string& out) {
      if (v.contains(key)) out = Text(v[key], Join(where, key));
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
      for (const auto& item : captured.items()) Text(item.value(), Join("captured", item.key()));
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

// Builds the document like nlohmann's own DOM parser, but refuses nesting
// deeper than kMaxDepth (no input can exhaust the stack), more than
// kMaxValues values (which bounds the memory the document takes) and a key
// given twice in one object (the parser would keep the last silently).
class LimitedDomParser : public nlohmann::detail::json_sax_dom_parser<json> {
  using Base = nlohmann::detail::json_sax_dom_parser<json>;

 public:
  LimitedDomParser(json& document, const std::string& name) : Base(document, true), name_(name) {}

  bool null() { return Value(), Base::null(); }
  bool boolean(bool v) { return Value(), Base::boolean(v); }
  bool number_integer(number_integer_t v) { return Value(), Base::number_integer(v); }
  bool number_unsigned(number_unsigned_t v) { return Value(), Base::number_unsigned(v); }
  bool number_float(number_float_t v, const string_t& s) { return Value(), Base::number_float(v, s); }
  bool string(string_t& v) { return Value(), Base::string(v); }
  bool binary(binary_t& v) { return Value(), Base::binary(v); }
  bool start_object(std::size_t n) { return Enter(true), Base::start_object(n); }
  bool key(string_t& k) {
    Frame& object = frames_.back();
    object.key = k;
    if (!object.keys.insert(k).second) Throw(name_ + ": " + Path() + ": duplicate key");
    return Base::key(k);
  }
  bool end_object() { return frames_.pop_back(), Base::end_object(); }
  bool start_array(std::size_t n) { return Enter(false), Base::start_array(n); }
  bool end_array() { return frames_.pop_back(), Base::end_array(); }

 private:
  // An object or array being read.
  struct Frame {
    bool object = false;
    std::size_t elements = 0;     // an array's elements begun so far
    std::string key;              // an object's latest key
    std::set<std::string> keys;  // an object's keys so far
  };

  void Value() {
    if (++values_ > kMaxValues) Throw(name_ + ": more than " + std::to_string(kMaxValues) + " values");
    if (!frames_.empty() && !frames_.back().object) ++frames_.back().elements;
  }
  void Enter(bool object) {
    Value();
    if (frames_.size() >= kMaxDepth) {
      Throw(name_ + ": nesting deeper than " + std::to_string(kMaxDepth) + " levels");
    }
    frames_.push_back(Frame{object, 0, {}, {}});
  }
  // The place of the value being read, written as Reader writes places.
  std::string Path() const {
    std::string path;
    for (const Frame& f : frames_) {
      if (!f.object) {
        path += "[" + std::to_string(f.elements - 1) + "]";
      } else {
        path += (path.empty() ? "" : ".") + f.key;
      }
    }
    return path;
  }

  const std::string& name_;
  std::size_t values_ = 0;
  std::vector<Frame> frames_;
};

// Empties a document from its leaves up. nlohmann's destructor first moves a
// container's children onto a stack it allocates: out of memory, that would
// throw inside a destructor and end the program instead of reporting. Taken
// apart this way no step allocates; the nesting limit bounds the recursion.
void Dismantle(json& v) {
  if (v.is_array()) {
    auto& array = v.get_ref<json::array_t&>();
    while (!array.empty()) {
      Dismantle(array.back());
      array.pop_back();
    }
  } else if (v.is_object()) {
    auto& object = v.get_ref<json::object_t&>();
    for (auto& item : object) Dismantle(item.second);
    object.clear();
  }
}

class DismantleOnExit {
 public:
  explicit DismantleOnExit(json& document) : document_(document) {}
  ~DismantleOnExit() { Dismantle(document_); }
  DismantleOnExit(const DismantleOnExit&) = delete;
  DismantleOnExit& operator=(const DismantleOnExit&) = delete;

 private:
  json& document_;
};

// Line and column of byte offset `pos` in `text`, both from 1.
std::string LineColumn(std::string_view text, std::size_t pos) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < pos && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

[[noreturn]] void TooLarge(const std::string& path) {
  Throw(path + ": snapshot larger than the limit of " + std::to_string(kMaxSnapshotBytes >> 20) + " MiB");
}

// Closes a file descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// True when a part of `path` is longer than the 255 bytes a file name may have.
bool HasOverlongName(const std::string& path) {
  std::size_t part = 0;
  for (const char c : path) {
    part = (c == '/' || c == '\\') ? 0 : part + 1;
    if (part > 255) return true;
  }
  return false;
}

}  // namespace

SnapshotData ParseSnapshot(std::string_view text, const std::string& name) {
  Reader reader(name);
  json document;
  const DismantleOnExit dismantle(document);
  // The parser takes a NUL byte for the end of the input: whatever follows
  // one would pass unread.
  const std::size_t nul = text.find('\0');
  try {
    LimitedDomParser sax(document, name);
    json::sax_parse(text.begin(), text.end(), &sax);
  } catch (const json::parse_error& e) {
    // e.what() reads "[json.exception.parse_error.N] parse error at line L, column C: why".
    const std::string what = e.what();
    const auto why = what.find(": ", what.find("column"));
    std::string reason = why == std::string::npos ? "" : what.substr(why);
    const std::size_t at = e.byte == 0 ? 0 : e.byte - 1;
    const std::string end = "unexpected end of input";
    if (at == nul && reason.find(end) != std::string::npos) {
      reason.replace(reason.find(end), end.size(), "unexpected NUL byte");
    }
    Throw(name + ": " + LineColumn(text, at) + ": not valid JSON" + reason);
  } catch (const json::exception& e) {
    // A number too large for a double: "[json.exception.out_of_range.406] why".
    const std::string what = e.what();
    const auto why = what.find("] ");
    Throw(name + ": not valid JSON: " + (why == std::string::npos ? what : what.substr(why + 2)));
  }
  if (nul != std::string_view::npos) {
    Throw(name + ": " + LineColumn(text, nul) +
          ": not valid JSON: syntax error while parsing value - unexpected NUL byte; expected end of input");
  }
  return reader.Top(document);
}

SnapshotData ReadSnapshotFile(const std::string& path) {
  const auto cannot = [&path](const std::string& why) {
    Throw(path + ": cannot read the snapshot: " + why);
  };
  // Opened without blocking (a FIFO without a writer would hold the run
  // forever) and checked to be a regular file before a byte is read.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_BINARY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    const int err = errno;
    std::error_code ec;
    // Windows does not open a directory as a file at all.
    if (err == EACCES && std::filesystem::is_directory(path, ec)) cannot("it is a directory");
    // Its C runtime says "no such file" for a name no file system takes.
    if (err == ENOENT && HasOverlongName(path)) cannot(std::strerror(ENAMETOOLONG));
    cannot(std::strerror(err));
  }
  struct stat st;
  if (::fstat(fd.get(), &st) != 0) cannot(std::strerror(errno));
  if (S_ISDIR(st.st_mode)) cannot("it is a directory");
  if (!S_ISREG(st.st_mode)) cannot("it is not a regular file");
  if (st.st_size < 0 || static_cast<std::uintmax_t>(st.st_size) > kMaxSnapshotBytes) TooLarge(path);
  std::string text;
  text.reserve(static_cast<std::size_t>(st.st_size) + 1);
  char chunk[65536];
  for (;;) {
    const auto got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) cannot(std::strerror(errno));
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
    if (text.size() > kMaxSnapshotBytes) TooLarge(path);  // a file that grew while read
  }
  return ParseSnapshot(text, path);
}

}  // namespace hostprobe
