// The live Win32 sources behind the platform interfaces, and the helpers they
// share: wide text to and from the ANSI code page, system error texts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/adapter_api.h"
#include "platform/drive_source.h"
#include "platform/interface_table_api.h"
#include "platform/probe_loader.h"

namespace hostprobe {

std::unique_ptr<AdapterApi> MakeWindowsAdapterApi();
std::unique_ptr<InterfaceTableApi> MakeWindowsInterfaceTableApi();
std::unique_ptr<DriveSource> MakeWindowsDriveSource();
// Loads `library` (vmware.dll) by name on the first Load, never from the
// current directory, and resolves the seven __stdcall routines.
std::unique_ptr<ProbeLoader> MakeWindowsProbeLoader(const std::wstring& library = L"vmware.dll");

// Wide text in the ANSI code page, "?" for characters without a mapping.
std::string WideToSystem(std::wstring_view wide);
// UTF-8 <-> wide; invalid UTF-8 becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
// The conversions behind those, for any code page (the ANSI code page may be
// 65001, UTF-8). A failing conversion throws Error (kPlatform) naming the
// call, the code page and the system's error; it never gives empty text.
std::string WideToCodePage(std::wstring_view wide, uint32_t code_page);
std::wstring CodePageToWide(std::string_view text, uint32_t code_page);
// WideToCodePage through another WideCharToMultiByte (same parameters; BOOL
// is int), so that tests can hold the call to the documented rules.
using WideToMultiByteCall = std::function<int(uint32_t code_page, uint32_t flags, const wchar_t* in,
                                              int in_length, char* out, int out_length,
                                              const char* default_char, int* used_default)>;
std::string WideToCodePage(std::wstring_view wide, uint32_t code_page, const WideToMultiByteCall& convert);
// "<system message> (error N)" in UTF-8 for a GetLastError code.
std::string SystemErrorText(uint32_t code);

// The x64 adapter chain in its 32-bit form. GetAdaptersInfo of a 64-bit
// process gives 704-byte records whose address entries are 48 bytes and whose
// pointers are 64-bit; the reports read 640-byte records with 40-byte entries.
namespace repack {

inline constexpr std::size_t kNativeAdapterSize = 704;
inline constexpr std::size_t kNativeAddrSize = 48;

// The length a 32-bit process's chain would need: 640 per record and 40 per
// address entry beyond the first of each list. `native` is the filled buffer,
// `native_location` the address of native[0] (the pointers inside lead there).
// Throws Error (kIndexOutOfRange) when a pointer leads outside `native`.
uint32_t PackedLength(std::span<const uint8_t> native, uint64_t native_location);

// Writes the chain of `native` as 640-byte records from out[0] on, each Next
// the location of the following packed record (`out_location` being that of
// out[0]), the last one's 0; other pointers (CurrentIpAddress, address entry
// Next) keep their low 32 bits, as do the 64-bit lease times. Bytes of `out`
// not covered by a record are zero. Returns false, writing nothing, when the
// records do not fit in `out`. Throws like PackedLength.
bool Repack(std::span<const uint8_t> native, uint64_t native_location, std::span<uint8_t> out,
            uint32_t out_location);

// An adapter API over 64-bit records: `fetch(buffer, &length)` acts as
// GetAdaptersInfo does in a 64-bit process (buffer null: the sizing call).
// The sizing call fetches the chain once to learn the length of its packed
// form; the filling call fetches it again and repacks it, answering 111 (the
// platform's buffer overflow) when the chain no longer fits.
using NativeFetch = std::function<uint32_t(uint8_t* buffer, uint32_t* length)>;
std::unique_ptr<AdapterApi> MakeRepackingAdapterApi(NativeFetch fetch);

}  // namespace repack
}  // namespace hostprobe
