// Fuzzes the snapshot reader; a snapshot it accepts is then run through a
// whole pass and the Test button, with the log kept in memory. The checker
// that words syntax errors must agree with the JSON library on every input.
#include <cstdint>
#include <string_view>

#include "session/session.h"
#include "platform/error.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "platform/snapshot/snapshot_json.h"

namespace {

class MemoryLog : public hostprobe::LogFile {
 public:
  void Append(std::string_view bytes) override { size_ += bytes.size(); }

 private:
  std::size_t size_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hostprobe;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // (The library stops at a NUL byte; the checker does not.)
  if (text.find('\0') == std::string_view::npos &&
      nlohmann::json::accept(text) != snapshot_json::SyntaxError(text).empty()) {
    __builtin_trap();
  }
  SnapshotData snapshot;
  try {
    snapshot = ParseSnapshot(text, "fuzz");
  } catch (const SnapshotError&) {
    return 0;
  }
  snapshot.timestamp = "t";
  snapshot.thousands_separator = ",";
  Platform platform = MakeReplayPlatform(std::move(snapshot));
  platform.log = std::make_unique<MemoryLog>();
  MemoryTextBox box;
  Session session(platform, box);
  try {
    session.Command1_Click(0);
  } catch (const Error&) {
  }
  try {
    session.Test_Click();
  } catch (const Error&) {
  }
  return 0;
}
