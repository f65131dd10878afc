// The snapshot schema: what each key of a snapshot document may hold.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "platform/snapshot/snapshot.h"

namespace hostprobe {

// The snapshot data of a parsed document. Throws SnapshotError naming `name`,
// the place in the document and what is wrong: unknown or missing keys, wrong
// types, values out of range.
SnapshotData ReadSnapshotDocument(const nlohmann::json& document, const std::string& name);

}  // namespace hostprobe
