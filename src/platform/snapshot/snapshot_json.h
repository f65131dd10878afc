// The JSON document of a snapshot, built within limits that no input can
// exceed the machine with, and with every syntax error told in our own words
// (the same whichever version of the JSON library is installed).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace hostprobe::snapshot_json {

inline constexpr int kMaxDepth = 32;
// Four million values: about twice a capture of 32,767 adapters and 32,767
// interfaces.
inline constexpr std::size_t kMaxValues = 4'000'000;

// The document `text` holds, read into `document` (which the caller empties
// with Dismantle, also when this throws). Throws SnapshotError naming `name`:
// for a syntax error with the line and column, for nesting deeper than
// kMaxDepth, more than kMaxValues values or a key given twice in one object
// with the place.
void Parse(std::string_view text, const std::string& name, nlohmann::json& document);

// The syntax error in `text` as "line L, column C: what is wrong", or empty
// where the text is one valid JSON value (whitespace around it).
std::string SyntaxError(std::string_view text);

// Empties a document from its leaves up. The library's destructor first moves
// a container's children onto a stack it allocates: out of memory, that would
// throw inside a destructor and end the program instead of reporting. Taken
// apart this way no step allocates; the nesting limit bounds the recursion.
void Dismantle(nlohmann::json& v);

}  // namespace hostprobe::snapshot_json
