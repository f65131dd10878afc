#include "vmdetect/vm_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"

namespace hostprobe {
namespace {

// A probe library answering fixed values and recording every call.
class RecordingLoader : public ProbeLoader {
 public:
  RecordingLoader(int16_t ldt, int16_t msw, int16_t vmware) : values_{0, 0, 0, 0, ldt, msw, vmware} {}
  ProbeTable Load() override {
    ++loads;
    ProbeTable table;
    for (int i = 0; i < kProbeCount; ++i) {
      table[i] = [this, i] {
        calls.push_back(ProbeName(static_cast<Probe>(i)));
        return values_[i];
      };
    }
    return table;
  }
  int loads = 0;
  std::vector<std::string> calls;

 private:
  int16_t values_[kProbeCount];
};

struct Case {
  int16_t ldt, msw, vmware;
  std::string report;
  std::vector<std::string> calls;
};

TEST(VmReportTest, ClassifiesEveryCombination) {
  const std::vector<std::string> all = {"ldtCheck", "mswCheck", "vmwareCheck"};
  const std::vector<std::string> ldt_only = {"ldtCheck", "mswCheck"};
  const Case cases[] = {
      {0, 0, 0, "a) Native machine detected.\r\n", all},
      {0, 0, 4, "b) VMWare version 4 detected.\r\n", all},
      {0, 1, 6, "b) VMWare version 6 detected.\r\nd) Fully emulated virtual machine detected.\r\n", all},
      {0, -3, 0, "d) Fully emulated virtual machine detected.\r\n", all},
      {0, 0, -1, "b) VMWare version -1 detected.\r\n", all},
      {0, 0, -32768, "b) VMWare version -32768 detected.\r\n", all},
      {1, 0, 0, "e) Virtual machine detected without emulation.\r\n", ldt_only},
      // ldtCheck decides alone: mswCheck is asked but unused, vmwareCheck never asked.
      {-1, 1, 7, "e) Virtual machine detected without emulation.\r\n", ldt_only},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ldt) + "/" + std::to_string(c.msw) + "/" + std::to_string(c.vmware));
    RecordingLoader loader(c.ldt, c.msw, c.vmware);
    ProbeLibrary probes(loader);
    EXPECT_EQ(GetVmReport(probes), c.report);
    EXPECT_EQ(loader.calls, c.calls);

    RecordingLoader again(c.ldt, c.msw, c.vmware);
    ProbeLibrary probes2(again);
    EXPECT_EQ(IsVirtualMachine(probes2), c.report != "a) Native machine detected.\r\n");
    EXPECT_EQ(again.calls, c.calls);
  }
}

TEST(ProbeLibraryTest, LoadsOnceAndAsksEveryTime) {
  RecordingLoader loader(0, 0, 3);
  ProbeLibrary probes(loader);
  EXPECT_EQ(loader.loads, 0);
  probes.IsInsideVPC();
  probes.IsInsideVPC();
  probes.vmwareCheck();
  EXPECT_EQ(loader.loads, 1);
  EXPECT_EQ(loader.calls, (std::vector<std::string>{"IsInsideVPC", "IsInsideVPC", "vmwareCheck"}));
}

class FailingLoader : public ProbeLoader {
 public:
  ProbeTable Load() override {
    ++loads;
    throw Error(ErrorKind::kProbeLibrary, "cannot load the probe library vmware.dll");
  }
  int loads = 0;
};

TEST(ProbeLibraryTest, MissingLibraryFailsAtEveryCall) {
  FailingLoader loader;
  ProbeLibrary probes(loader);
  EXPECT_THROW(probes.ldtCheck(), Error);
  EXPECT_THROW(probes.ldtCheck(), Error);
  EXPECT_EQ(loader.loads, 2);
}

}  // namespace
}  // namespace hostprobe
