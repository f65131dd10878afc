// The line on standard error after a run, when standard error is a terminal.
#include <gtest/gtest.h>

#include <filesystem>

#include "program_linux.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::Fixture;
using testing::ReadFile;
using testing::ScratchDir;

// Runs hostprobe with standard output on a pipe and standard error on a new
// terminal; `err` is what the terminal showed.
testing::Child RunWithErrOnTerminal(const std::vector<std::string>& args) {
  testing::ChildSetup setup;
  setup.stderr_on_terminal = true;
  return testing::RunProgram(args, setup);
}

TEST(CliTerminalTest, OneLineSaysWhereTheRecordsWent) {
  ScratchDir dir;
  const std::string fixture = Fixture("probes_vmware.json");
  const testing::Child plain = testing::RunProgram({"--replay", fixture, "--pass", "1"});
  EXPECT_EQ(plain.exit_code, 0);
  EXPECT_EQ(plain.err, "");  // standard error is not a terminal: nothing
  const std::string log = ReadFile("TEST_OUT.TXT");

  const testing::Child run = RunWithErrOnTerminal({"--replay", fixture, "--pass", "2"});
  EXPECT_EQ(run.exit_code, 0);
  const std::string path = std::filesystem::canonical("TEST_OUT.TXT").string();
  // The terminal turns LF into CR LF.
  EXPECT_EQ(run.err, "hostprobe: 9 records appended to " + path + "\r\n");
  const testing::Child pass2 = testing::RunProgram({"--replay", fixture, "--pass", "2"});
  EXPECT_EQ(run.out, pass2.out);  // standard output keeps exactly the progress lines
  EXPECT_EQ(ReadFile("TEST_OUT.TXT").size(), 3 * log.size());

  // Nothing appended, nothing said.
  const testing::Child test = RunWithErrOnTerminal({"--replay", fixture, "--test"});
  EXPECT_EQ(test.exit_code, 0);
  EXPECT_EQ(test.err, "");
  const testing::Child report = RunWithErrOnTerminal({"--replay", fixture, "--report"});
  EXPECT_EQ(report.err, "");

  // A run that ends with an error says how many records it did append.
  const testing::Child failed = RunWithErrOnTerminal({"--replay", Fixture("probes_no_library.json"), "--pass", "1"});
  EXPECT_EQ(failed.exit_code, 1);
  EXPECT_NE(failed.err.find("hostprobe: 3 records appended to " + path + "\r\n"), std::string::npos)
      << failed.err;
}

}  // namespace
}  // namespace hostprobe
