// The Win32 sources that can be checked on any Windows (and under Wine): the
// probe library loader, the log file, the code page conversion.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/error.h"
#include "platform/platform.h"
#include "platform/live/live.h"
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

// Another run writing its record holds the byte every writer locks: after the
// wait the run gives up, writing nothing; then the log takes records again.
TEST(WindowsLogFileTest, LogHeldByAnotherRunIsAnErrorAndStaysAsItWas) {
  ScratchDir dir;
  MakeLogFile()->Append("earlier\r\n");
  const HANDLE other = CreateFileW(L"TEST_OUT.TXT", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  OVERLAPPED where{};
  where.Offset = 0xFFFFFFFE;
  where.OffsetHigh = 0x7FFFFFFF;
  ASSERT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where));
  try {
    MakeLogFile(std::chrono::milliseconds(50))->Append("record\r\n");
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kFile);
    EXPECT_STREQ(e.what(), "file error: cannot write TEST_OUT.TXT: file locked by another process");
  }
  EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), "earlier\r\n");
  CloseHandle(other);
  MakeLogFile(std::chrono::milliseconds(50))->Append("record\r\n");
  EXPECT_EQ(ReadFile(dir.path() / "TEST_OUT.TXT"), "earlier\r\nrecord\r\n");
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

// WideCharToMultiByte as Windows documents it: for UTF-8 and UTF-7 the flags
// may only be WC_ERR_INVALID_CHARS and there is no default character; the call
// fails otherwise (Wine lets such calls through).
int DocumentedWideCharToMultiByte(uint32_t code_page, uint32_t flags, const wchar_t* in, int in_length,
                                  char* out, int out_length, const char* default_char, int* used_default) {
  if ((code_page == CP_UTF8 || code_page == CP_UTF7) &&
      ((flags & ~static_cast<uint32_t>(WC_ERR_INVALID_CHARS)) != 0 || default_char || used_default)) {
    SetLastError(flags ? ERROR_INVALID_FLAGS : ERROR_INVALID_PARAMETER);
    return 0;
  }
  BOOL used = FALSE;
  const int n = WideCharToMultiByte(code_page, flags, in, in_length, out, out_length, default_char,
                                    used_default ? &used : nullptr);
  if (used_default) *used_default = used;
  return n;
}

// With the ANSI code page 65001 every character has its UTF-8 code, and the
// call is made as UTF-8 requires; a single-byte code page keeps the "?".
TEST(WindowsCodePageTest, ConvertsForTheCodePageGiven) {
  struct Case {
    uint32_t code_page;
    std::wstring wide;
    std::string expected;
  } cases[] = {
      {CP_UTF8, L"DATA \x4E2D", "DATA \xE4\xB8\xAD"},
      {CP_UTF8, L"caf\xE9 \x10D 1.2.2027 0:00:01", "caf\xC3\xA9 \xC4\x8D 1.2.2027 0:00:01"},
      {CP_UTF8, L"\xA0", "\xC2\xA0"},  // a thousands separator
      {1252, L"caf\xE9 \x10D", "caf\xE9 ?"},
      {1252, L"DATA \x4E2D", "DATA ?"},
      {437, L"C:\\", "C:\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    EXPECT_EQ(WideToCodePage(c.wide, c.code_page, DocumentedWideCharToMultiByte), c.expected);
    EXPECT_EQ(WideToCodePage(c.wide, c.code_page), c.expected);
    EXPECT_EQ(WideToCodePage(CodePageToWide(c.expected, c.code_page), c.code_page), c.expected);
  }
  EXPECT_EQ(WideToCodePage(L"", CP_UTF8, DocumentedWideCharToMultiByte), "");
}

// A conversion that fails is an error naming the call and the code page,
// never empty text: a code page the system does not have, and a call that
// fails on the sizing or on the filling.
TEST(WindowsCodePageTest, AFailedConversionIsAnError) {
  const auto expect_error = [](const std::function<void()>& convert, const std::string& start) {
    try {
      convert();
      ADD_FAILURE() << "no error for " << start;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kPlatform);
      EXPECT_EQ(std::string(e.what()).rfind(start, 0), 0u) << e.what();
    }
  };
  constexpr uint32_t kNoSuchCodePage = 12345;
  expect_error([] { WideToCodePage(L"x", kNoSuchCodePage); },
               "platform call failed: WideCharToMultiByte (code page 12345): ");
  expect_error([] { CodePageToWide("x", kNoSuchCodePage); },
               "platform call failed: MultiByteToWideChar (code page 12345): ");
  const auto failing = [](int fail_on_call) {
    return [fail_on_call, calls = 0](uint32_t code_page, uint32_t flags, const wchar_t* in, int in_length,
                                     char* out, int out_length, const char* default_char,
                                     int* used_default) mutable {
      if (++calls == fail_on_call) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      return DocumentedWideCharToMultiByte(code_page, flags, in, in_length, out, out_length, default_char,
                                           used_default);
    };
  };
  for (int call : {1, 2}) {
    SCOPED_TRACE(call);
    expect_error([&] { WideToCodePage(L"DATA", CP_UTF8, failing(call)); },
                 "platform call failed: WideCharToMultiByte (code page 65001): ");
    EXPECT_EQ(WideToCodePage(L"DATA", CP_UTF8, failing(3)), "DATA");
  }
}

}  // namespace
}  // namespace hostprobe
