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
  // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the end
  // of the file, also when another process appends to the same log.
  void Append(std::string_view bytes) override {
    const HANDLE file = CreateFileW(L"TEST_OUT.TXT", FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("cannot open", GetLastError());
    if (GetFileType(file) != FILE_TYPE_DISK) {
      CloseHandle(file);
      throw Error(ErrorKind::kFile, std::string("cannot open ") + kLogFileName + ": not a regular file");
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    const DWORD error = ok ? (written == bytes.size() ? 0 : ERROR_DISK_FULL) : GetLastError();
    LARGE_INTEGER end{};
    const bool torn = error != 0 && written > 0 && GetFileSizeEx(file, &end);
    if (!CloseHandle(file) && error == 0) Fail("cannot close", GetLastError());
    if (error != 0) {
      // A record is in the log whole or not at all: cut off the part that did
      // fit, so the next run does not append onto a torn record.
      if (torn) CutTo(end.QuadPart - written);
      Fail("cannot write", error);
    }
  }

 private:
  // Setting the end of file needs write access, which an append-only handle
  // lacks: a second handle does it.
  static void CutTo(LONGLONG length) {
    if (length < 0) return;
    const HANDLE file = CreateFileW(L"TEST_OUT.TXT", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER at{};
    at.QuadPart = length;
    if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    CloseHandle(file);
  }

  [[noreturn]] static void Fail(const char* what, DWORD error) {
    throw Error(ErrorKind::kFile, std::string(what) + " " + kLogFileName + ": " + SystemErrorText(error));
  }
};

}  // namespace

std::unique_ptr<LogFile> MakeLogFile() { return std::make_unique<LogFileWindows>(); }

}  // namespace hostprobe
