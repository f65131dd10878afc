#include "vmdetect/reference_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "app/machine.h"
#include "platform/snapshot/snapshot.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Fixture;
using testing::RunCliCapture;

// `json` is a snapshot object without its version key.
Platform FromJson(const std::string& json) {
  return MakeReplayPlatform(ParseSnapshot(R"({"hostprobe_snapshot": 1, )" + json.substr(1), "inline"));
}

// The reference adapter with one field replaced by `change` ("key": value).
std::string Adapter(const std::string& change = "") {
  std::vector<std::string> fields = {
      R"("address_length": 6)",
      R"("address": "00-0C-29-ED-BF-1C-00-00")",
      R"("description": "VMware PCI Ethernet Adapter")",
      R"("ip_address_list": {"ip_address": "192.168.75.128"})",
  };
  std::string json;
  for (const std::string& field : fields) {
    const bool replaced = !change.empty() && field.substr(0, field.find(':')) == change.substr(0, change.find(':'));
    json += (json.empty() ? "{" : ", ") + (replaced ? change : field);
  }
  return json + "}";
}

TEST(ReferenceAdapterTest, MatchesAddressLengthBytesDescriptionAndIp) {
  const struct {
    std::string record;
    bool present;
  } cases[] = {
      {Adapter(), true},
      // Bytes 6 and 7 are not looked at.
      {Adapter(R"("address": "00-0C-29-ED-BF-1C-FF-FF")"), true},
      {Adapter(R"("address_length": 8)"), false},
      {Adapter(R"("address_length": 5)"), false},
      {Adapter(R"("address": "00-0C-29-ED-BF-1D")"), false},
      {Adapter(R"("address": "01-0C-29-ED-BF-1C")"), false},
      // The description and the IP address are searched as whole fields, case-sensitive.
      {Adapter(R"("description": "Intel VMware PCI Ethernet Adapter #2")"), true},
      {Adapter(R"("description": "x\u0000VMware PCI Ethernet Adapter")"), true},
      {Adapter(R"("description": "vMware PCI Ethernet Adapter")"), false},
      {Adapter(R"("description": "VMware PCI Ethernet")"), false},
      {Adapter(R"("ip_address_list": {"ip_address": "192.168.75.1280"})"), true},
      {Adapter(R"("ip_address_list": {"ip_address": "\u0000192.168.75.128"})"), true},
      {Adapter(R"("ip_address_list": {"ip_address": "192.168.75.12"})"), false},
      {Adapter(R"("ip_address_list": {"ip_address": "0.0.0.0", "ip_mask": "192.168.75.128"})"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.record);
    Platform p = FromJson(R"({"adapters": {"records": [)" + c.record + "]}}");
    EXPECT_EQ(IsReferenceAdapterPresent(*p.adapters), c.present);
  }
}

TEST(ReferenceAdapterTest, WalksLikeTheAdapterReport) {
  const std::string other = R"({"description": "Other"})";
  const struct {
    std::string adapters;
    bool present;
  } cases[] = {
      {R"({"needed_length": 0, "records": [)" + Adapter() + "]}", false},
      {R"({"fill_status": 111, "records": [)" + Adapter() + "]}", false},
      {R"({"records": [)" + other + "," + other + "," + Adapter() + "]}", true},
      // The count bounds the walk even where the chain goes on.
      {R"({"needed_length": 1280, "records": [)" + other + "," + other + "," + Adapter() + "]}", false},
      // The walk ends at the match: the second record, cut off by the buffer, is never read.
      {R"({"needed_length": 960, "records": [)" + Adapter() + "," + other + "]}", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.adapters);
    Platform p = FromJson(R"({"adapters": )" + c.adapters + "}");
    EXPECT_EQ(IsReferenceAdapterPresent(*p.adapters), c.present);
  }
  Platform overflow = FromJson(R"({"adapters": {"needed_length": 20971200}})");
  try {
    IsReferenceAdapterPresent(*overflow.adapters);
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kOverflow);
  }
}

// A probe library that answers fixed values and records the calls.
class CountingLoader : public ProbeLoader {
 public:
  CountingLoader(int16_t ldt, int16_t msw, int16_t vmware) : values_{0, 0, 0, 0, ldt, msw, vmware} {}
  ProbeTable Load() override {
    ProbeTable table;
    for (int i = 0; i < kProbeCount; ++i) {
      table[i] = [this, i] {
        calls += ProbeName(static_cast<Probe>(i));
        calls += ' ';
        return values_[i];
      };
    }
    return table;
  }
  std::string calls;

 private:
  std::array<int16_t, kProbeCount> values_;
};

TEST(ReferenceVmTest, NeedsTheAdapterAndAVirtualMachineAndAsksBoth) {
  const struct {
    bool adapter;
    int16_t ldt, msw, vmware;
    bool answer;
    const char* calls;
  } cases[] = {
      {true, 0, 0, 0, false, "ldtCheck mswCheck vmwareCheck "},
      {true, 0, 0, 4, true, "ldtCheck mswCheck vmwareCheck "},
      {true, 0, 1, 0, true, "ldtCheck mswCheck vmwareCheck "},
      {true, -1, 0, 0, true, "ldtCheck mswCheck "},
      {false, 0, 0, 4, false, "ldtCheck mswCheck vmwareCheck "},
      {false, 0, 0, 0, false, "ldtCheck mswCheck vmwareCheck "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.adapter << " " << c.ldt << c.msw << c.vmware);
    Platform p = FromJson(R"({"adapters": {"records": [)" + (c.adapter ? Adapter() : "{}") + "]}}");
    CountingLoader loader(c.ldt, c.msw, c.vmware);
    ProbeLibrary probes(loader);
    EXPECT_EQ(IsReferenceVm(*p.adapters, probes), c.answer);
    EXPECT_EQ(loader.calls, c.calls);
  }
}

TEST(ReferenceVmTest, TestOptionPrintsTheAnswer) {
  testing::ScratchDir dir;
  auto r = RunCliCapture({"--replay", Fixture("reference_vm.json"), "--test"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Test Vmware : True\n");
  r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--test"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "Test Vmware : False\n");
  EXPECT_FALSE(std::filesystem::exists("TEST_OUT.TXT"));
}

}  // namespace
}  // namespace hostprobe
