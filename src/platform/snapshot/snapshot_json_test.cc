#include "platform/snapshot/snapshot_json.h"

#include <gtest/gtest.h>

#include <string>

namespace hostprobe::snapshot_json {
namespace {

// The checker that words syntax errors and the JSON library agree on which
// texts are JSON: a text the library refuses always gets our message, and the
// checker refuses nothing the library reads. Each text is one edge of the
// grammar; the error, where there is one, is the whole message.
TEST(SnapshotJsonTest, CheckerAgreesWithTheLibrary) {
  const struct {
    std::string text, error;  // error empty: valid JSON
  } cases[] = {
      {"{}", ""},
      {" \t\r\n[ ]\n", ""},
      {"\xEF\xBB\xBF{}", ""},
      {"[0, -0, 1.5, -2.25e+3, 6E-2, 18446744073709551616, 1e-400, 1.7976931348623157e308]", ""},
      {R"(["\"\\\/\b\f\n\r\t\u00e9\uD83D\uDE00", true, false, null])", ""},
      {"[\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF\"]", ""},
      {"", "line 1, column 1: unexpected end of input; expected a value"},
      {"   \n  ", "line 2, column 3: unexpected end of input; expected a value"},
      {"\xEF\xBB{}", "line 1, column 1: unexpected byte 0xEF; expected a value"},
      {"[1,]", "line 1, column 4: unexpected ']'; expected a value"},
      {"[1 2]", "line 1, column 4: unexpected '2'; expected ',' or ']'"},
      {"[", "line 1, column 2: unexpected end of input; expected a value or ']'"},
      {"{\"a\" 1}", "line 1, column 6: unexpected '1'; expected ':'"},
      {"{\"a\": 1,}", "line 1, column 9: unexpected '}'; expected a key"},
      {"{\"a\": 1 \"b\": 2}", "line 1, column 9: unexpected '\"'; expected ',' or '}'"},
      {"{1: 2}", "line 1, column 2: unexpected '1'; expected a key or '}'"},
      {"{} {}", "line 1, column 4: unexpected '{'; expected end of input"},
      {std::string("{}\n\0", 4), "line 2, column 1: unexpected NUL byte; expected end of input"},
      {"[tru]", "line 1, column 5: unexpected ']'; expected the literal true"},
      {"[nul", "line 1, column 5: unexpected end of input; expected the literal null"},
      {"[True]", "line 1, column 2: unexpected 'T'; expected a value or ']'"},
      {"[01]", "line 1, column 3: unexpected '1'; expected ',' or ']'"},
      {"[-]", "line 1, column 3: unexpected ']'; expected a digit in the number"},
      {"[1.]", "line 1, column 4: unexpected ']'; expected a digit after the decimal point"},
      {"[1e+]", "line 1, column 5: unexpected ']'; expected a digit in the exponent"},
      {"[.5]", "line 1, column 2: unexpected '.'; expected a value or ']'"},
      {"[+1]", "line 1, column 2: unexpected '+'; expected a value or ']'"},
      {"[1e400]", "line 1, column 2: the number 1e400 is too large"},
      {"[-" + std::string(400, '9') + "]",
       "line 1, column 2: the number -999999999999999999999999999999999999999... is too large"},
      {"[0.00001e314]", "line 1, column 2: the number 0.00001e314 is too large"},
      {"[\"abc", "line 1, column 6: unexpected end of input in a string"},
      {"[\"a\tb\"]", "line 1, column 4: control character U+0009 in a string; it must be written as an escape"},
      {"[\"a\nb\"]", "line 1, column 4: control character U+000A in a string; it must be written as an escape"},
      {std::string("[\"a\0b\"]", 7), "line 1, column 4: unexpected NUL byte in a string"},
      {R"(["\x"])", "line 1, column 3: invalid escape sequence in a string"},
      {R"(["\u12G4"])", "line 1, column 3: expected four hex digits after \\u in a string"},
      {R"(["\uDE00"])", "line 1, column 3: a second half of a surrogate pair without the first in a string"},
      {R"(["\uD83Dx"])", "line 1, column 3: a first half of a surrogate pair without the second in a string"},
      {R"(["\uD83D\u0041"])", "line 1, column 3: a first half of a surrogate pair without the second in a string"},
      {"[\"\\", "line 1, column 4: unexpected end of input in a string"},
      {"[\"\xC3\"]", "line 1, column 3: invalid UTF-8 in a string"},
      {"[\"\xC0\xAF\"]", "line 1, column 3: invalid UTF-8 in a string"},               // overlong
      {"[\"\xE0\x80\xAF\"]", "line 1, column 3: invalid UTF-8 in a string"},           // overlong
      {"[\"\xED\xA0\x80\"]", "line 1, column 3: invalid UTF-8 in a string"},           // a surrogate
      {"[\"\xF4\x90\x80\x80\"]", "line 1, column 3: invalid UTF-8 in a string"},       // beyond U+10FFFF
      {"[\"\xFF\"]", "line 1, column 3: invalid UTF-8 in a string"},
      {"[\"\x80\"]", "line 1, column 3: invalid UTF-8 in a string"},
      {"[\xC3\xA9]", "line 1, column 2: unexpected byte 0xC3; expected a value or ']'"},
      {"/* */ {}", "line 1, column 1: unexpected '/'; expected a value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SyntaxError(c.text), c.error);
    if (c.text.find('\0') == std::string::npos) {
      EXPECT_EQ(nlohmann::json::accept(c.text), c.error.empty());
    }
  }
  // Any depth is checked (the limit on nesting is the document builder's).
  EXPECT_EQ(SyntaxError(std::string(100000, '[') + std::string(100000, ']')), "");
  EXPECT_EQ(SyntaxError(std::string(100000, '[')),
            "line 1, column 100001: unexpected end of input; expected a value or ']'");
}

}  // namespace
}  // namespace hostprobe::snapshot_json
