// Replacing a file where /proc is not there to name an unnamed file through
// (a minimal container): a named new file does it instead.
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/live/live.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// In a child of its own mount namespace, /proc covered by an empty tmpfs, or
// with /proc as it is: the file is replaced whole and nothing else is left in
// the directory.
TEST(ReplaceFileTest, WorksWithoutProc) {
  for (const bool without_proc : {false, true}) {
    SCOPED_TRACE(without_proc ? "without /proc" : "with /proc");
    ScratchDir dir;
    WriteFile("snapshot.json", "old");
    const pid_t pid = fork();
    if (pid == 0) {
      if (without_proc) {
        if (unshare(CLONE_NEWNS) != 0) _exit(77);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(77);
        if (mount("none", "/proc", "tmpfs", 0, nullptr) != 0) _exit(77);
        if (access("/proc/self/fd", F_OK) == 0) _exit(78);
      }
      const auto reason = ReplaceWholeFile("snapshot.json", "{ \"new\": 1 }\n");
      if (reason) {
        fprintf(stderr, "%s\n", reason->c_str());
        _exit(1);
      }
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no right to make a mount namespace and cover /proc";
    ASSERT_NE(WEXITSTATUS(status), 78) << "/proc is still there";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile("snapshot.json"), "{ \"new\": 1 }\n");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".")) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"snapshot.json"});
  }
}

}  // namespace
}  // namespace hostprobe
