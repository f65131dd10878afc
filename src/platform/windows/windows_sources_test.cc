// The Win32 sources that can be checked on any Windows (and under Wine): the
// probe library loader, the log file, the code page conversion.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/platform.h"
#include "platform/codepage.h"
#include "platform/windows/windows_sources.h"
#include "test_util.h"

namespace hostprobe {
namespace {

using testing::ReadFile;
using testing::ScratchDir;

std::filesystem::path ProgramDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

// Our vmware.dll (beside the test program) answers all seven routines; a
// library without them, one that is not found, and one that lies only in the
// current directory each end in the loader's error naming what is missing.
TEST(WindowsProbeLoaderTest, LoadsByNameNeverFromTheCurrentDirectory) {
  // The instruction probes fault outside their machines; the guard must turn
  // that into an answer.
  for (const auto& routine : MakeWindowsProbeLoader()->Load()) routine();

  ScratchDir dir;
  std::filesystem::copy_file(ProgramDirectory() / "vmware.dll", dir.path() / "hostprobe-cwd-probe.dll");
  struct Case {
    std::wstring library;
    std::string message;
  };
  const Case cases[] = {
      {L"kernel32.dll", "probe library error: kernel32.dll has no routine IsInsideVPC"},
      {L"hostprobe-cwd-probe.dll", "probe library error: cannot load hostprobe-cwd-probe.dll: "},
      {L"hostprobe-nowhere.dll", "probe library error: cannot load hostprobe-nowhere.dll: "},
  };
  for (const Case& c : cases) {
    try {
      MakeWindowsProbeLoader(c.library)->Load();
      ADD_FAILURE() << "loaded " << WideToUtf8(c.library);
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kProbeLibrary);
      EXPECT_EQ(std::string(e.what()).substr(0, c.message.size()), c.message);
    }
  }
}

// One record per call, appended whole, NULs included; a log that cannot be
// opened (here: a directory of that name) is a file error naming it.
TEST(WindowsLogFileTest, AppendsRecordsAndFailsWhenTheLogCannotBeOpened) {
  {
    ScratchDir dir;
    auto log = MakeLogFile();
    const std::string first("\"1.1.2027\t1.\ta\0b\"\r\n", 19);
    log->Append(first);
    log->Append("\"1.1.2027\t2.\tc\"\r\n");
    EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), first + "\"1.1.2027\t2.\tc\"\r\n");
  }
  ScratchDir dir;
  std::filesystem::create_directory(dir.path() / "TEST_OUT.TXT");
  try {
    MakeLogFile()->Append("lost");
    ADD_FAILURE() << "wrote to a directory";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kFile);
    EXPECT_EQ(std::string(e.what()).rfind("file error: cannot open TEST_OUT.TXT: ", 0), 0u) << e.what();
  }
}

// Wide platform text reaches the reports in the ANSI code page, "?" where it
// has no character.
TEST(WindowsCodePageTest, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(WideToSystem(L"DATA \x4E2D"), "DATA ?");
  EXPECT_EQ(Utf8ToSystem("C:\\"), "C:\\");
  if (GetACP() == 1252) {
    EXPECT_EQ(Utf8ToSystem("caf\xC3\xA9 \xC4\x8D"), "caf\xE9 ?");
    EXPECT_EQ(SystemToUtf8("caf\xE9"), "caf\xC3\xA9");
  }
}

}  // namespace
}  // namespace hostprobe
