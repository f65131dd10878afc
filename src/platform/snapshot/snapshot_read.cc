// Reading snapshot texts: the JSON document (snapshot_json), then the schema
// (snapshot_schema).
#include <nlohmann/json.hpp>

#include "platform/snapshot/snapshot.h"
#include "platform/snapshot/snapshot_json.h"
#include "platform/snapshot/snapshot_schema.h"

namespace hostprobe {

SnapshotData ParseSnapshot(std::string_view text, const std::string& name) {
  nlohmann::json document;
  struct DismantleOnExit {
    nlohmann::json& document;
    ~DismantleOnExit() { snapshot_json::Dismantle(document); }
  } dismantle{document};
  snapshot_json::Parse(text, name, document);
  return ReadSnapshotDocument(document, name);
}

}  // namespace hostprobe
