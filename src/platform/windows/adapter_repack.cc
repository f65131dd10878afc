// The x64 adapter records in their 32-bit form. Pure byte work, so it is
// tested with hand-built records on either architecture.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/records.h"
#include "platform/windows/windows_sources.h"

namespace hostprobe::repack {
namespace {

namespace r = hostprobe::records;

// IP_ADDR_STRING of a 64-bit process, 48 bytes.
constexpr std::size_t kNaNext = 0;        // pointer, 8
constexpr std::size_t kNaIpAddress = 8;   // 16
constexpr std::size_t kNaIpMask = 24;     // 16
constexpr std::size_t kNaContext = 40;    // 4, then 4 padding

// IP_ADAPTER_INFO of a 64-bit process, 704 bytes.
constexpr std::size_t kNNext = 0;  // pointer, 8
constexpr std::size_t kNComboIndex = 8;
constexpr std::size_t kNAdapterName = 12;
constexpr std::size_t kNDescription = 272;
constexpr std::size_t kNAddressLength = 404;
constexpr std::size_t kNAddress = 408;
constexpr std::size_t kNIndex = 416;
constexpr std::size_t kNType = 420;
constexpr std::size_t kNDhcpEnabled = 424;
constexpr std::size_t kNCurrentIpAddress = 432;  // pointer, 8
constexpr std::size_t kNIpAddressList = 440;
constexpr std::size_t kNGatewayList = 488;
constexpr std::size_t kNDhcpServer = 536;
constexpr std::size_t kNHaveWins = 584;
constexpr std::size_t kNPrimaryWinsServer = 592;
constexpr std::size_t kNSecondaryWinsServer = 640;
constexpr std::size_t kNLeaseObtained = 688;  // time_t, 8
constexpr std::size_t kNLeaseExpires = 696;   // time_t, 8

// The five address lists: native offset, packed offset.
constexpr std::pair<std::size_t, std::size_t> kLists[] = {
    {kNIpAddressList, r::kAdIpAddressList},
    {kNGatewayList, r::kAdGatewayList},
    {kNDhcpServer, r::kAdDhcpServer},
    {kNPrimaryWinsServer, r::kAdPrimaryWinsServer},
    {kNSecondaryWinsServer, r::kAdSecondaryWinsServer},
};

uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(r::GetU32(p)) | (static_cast<uint64_t>(r::GetU32(p + 4)) << 32);
}

// The offset in `native` of a block of `size` bytes at `pointer`.
std::size_t OffsetOf(std::span<const uint8_t> native, uint64_t base, uint64_t pointer, std::size_t size,
                     const char* what) {
  const uint64_t offset = pointer - base;
  if (pointer < base || offset > native.size() || native.size() - offset < size) {
    throw Error(ErrorKind::kIndexOutOfRange,
                std::string("the adapter list's ") + what + " lies outside the returned buffer");
  }
  return static_cast<std::size_t>(offset);
}

// Calls visit(offset) for each record of the chain. A chain can hold at most
// as many records as fit in the buffer; a longer one loops.
template <typename F>
void WalkChain(std::span<const uint8_t> native, uint64_t base, F visit) {
  if (native.size() < kNativeAdapterSize) {
    throw Error(ErrorKind::kIndexOutOfRange, "the adapter list is shorter than one record");
  }
  std::size_t offset = 0;
  const std::size_t limit = native.size() / kNativeAdapterSize;
  for (std::size_t n = 0;; ++n) {
    if (n == limit) throw Error(ErrorKind::kIndexOutOfRange, "the adapter chain does not end");
    visit(offset);
    const uint64_t next = GetU64(native.data() + offset + kNNext);
    if (next == 0) return;
    offset = OffsetOf(native, base, next, kNativeAdapterSize, "next record");
  }
}

// The number of entries after the first in the address list at `entry`.
std::size_t FurtherEntries(std::span<const uint8_t> native, uint64_t base, std::size_t entry) {
  std::size_t count = 0;
  const std::size_t limit = native.size() / kNativeAddrSize;
  for (uint64_t next = GetU64(native.data() + entry + kNaNext); next != 0;) {
    if (++count > limit) throw Error(ErrorKind::kIndexOutOfRange, "an address list does not end");
    const std::size_t at = OffsetOf(native, base, next, kNativeAddrSize, "address entry");
    next = GetU64(native.data() + at + kNaNext);
  }
  return count;
}

void PackEntry(const uint8_t* from, uint8_t* to) {
  r::PutU32(to + r::kAddrNext, static_cast<uint32_t>(GetU64(from + kNaNext)));
  std::memcpy(to + r::kAddrIpAddress, from + kNaIpAddress, r::kAddrTextWidth);
  std::memcpy(to + r::kAddrIpMask, from + kNaIpMask, r::kAddrTextWidth);
  std::memcpy(to + r::kAddrContext, from + kNaContext, 4);
}

}  // namespace

uint32_t PackedLength(std::span<const uint8_t> native, uint64_t native_location) {
  uint64_t length = 0;
  // Every further entry takes 48 bytes of its own in the native buffer, so
  // together they are at most that many; lists sharing entries are malformed
  // (and would otherwise add up to more than 32 bits can hold).
  const std::size_t entry_limit = native.size() / kNativeAddrSize;
  std::size_t entries = 0;
  WalkChain(native, native_location, [&](std::size_t at) {
    length += r::kAdapterSize;
    for (const auto& [from, to] : kLists) {
      (void)to;
      entries += FurtherEntries(native, native_location, at + from);
      if (entries > entry_limit) {
        throw Error(ErrorKind::kIndexOutOfRange, "the adapter list's address entries overlap");
      }
    }
  });
  // Now bounded by the native buffer, which is larger per record and per entry.
  return static_cast<uint32_t>(length + r::kAddrSize * entries);
}

bool Repack(std::span<const uint8_t> native, uint64_t native_location, std::span<uint8_t> out,
            uint32_t out_location) {
  std::size_t records = 0;
  WalkChain(native, native_location, [&](std::size_t) { ++records; });
  if (records > out.size() / r::kAdapterSize) return false;
  std::fill(out.begin(), out.end(), uint8_t{0});
  std::size_t k = 0;
  WalkChain(native, native_location, [&](std::size_t at) {
    const uint8_t* n = native.data() + at;
    uint8_t* p = out.data() + k * r::kAdapterSize;
    ++k;
    r::PutU32(p + r::kAdNext,
              k < records ? out_location + static_cast<uint32_t>(k * r::kAdapterSize) : 0);
    std::memcpy(p + r::kAdComboIndex, n + kNComboIndex, 4);
    std::memcpy(p + r::kAdAdapterName, n + kNAdapterName, r::kAdAdapterNameWidth);
    std::memcpy(p + r::kAdDescription, n + kNDescription, r::kAdDescriptionWidth);
    std::memcpy(p + r::kAdAddressLength, n + kNAddressLength, 4);
    std::memcpy(p + r::kAdAddress, n + kNAddress, r::kPhysAddrWidth);
    std::memcpy(p + r::kAdIndex, n + kNIndex, 4);
    std::memcpy(p + r::kAdType, n + kNType, 4);
    std::memcpy(p + r::kAdDhcpEnabled, n + kNDhcpEnabled, 4);
    r::PutU32(p + r::kAdCurrentIpAddress, static_cast<uint32_t>(GetU64(n + kNCurrentIpAddress)));
    for (const auto& [from, to] : kLists) PackEntry(n + from, p + to);
    std::memcpy(p + r::kAdHaveWins, n + kNHaveWins, 4);
    r::PutU32(p + r::kAdLeaseObtained, static_cast<uint32_t>(GetU64(n + kNLeaseObtained)));
    r::PutU32(p + r::kAdLeaseExpires, static_cast<uint32_t>(GetU64(n + kNLeaseExpires)));
  });
  return true;
}

namespace {


class RepackingAdapterApi : public AdapterApi {
 public:
  explicit RepackingAdapterApi(NativeFetch fetch) : fetch_(std::move(fetch)) {}

  uint32_t NeededLength() override {
    uint32_t length = 0;
    fetch_(nullptr, &length);
    native_length_ = length;
    if (length == 0) return 0;
    // The chain may grow between two calls: fetch until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
      std::vector<uint8_t> native(length);
      const uint32_t status = fetch_(native.data(), &length);
      if (status == 0) {
        native_length_ = static_cast<uint32_t>(native.size());
        return PackedLength(native, reinterpret_cast<uintptr_t>(native.data()));
      }
      if (status != records::kStatusBufferOverflow) break;
    }
    // Not fetchable now: the filling call will report the platform's status.
    return native_length_;
  }

  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    uint32_t length = native_length_;
    std::vector<uint8_t> native(length);
    const uint32_t status = fetch_(native.data(), &length);
    if (status != 0) return status;
    uint32_t at = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer.data()));
    if (at == 0 || uint64_t{at} + buffer.size() > 0xFFFFFFFFu) at = 0x10000;
    if (!Repack(native, reinterpret_cast<uintptr_t>(native.data()), buffer, at)) return records::kStatusBufferOverflow;
    *location = at;
    return 0;
  }

 private:
  NativeFetch fetch_;
  uint32_t native_length_ = 0;
};

}  // namespace

std::unique_ptr<AdapterApi> MakeRepackingAdapterApi(NativeFetch fetch) {
  return std::make_unique<RepackingAdapterApi>(std::move(fetch));
}

}  // namespace hostprobe::repack
