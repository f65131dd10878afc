// Byte layout of the records the network APIs hand out: the 640-byte adapter
// record with its 40-byte address entries, and the interface table (a 4-byte
// count, then 860-byte rows). All numbers are 32-bit little-endian; offsets are
// from the start of the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace hostprobe::records {

// The statuses the adapter and interface table calls answer, as Windows
// numbers them: the buffer is too small (adapters: 111, the table: 122), the
// call failed, or there is nothing to list.
inline constexpr uint32_t kStatusBufferOverflow = 111;
inline constexpr uint32_t kStatusInsufficientBuffer = 122;
inline constexpr uint32_t kStatusGenFailure = 31;
inline constexpr uint32_t kStatusNoData = 232;

// Address entry, 40 bytes.
inline constexpr std::size_t kAddrNext = 0;
inline constexpr std::size_t kAddrIpAddress = 4;
inline constexpr std::size_t kAddrIpMask = 20;
inline constexpr std::size_t kAddrContext = 36;
inline constexpr std::size_t kAddrTextWidth = 16;
inline constexpr std::size_t kAddrSize = 40;

// Adapter record, 640 bytes.
inline constexpr std::size_t kAdapterSize = 640;
inline constexpr std::size_t kAdNext = 0;
inline constexpr std::size_t kAdComboIndex = 4;
inline constexpr std::size_t kAdAdapterName = 8;
inline constexpr std::size_t kAdAdapterNameWidth = 260;
inline constexpr std::size_t kAdDescription = 268;
inline constexpr std::size_t kAdDescriptionWidth = 132;
inline constexpr std::size_t kAdAddressLength = 400;
inline constexpr std::size_t kAdAddress = 404;
inline constexpr std::size_t kAdIndex = 412;
inline constexpr std::size_t kAdType = 416;
inline constexpr std::size_t kAdDhcpEnabled = 420;
inline constexpr std::size_t kAdCurrentIpAddress = 424;
inline constexpr std::size_t kAdIpAddressList = 428;
inline constexpr std::size_t kAdGatewayList = 468;
inline constexpr std::size_t kAdDhcpServer = 508;
inline constexpr std::size_t kAdHaveWins = 548;
inline constexpr std::size_t kAdPrimaryWinsServer = 552;
inline constexpr std::size_t kAdSecondaryWinsServer = 592;
inline constexpr std::size_t kAdLeaseObtained = 632;
inline constexpr std::size_t kAdLeaseExpires = 636;

// The notional location of buffer index 0 where a source chooses the
// locations its Next fields hold (the snapshot and the live Linux sources): a
// fixed, positive 32-bit value, so that the same chain gives the same numbers.
inline constexpr uint32_t kNotionalBufferLocation = 0x00100000;

// Hardware address fields (adapter Address, row bPhysAddr) are 8 bytes.
inline constexpr std::size_t kPhysAddrWidth = 8;

// Interface table: count at 0, rows from 4.
inline constexpr std::size_t kTableCount = 0;
inline constexpr std::size_t kTableRows = 4;
inline constexpr std::size_t kRowSize = 860;
inline constexpr std::size_t kRowName = 0;  // 256 wide characters
inline constexpr std::size_t kRowNameWidth = 512;
inline constexpr std::size_t kRowIndex = 512;
inline constexpr std::size_t kRowType = 516;
inline constexpr std::size_t kRowMtu = 520;
inline constexpr std::size_t kRowSpeed = 524;
inline constexpr std::size_t kRowPhysAddrLen = 528;
inline constexpr std::size_t kRowPhysAddr = 532;
inline constexpr std::size_t kRowAdminStatus = 540;
inline constexpr std::size_t kRowOperStatus = 544;
inline constexpr std::size_t kRowLastChange = 548;
inline constexpr std::size_t kRowInOctets = 552;  // 14 counters follow, 4 bytes each
inline constexpr std::size_t kRowInUcastPkts = 556;
inline constexpr std::size_t kRowInNUcastPkts = 560;
inline constexpr std::size_t kRowInDiscards = 564;
inline constexpr std::size_t kRowInErrors = 568;
inline constexpr std::size_t kRowInUnknownProtos = 572;
inline constexpr std::size_t kRowOutOctets = 576;
inline constexpr std::size_t kRowOutUcastPkts = 580;
inline constexpr std::size_t kRowOutNUcastPkts = 584;
inline constexpr std::size_t kRowOutDiscards = 588;
inline constexpr std::size_t kRowOutErrors = 592;
inline constexpr std::size_t kRowOutQLen = 596;
inline constexpr std::size_t kRowDescrLen = 600;
inline constexpr std::size_t kRowDescr = 604;
inline constexpr std::size_t kRowDescrWidth = 256;

// Little-endian 32-bit access; the caller guarantees p[0..3] is inside its buffer.
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// The buffer index of the `size`-byte record at chain location `location`,
// the buffer of `buffer_size` bytes lying at `buffer_location`; nullopt when
// the record does not lie wholly inside it. A location below the buffer wraps
// round to a huge index and fails like any other stray location.
inline std::optional<std::size_t> ChainIndex(uint32_t location, uint32_t buffer_location,
                                             std::size_t buffer_size, std::size_t size) {
  const uint64_t index = static_cast<uint32_t>(location - buffer_location);
  if (index + size > buffer_size) return std::nullopt;
  return static_cast<std::size_t>(index);
}

// A row's wide name (UTF-16LE) from `text`, one unit per UTF-8 character
// ('?' for each that is not ASCII), at most 255 units; the field is
// zero-filled beforehand by the caller.
inline void PutRowName(uint8_t* row, std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size() && n < kRowNameWidth / 2 - 1; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c & 0xC0) == 0x80) continue;  // one unit per UTF-8 lead byte
    row[kRowName + 2 * n] = c < 0x80 ? c : '?';
    ++n;
  }
}

// A row's wide name as ASCII text, '?' for each unit that is not ASCII, up
// to its first NUL.
inline std::string RowNameText(const uint8_t* row) {
  std::string out;
  for (std::size_t i = 0; i + 1 < kRowNameWidth; i += 2) {
    const auto c = static_cast<char16_t>(row[kRowName + i] | (row[kRowName + i + 1] << 8));
    if (c == 0) break;
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

}  // namespace hostprobe::records
