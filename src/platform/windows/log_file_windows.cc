#include <windows.h>

#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/platform.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

class LogFileWindows : public LogFile {
 public:
  // FILE_APPEND_DATA alone makes every write land at the end of the file, also
  // when another process appends to the same log.
  void Append(std::string_view bytes) override {
    const HANDLE file = CreateFileW(L"TEST_OUT.TXT", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("cannot open", GetLastError());
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    const DWORD error = ok ? (written == bytes.size() ? 0 : ERROR_DISK_FULL) : GetLastError();
    if (!CloseHandle(file) && error == 0) Fail("cannot close", GetLastError());
    if (error != 0) Fail("cannot write", error);
  }

 private:
  [[noreturn]] static void Fail(const char* what, DWORD error) {
    throw Error(ErrorKind::kFile, std::string(what) + " " + kLogFileName + ": " + SystemErrorText(error));
  }
};

}  // namespace

std::unique_ptr<LogFile> MakeLogFile() { return std::make_unique<LogFileWindows>(); }

}  // namespace hostprobe
