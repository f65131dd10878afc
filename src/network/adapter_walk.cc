#include "network/adapter_walk.h"

#include <vector>

#include "platform/error.h"
#include "platform/records.h"

namespace hostprobe {
namespace {

namespace rec = records;

std::string Bytes(const uint8_t* p, std::size_t width) {
  return std::string(reinterpret_cast<const char*>(p), width);
}

AddressEntry ReadAddressEntry(const uint8_t* p) {
  AddressEntry e;
  e.next = rec::GetI32(p + rec::kAddrNext);
  e.ip_address = Bytes(p + rec::kAddrIpAddress, rec::kAddrTextWidth);
  e.ip_mask = Bytes(p + rec::kAddrIpMask, rec::kAddrTextWidth);
  e.context = rec::GetI32(p + rec::kAddrContext);
  return e;
}

}  // namespace

AdapterRecord ReadAdapterRecord(const uint8_t* p) {
  AdapterRecord r;
  r.next = rec::GetI32(p + rec::kAdNext);
  r.combo_index = rec::GetI32(p + rec::kAdComboIndex);
  r.adapter_name = Bytes(p + rec::kAdAdapterName, rec::kAdAdapterNameWidth);
  r.description = Bytes(p + rec::kAdDescription, rec::kAdDescriptionWidth);
  r.address_length = rec::GetI32(p + rec::kAdAddressLength);
  std::copy(p + rec::kAdAddress, p + rec::kAdAddress + rec::kPhysAddrWidth, r.address.begin());
  r.index = rec::GetI32(p + rec::kAdIndex);
  r.type = rec::GetI32(p + rec::kAdType);
  r.dhcp_enabled = rec::GetI32(p + rec::kAdDhcpEnabled);
  r.current_ip_address = rec::GetI32(p + rec::kAdCurrentIpAddress);
  r.ip_address_list = ReadAddressEntry(p + rec::kAdIpAddressList);
  r.gateway_list = ReadAddressEntry(p + rec::kAdGatewayList);
  r.dhcp_server = ReadAddressEntry(p + rec::kAdDhcpServer);
  r.have_wins = rec::GetI32(p + rec::kAdHaveWins);
  r.primary_wins_server = ReadAddressEntry(p + rec::kAdPrimaryWinsServer);
  r.secondary_wins_server = ReadAddressEntry(p + rec::kAdSecondaryWinsServer);
  r.lease_obtained = rec::GetI32(p + rec::kAdLeaseObtained);
  r.lease_expires = rec::GetI32(p + rec::kAdLeaseExpires);
  return r;
}

int16_t AdapterCount(uint32_t needed_length) {
  uint32_t count = needed_length / rec::kAdapterSize;
  const uint32_t rest = needed_length % rec::kAdapterSize;
  constexpr uint32_t kHalf = rec::kAdapterSize / 2;
  if (rest > kHalf || (rest == kHalf && count % 2 == 1)) ++count;
  if (count > 32767) {
    throw Error(ErrorKind::kOverflow, "adapter count " + std::to_string(count) + " for a needed length of " +
                                          std::to_string(needed_length) + " bytes does not fit 16 bits");
  }
  return static_cast<int16_t>(count);
}

WalkResult WalkAdapters(AdapterApi& api, const AdapterVisitor& visit, const WalkStart& start) {
  WalkResult result;
  const uint32_t length = api.NeededLength();
  if (length == 0) return result;

  result.count = AdapterCount(length);
  std::vector<uint8_t> buffer(length);
  uint32_t location = 0;
  const uint32_t status = api.Fill(buffer, &location);
  if (status != 0) {
    result.outcome = WalkOutcome::kFailed;
    result.status = status;
    return result;
  }

  result.outcome = WalkOutcome::kWalked;
  if (start) start(result.count);
  uint32_t position = location;
  for (int16_t i = 0; i < result.count; ++i) {
    if (position == 0) break;
    const auto offset = rec::ChainIndex(position, location, buffer.size(), rec::kAdapterSize);
    if (!offset) {
      throw Error(ErrorKind::kIndexOutOfRange,
                  "adapter record " + std::to_string(i) + " at buffer index " +
                      std::to_string(static_cast<uint32_t>(position - location)) +
                      " does not lie wholly inside the " + std::to_string(buffer.size()) + "-byte buffer");
    }
    const AdapterRecord record = ReadAdapterRecord(buffer.data() + *offset);
    if (!visit(i, record)) break;
    position = static_cast<uint32_t>(record.next);
  }
  return result;
}

}  // namespace hostprobe
