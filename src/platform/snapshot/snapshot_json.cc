// The snapshot's JSON document: built through the library's public SAX
// interface within our limits, with syntax errors found and worded here.
#include "platform/snapshot/snapshot_json.h"

#include <charconv>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/hex_digit.h"

namespace hostprobe::snapshot_json {
namespace {

using nlohmann::json;

[[noreturn]] void Throw(const std::string& message) { throw SnapshotError(ShownName(message)); }

// Builds the document, refusing nesting deeper than kMaxDepth (no input can
// exhaust the stack), more than kMaxValues values (which bounds the memory
// the document takes) and a key given twice in one object (the library would
// keep the last silently). A syntax error only stops the parse: its message
// is ours (SyntaxError).
class LimitedDomBuilder final : public nlohmann::json_sax<json> {
 public:
  LimitedDomBuilder(json& document, const std::string& name) : document_(document), name_(name) {}

  bool null() override { return Put(nullptr), true; }
  bool boolean(bool v) override { return Put(v), true; }
  bool number_integer(number_integer_t v) override { return Put(v), true; }
  bool number_unsigned(number_unsigned_t v) override { return Put(v), true; }
  bool number_float(number_float_t v, const string_t&) override { return Put(v), true; }
  bool string(string_t& v) override { return Put(std::move(v)), true; }
  bool binary(binary_t& v) override { return Put(json::binary(v)), true; }
  bool start_object(std::size_t) override { return Enter(json::object()), true; }
  bool key(string_t& k) override {
    Frame& object = frames_.back();
    if (!object.keys.insert(k).second) {
      object.key = k;
      Throw(name_ + ": " + Path() + ": duplicate key");
    }
    object.key = std::move(k);
    return true;
  }
  bool end_object() override { return frames_.pop_back(), true; }
  bool start_array(std::size_t) override { return Enter(json::array()), true; }
  bool end_array() override { return frames_.pop_back(), true; }
  bool parse_error(std::size_t position, const std::string&, const json::exception&) override {
    failed_at_ = position;
    return false;
  }

  // The library's byte count where it failed (0: it did not).
  std::size_t failed_at() const { return failed_at_; }

 private:
  // An object or array being read.
  struct Frame {
    json* value;
    std::size_t elements = 0;    // an array's elements begun so far
    std::string key;             // an object's latest key
    std::set<std::string> keys;  // an object's keys so far
  };

  // Places a value where the parse stands; returns where it went.
  json* Put(json v) {
    if (++values_ > kMaxValues) Throw(name_ + ": more than " + std::to_string(kMaxValues) + " values");
    if (frames_.empty()) {
      document_ = std::move(v);
      return &document_;
    }
    Frame& f = frames_.back();
    if (f.value->is_array()) {
      ++f.elements;
      f.value->push_back(std::move(v));
      return &f.value->back();
    }
    json& slot = (*f.value)[f.key];
    slot = std::move(v);
    return &slot;
  }
  void Enter(json container) {
    json* at = Put(std::move(container));
    if (frames_.size() >= static_cast<std::size_t>(kMaxDepth)) {
      Throw(name_ + ": nesting deeper than " + std::to_string(kMaxDepth) + " levels");
    }
    frames_.push_back(Frame{at, 0, {}, {}});
  }
  // The place of the value being read, written as the schema reader writes
  // places.
  std::string Path() const {
    std::string path;
    for (const Frame& f : frames_) {
      if (f.value->is_array()) {
        path += "[" + std::to_string(f.elements - 1) + "]";
      } else {
        path += (path.empty() ? "" : ".") + f.key;
      }
    }
    return path;
  }

  json& document_;
  const std::string& name_;
  std::size_t values_ = 0;
  std::vector<Frame> frames_;
  std::size_t failed_at_ = 0;
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

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A JSON checker (RFC 8259, as the library reads it: an optional UTF-8 byte
// order mark, no comments) that stops at the first error and says what was
// found there and what was expected. Iterative: any depth is checked in
// constant stack.
class Checker {
 public:
  explicit Checker(std::string_view text) : t_(text) {}

  // True where the text is valid; otherwise at() and what() tell the error.
  bool Check() {
    if (t_.substr(0, 3) == "\xEF\xBB\xBF") i_ = 3;
    enum class State { kValue, kFirstElement, kFirstKey, kKey, kColon, kAfterValue };
    State state = State::kValue;
    std::vector<char> open;  // '{' or '[' of each container being read
    for (;;) {
      SkipWhitespace();
      const bool end = i_ == t_.size();
      const char c = end ? '\0' : t_[i_];
      switch (state) {
        case State::kFirstElement:
          if (!end && c == ']') {
            ++i_;
            open.pop_back();
            state = State::kAfterValue;
            break;
          }
          [[fallthrough]];
        case State::kValue:
          if (!end && (c == '{' || c == '[')) {
            open.push_back(c);
            ++i_;
            state = c == '{' ? State::kFirstKey : State::kFirstElement;
          } else if (!end && c == '"') {
            if (!String()) return false;
            state = State::kAfterValue;
          } else if (!end && (c == '-' || IsDigit(c))) {
            if (!Number()) return false;
            state = State::kAfterValue;
          } else if (!end && (c == 't' || c == 'f' || c == 'n')) {
            if (!Literal(c == 't' ? "true" : c == 'f' ? "false" : "null")) return false;
            state = State::kAfterValue;
          } else {
            return Unexpected(state == State::kFirstElement ? "a value or ']'" : "a value");
          }
          break;
        case State::kFirstKey:
          if (!end && c == '}') {
            ++i_;
            open.pop_back();
            state = State::kAfterValue;
            break;
          }
          [[fallthrough]];
        case State::kKey:
          if (end || c != '"') return Unexpected(state == State::kFirstKey ? "a key or '}'" : "a key");
          if (!String()) return false;
          state = State::kColon;
          break;
        case State::kColon:
          if (end || c != ':') return Unexpected("':'");
          ++i_;
          state = State::kValue;
          break;
        case State::kAfterValue:
          if (open.empty()) return end || Unexpected("end of input");
          if (!end && c == ',') {
            ++i_;
            state = open.back() == '{' ? State::kKey : State::kValue;
          } else if (!end && c == (open.back() == '{' ? '}' : ']')) {
            ++i_;
            open.pop_back();
          } else {
            return Unexpected(open.back() == '{' ? "',' or '}'" : "',' or ']'");
          }
          break;
      }
    }
  }

  std::size_t at() const { return at_; }
  const std::string& what() const { return what_; }

 private:
  bool Fail(std::size_t at, std::string what) {
    at_ = at;
    what_ = std::move(what);
    return false;
  }

  // What stands at `at`: "end of input", "NUL byte", "'x'" or "byte 0xNN".
  std::string Found(std::size_t at) const {
    if (at >= t_.size()) return "end of input";
    const auto c = static_cast<unsigned char>(t_[at]);
    if (c == 0) return "NUL byte";
    if (c > 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    static const char kHex[] = "0123456789ABCDEF";
    return std::string("byte 0x") + kHex[c >> 4] + kHex[c & 15];
  }

  bool Unexpected(const std::string& expected) {
    return Fail(i_, "unexpected " + Found(i_) + "; expected " + expected);
  }

  void SkipWhitespace() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) ++i_;
  }

  bool Literal(std::string_view word) {
    for (std::size_t k = 0; k < word.size(); ++k, ++i_) {
      if (i_ == t_.size() || t_[i_] != word[k]) {
        return Fail(i_, "unexpected " + Found(i_) + "; expected the literal " + std::string(word));
      }
    }
    return true;
  }

  bool Digits(const char* where) {
    if (i_ == t_.size() || !IsDigit(t_[i_])) {
      return Fail(i_, "unexpected " + Found(i_) + "; expected a digit " + where);
    }
    while (i_ < t_.size() && IsDigit(t_[i_])) ++i_;
    return true;
  }

  // A number in JSON's form whose value a double holds (the library reads
  // every number that is not a 64-bit integer as a double; beyond a double's
  // range it fails, below it reads 0).
  bool Number() {
    const std::size_t start = i_;
    if (t_[i_] == '-') ++i_;
    const std::size_t integer = i_;
    if (i_ < t_.size() && t_[i_] == '0') {
      ++i_;
    } else if (!Digits("in the number")) {
      return false;
    }
    const std::size_t integer_end = i_;
    std::size_t fraction = i_;
    if (i_ < t_.size() && t_[i_] == '.') {
      fraction = ++i_;
      if (!Digits("after the decimal point")) return false;
    }
    const std::size_t fraction_end = i_;
    long long exponent = 0;
    if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
      ++i_;
      bool negative = false;
      if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) negative = t_[i_++] == '-';
      const std::size_t digits = i_;
      if (!Digits("in the exponent")) return false;
      for (std::size_t k = digits; k < i_ && exponent < 1'000'000'000; ++k) exponent = exponent * 10 + (t_[k] - '0');
      if (negative) exponent = -exponent;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(t_.data() + start, t_.data() + i_, value);
    (void)end;
    if (ec != std::errc::result_out_of_range) return true;
    // Out of range either way: too large where the first significant digit
    // stands left of the decimal point once the exponent is applied.
    long long magnitude = 0;
    std::size_t k = integer;
    while (k < integer_end && t_[k] == '0') ++k;
    if (k < integer_end) {
      magnitude = static_cast<long long>(integer_end - k);
    } else {
      k = fraction;
      while (k < fraction_end && t_[k] == '0') ++k;
      magnitude = -static_cast<long long>(k - fraction);
    }
    if (magnitude + exponent <= 0) return true;
    std::string shown(t_.substr(start, i_ - start));
    if (shown.size() > 40) shown = shown.substr(0, 40) + "...";
    return Fail(start, "the number " + shown + " is too large");
  }

  // A string, from its opening quote: escapes, surrogate pairs and UTF-8
  // checked as the library checks them.
  bool String() {
    ++i_;
    for (;;) {
      if (i_ == t_.size()) return Fail(i_, "unexpected end of input in a string");
      const auto c = static_cast<unsigned char>(t_[i_]);
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c == 0) return Fail(i_, "unexpected NUL byte in a string");
      if (c < 0x20) {
        static const char kHex[] = "0123456789ABCDEF";
        return Fail(i_, std::string("control character U+00") + kHex[c >> 4] + kHex[c & 15] +
                            " in a string; it must be written as an escape");
      }
      if (c == '\\') {
        if (!Escape()) return false;
      } else if (c >= 0x80) {
        if (!Utf8()) return false;
      } else {
        ++i_;
      }
    }
  }

  // Four hex digits after "\u" at `at`; -1 where there are none.
  long Hex4(std::size_t at) const {
    if (at + 6 > t_.size() || t_[at] != '\\' || t_[at + 1] != 'u') return -1;
    long v = 0;
    for (std::size_t k = at + 2; k < at + 6; ++k) {
      const int h = HexDigitValue(t_[k]);
      if (h < 0) return -1;
      v = v * 16 + h;
    }
    return v;
  }

  bool Escape() {
    if (i_ + 1 == t_.size()) return Fail(i_ + 1, "unexpected end of input in a string");
    const char e = t_[i_ + 1];
    if (e != 'u') {
      if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        return Fail(i_, "invalid escape sequence in a string");
      }
      i_ += 2;
      return true;
    }
    const long unit = Hex4(i_);
    if (unit < 0) return Fail(i_, "expected four hex digits after \\u in a string");
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
      return Fail(i_, "a second half of a surrogate pair without the first in a string");
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const long low = Hex4(i_ + 6);
      if (low < 0xDC00 || low > 0xDFFF) {
        return Fail(i_, "a first half of a surrogate pair without the second in a string");
      }
      i_ += 12;
      return true;
    }
    i_ += 6;
    return true;
  }

  // One UTF-8 character of two to four bytes, in its shortest form, below
  // U+110000 and no surrogate.
  bool Utf8() {
    const auto b = [&](std::size_t k) {
      return i_ + k < t_.size() ? static_cast<unsigned char>(t_[i_ + k]) : 0u;
    };
    const unsigned lead = b(0);
    std::size_t length = 0;
    unsigned lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    }
    bool ok = length != 0 && b(1) >= lo && b(1) <= hi;
    for (std::size_t k = 2; ok && k < length; ++k) ok = b(k) >= 0x80 && b(k) <= 0xBF;
    if (!ok) return Fail(i_, "invalid UTF-8 in a string");
    i_ += length;
    return true;
  }

  std::string_view t_;
  std::size_t i_ = 0;
  std::size_t at_ = 0;
  std::string what_;
};

}  // namespace

std::string SyntaxError(std::string_view text) {
  Checker checker(text);
  if (checker.Check()) return "";
  return LineColumn(text, checker.at()) + ": " + checker.what();
}

void Parse(std::string_view text, const std::string& name, json& document) {
  LimitedDomBuilder builder(document, name);
  // The library takes a NUL byte for the end of the input, so that whatever
  // follows one would pass unread: a text holding one is refused here.
  const bool parsed = json::sax_parse(text.begin(), text.end(), &builder);
  if (parsed && text.find('\0') == std::string_view::npos) return;
  Checker checker(text);
  if (!checker.Check()) {
    Throw(name + ": " + LineColumn(text, checker.at()) + ": not valid JSON: " + checker.what());
  }
  // Where the library refuses a text the checker passes, its place stands.
  const std::size_t at = builder.failed_at() == 0 ? 0 : builder.failed_at() - 1;
  Throw(name + ": " + LineColumn(text, at) + ": not valid JSON");
}

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

}  // namespace hostprobe::snapshot_json
