#include <windows.h>

#include <climits>

#include "platform/live/live.h"
#include "platform/error.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe {
namespace {

// UTF-8 and UTF-7 take neither WC_NO_BEST_FIT_CHARS nor a default character:
// WideCharToMultiByte fails on both (ERROR_INVALID_FLAGS / _PARAMETER). The
// same holds for the code pages whose flags must be 0.
bool TakesDefaultChar(uint32_t code_page) {
  switch (code_page) {
    case CP_UTF8: case CP_UTF7: case 42: case 50220: case 50221: case 50222: case 50225:
    case 50227: case 50229:
      return false;
    default:
      return !(code_page >= 57002 && code_page <= 57011);
  }
}

int Length(std::size_t size, const char* call) {
  if (size > static_cast<std::size_t>(INT_MAX)) {
    throw Error(ErrorKind::kPlatform, std::string(call) + ": text of " + std::to_string(size) + " units");
  }
  return static_cast<int>(size);
}

[[noreturn]] void ThrowConversionError(const char* call, uint32_t code_page, DWORD code) {
  throw Error(ErrorKind::kPlatform, std::string(call) + " (code page " + std::to_string(code_page) +
                                        "): " + SystemErrorText(code));
}

int CallWideCharToMultiByte(uint32_t code_page, uint32_t flags, const wchar_t* in, int in_length, char* out,
                            int out_length, const char* default_char, int* used_default) {
  BOOL used = FALSE;
  const int n = WideCharToMultiByte(code_page, flags, in, in_length, out, out_length, default_char,
                                    used_default ? &used : nullptr);
  if (used_default) *used_default = used;
  return n;
}

// Wide to UTF-8 for error texts: never throws (a failure there must not hide
// the error being reported).
std::string WideToUtf8OrEmpty(std::wstring_view wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n), '\0');
  if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr) != n) return {};
  return text;
}

}  // namespace

std::string WideToCodePage(std::wstring_view wide, uint32_t code_page, const WideToMultiByteCall& convert) {
  if (wide.empty()) return {};
  const int size = Length(wide.size(), "WideCharToMultiByte");
  // WC_NO_BEST_FIT_CHARS: a character without its own code becomes "?", not a
  // look-alike. UTF-8 has a code for every character.
  const bool default_char = TakesDefaultChar(code_page);
  const uint32_t flags = default_char ? WC_NO_BEST_FIT_CHARS : 0;
  const char* const fallback = default_char ? "?" : nullptr;
  SetLastError(ERROR_SUCCESS);
  const int n = convert(code_page, flags, wide.data(), size, nullptr, 0, fallback, nullptr);
  if (n <= 0) ThrowConversionError("WideCharToMultiByte", code_page, GetLastError());
  std::string text(static_cast<std::size_t>(n), '\0');
  SetLastError(ERROR_SUCCESS);
  const int written = convert(code_page, flags, wide.data(), size, text.data(), n, fallback, nullptr);
  if (written != n) ThrowConversionError("WideCharToMultiByte", code_page, GetLastError());
  return text;
}

std::string WideToCodePage(std::wstring_view wide, uint32_t code_page) {
  return WideToCodePage(wide, code_page, CallWideCharToMultiByte);
}

std::wstring CodePageToWide(std::string_view text, uint32_t code_page) {
  if (text.empty()) return {};
  const int size = Length(text.size(), "MultiByteToWideChar");
  const int n = MultiByteToWideChar(code_page, 0, text.data(), size, nullptr, 0);
  if (n <= 0) ThrowConversionError("MultiByteToWideChar", code_page, GetLastError());
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), n) != n) {
    ThrowConversionError("MultiByteToWideChar", code_page, GetLastError());
  }
  return wide;
}

std::wstring Utf8ToWide(std::string_view utf8) { return CodePageToWide(utf8, CP_UTF8); }

std::string WideToUtf8(std::wstring_view wide) { return WideToCodePage(wide, CP_UTF8); }

std::string WideToSystem(std::wstring_view wide) { return WideToCodePage(wide, GetACP()); }

std::string Utf8ToSystem(std::string_view utf8) { return WideToSystem(Utf8ToWide(utf8)); }

std::string SystemToUtf8(std::string_view text) { return WideToUtf8(CodePageToWide(text, GetACP())); }

std::string SystemErrorText(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring message = n ? std::wstring(buffer, n) : std::wstring();
  if (buffer) LocalFree(buffer);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  std::string text = WideToUtf8OrEmpty(message);
  if (!text.empty()) text += ' ';
  return text + "(error " + std::to_string(code) + ")";
}

}  // namespace hostprobe
