// hostprobe --virt: two lines naming the hypervisor and the container.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/cli.h"
#include "app/machine.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Fixture;
using testing::RunCliCapture;

TEST(CliVirtTest, PrintsTheHypervisorAndTheContainer) {
  const VirtNames names = DetectVirt();
  EXPECT_FALSE(names.hypervisor.empty());
  EXPECT_FALSE(names.container.empty());
  const auto r = RunCliCapture({"--virt"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "hypervisor: " + names.hypervisor + "\ncontainer: " + names.container + "\n");
  EXPECT_EQ(r.err, "");
}

TEST(CliVirtTest, UsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--virt=1"}, {"--virt", "--virt"}, {"--virt", "--test"}, {"--pass", "1", "--virt"},
      {"--virt", "--replay", Fixture("probes_vmware.json")},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back());
    const auto r = RunCliCapture(args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Try 'hostprobe --help'"), std::string::npos) << r.err;
  }
}

TEST(CliVirtTest, CaptureRecordsBothNamesAsText) {
  const auto r = RunCliCapture({"--replay", Fixture("probes_vmware.json"), "--capture", "-"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto captured = nlohmann::json::parse(r.out).at("captured");
  const VirtNames names = DetectVirt();
  EXPECT_EQ(captured.at("hypervisor"), names.hypervisor);
  EXPECT_EQ(captured.at("container"), names.container);
  for (const auto& [key, value] : captured.items()) EXPECT_TRUE(value.is_string()) << key;
}

TEST(CliVirtTest, HelpDescribesTheOption) {
  EXPECT_NE(UsageText().find("--virt"), std::string::npos);
}

}  // namespace
}  // namespace hostprobe
