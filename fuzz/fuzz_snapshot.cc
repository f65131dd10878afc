// Fuzzes the snapshot reader; a snapshot it accepts is then run through a
// whole pass and the Test button, with the log kept in memory.
#include <cstdint>
#include <string_view>

#include "session/session.h"
#include "platform/error.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"

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
  SnapshotData snapshot;
  try {
    snapshot = ParseSnapshot(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
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
