#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "platform/error.h"
#include "platform/live/live.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

// Every writer of the log locks this one byte, near the last a file could
// have: it never holds data, so readers of the log are never kept out.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

// Ctrl-C, Ctrl-Break or a closing console end the program from a thread of
// their own, which would cut a record short: while one is written, the
// handler below waits for it, then keeps any further record from starting
// and lets the system's own handler end the program as it always did.
CRITICAL_SECTION g_writing;

BOOL WINAPI WaitForTheRecord(DWORD) {
  EnterCriticalSection(&g_writing);  // held until the program ends
  return FALSE;
}

void HoldConsoleEvents() {
  static const bool installed = [] {
    InitializeCriticalSection(&g_writing);
    return SetConsoleCtrlHandler(WaitForTheRecord, TRUE) != 0;
  }();
  (void)installed;
}

class RecordBeingWritten {
 public:
  RecordBeingWritten() {
    HoldConsoleEvents();
    EnterCriticalSection(&g_writing);
  }
  ~RecordBeingWritten() { LeaveCriticalSection(&g_writing); }
  RecordBeingWritten(const RecordBeingWritten&) = delete;
  RecordBeingWritten& operator=(const RecordBeingWritten&) = delete;
};

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  // Closes now; 0 or the error of CloseHandle.
  DWORD Close() {
    const BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok ? 0 : GetLastError();
  }

 private:
  HANDLE h_;
};

class LogFileWindows : public LogFile {
 public:
  explicit LogFileWindows(std::chrono::milliseconds lock_wait) : lock_wait_(lock_wait) {}

  // Each record is written under a lock every run takes, at the end of the
  // file as the lock found it, by explicit offsets: the records of
  // concurrent runs never meet, also where the system's own append keeps an
  // offset per handle (Wine) or a file system takes a record in many short
  // writes, and a record that does not fit is cut back to where it began.
  void Append(std::string_view bytes) override {
    Handle file(CreateFileW(L"TEST_OUT.TXT", GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) Fail("cannot open", GetLastError());
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
      throw Error(ErrorKind::kFile, std::string("cannot open ") + kLogFileName + ": not a regular file");
    }
    Lock(file.get());
    const RecordBeingWritten held;
    LARGE_INTEGER end{};
    if (!GetFileSizeEx(file.get(), &end)) Fail("cannot write", GetLastError());
    const ULONGLONG start = static_cast<ULONGLONG>(end.QuadPart);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
      const ULONGLONG at = start + done;
      OVERLAPPED where{};
      where.Offset = static_cast<DWORD>(at);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD written = 0;
      const BOOL ok = WriteFile(file.get(), bytes.data() + done, chunk, &written, &where);
      // A failing write may still have put some bytes down: they are cut too.
      done += written;
      if (!ok || written == 0) {
        const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
        std::string message = Reason("cannot write", error);
        // A record is in the log whole or not at all: cut off the part that
        // did fit, so the next run does not append onto a torn record.
        if (done > 0) {
          LARGE_INTEGER back{};
          back.QuadPart = static_cast<LONGLONG>(start);
          if (!SetFilePointerEx(file.get(), back, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
            message += " and the partial record could not be removed: " + SystemErrorText(GetLastError());
          }
        }
        throw Error(ErrorKind::kFile, message);
      }
    }
    // Closing the handle also gives up the lock.
    if (const DWORD error = file.Close()) Fail("cannot close", error);
  }

 private:
  void Lock(HANDLE file) const {
    const auto deadline = std::chrono::steady_clock::now() + lock_wait_;
    for (;;) {
      OVERLAPPED where{};
      where.Offset = kLockOffsetLow;
      where.OffsetHigh = kLockOffsetHigh;
      if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) return;
      const DWORD error = GetLastError();
      // A file system without locks has nothing to wait for.
      if (error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) return;
      if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) Fail("cannot lock", error);
      if (std::chrono::steady_clock::now() >= deadline) {
        throw Error(ErrorKind::kFile, std::string("cannot write ") + kLogFileName +
                                          ": file locked by another process");
      }
      Sleep(10);
    }
  }

  static std::string Reason(const char* what, DWORD error) {
    return std::string(what) + " " + kLogFileName + ": " + SystemErrorText(error);
  }
  [[noreturn]] static void Fail(const char* what, DWORD error) {
    throw Error(ErrorKind::kFile, Reason(what, error));
  }

  std::chrono::milliseconds lock_wait_;
};

}  // namespace

std::unique_ptr<LogFile> MakeLogFile(std::chrono::milliseconds lock_wait) {
  return std::make_unique<LogFileWindows>(lock_wait);
}

}  // namespace hostprobe
