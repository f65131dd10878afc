#include "platform/live/live.h"
#include "platform/replace_file.h"

#include <windows.h>

#include <algorithm>

#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

// File names come from the command line in UTF-8 and go to the wide
// functions, so that any name the file system takes is that file.
std::wstring DirectoryOf(const std::wstring& path) {
  const auto slash = path.find_last_of(L"\\/:");
  if (slash == std::wstring::npos) return L".";
  if (path[slash] == L':') return path.substr(0, slash + 1) + L".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

std::optional<std::string> ReplaceWholeFile(const std::string& utf8_path, std::string_view bytes) {
  const std::wstring path = Utf8ToWide(utf8_path);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return SystemErrorText(ERROR_ACCESS_DENIED);
    if (attributes & FILE_ATTRIBUTE_READONLY) return SystemErrorText(ERROR_ACCESS_DENIED);
  } else {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return SystemErrorText(error);
  }
  const std::wstring dir = DirectoryOf(path);
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; file == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
    temporary = dir + L"\\.hostprobe-" + Utf8ToWide(RandomFileSuffix()) + L".tmp";
    // CREATE_NEW fails on any existing name, a link included.
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      return SystemErrorText(GetLastError());
    }
  }
  if (file == INVALID_HANDLE_VALUE) return SystemErrorText(ERROR_FILE_EXISTS);
  auto fail = [&](DWORD error) -> std::optional<std::string> {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileW(temporary.c_str());
    return SystemErrorText(error);
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) return fail(GetLastError());
    if (written == 0) return fail(ERROR_DISK_FULL);
    done += written;
  }
  if (!FlushFileBuffers(file)) return fail(GetLastError());
  const BOOL closed = CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
  if (!closed) return fail(GetLastError());
  if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return fail(GetLastError());
  }
  return std::nullopt;
}

}  // namespace hostprobe
