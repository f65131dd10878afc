#include "network/interfaces_report.h"

#include <cstdint>
#include <vector>

#include "network/mac_text.h"
#include "platform/error.h"
#include "platform/records.h"

namespace hostprobe {
namespace {

namespace rec = records;

// The first dwDescrLen - 1 bytes of bDescr, all 256 when that is more.
std::string Description(const uint8_t* row, int32_t row_number) {
  const int32_t descr_len = rec::GetI32(row + rec::kRowDescrLen);
  if (descr_len <= 0) {
    throw Error(ErrorKind::kInvalidArgument, "interface " + std::to_string(row_number) + ": dwDescrLen " +
                                                 std::to_string(descr_len) + " gives a prefix length of " +
                                                 std::to_string(int64_t{descr_len} - 1));
  }
  const std::size_t width = std::min<std::size_t>(static_cast<std::size_t>(descr_len) - 1, rec::kRowDescrWidth);
  return std::string(reinterpret_cast<const char*>(row + rec::kRowDescr), width);
}

}  // namespace

std::string GetInterfacesReport(InterfaceTableApi& api) {
  const uint32_t length = api.NeededLength();
  if (length == 0) return "";
  std::vector<uint8_t> buffer(length);
  if (api.Fill(buffer) != 0) return "";
  if (buffer.size() < rec::kTableRows) {
    throw Error(ErrorKind::kIndexOutOfRange, "interface table buffer of " + std::to_string(buffer.size()) +
                                                 " bytes is shorter than its 4-byte count");
  }

  const int32_t count = rec::GetI32(buffer.data() + rec::kTableCount);
  std::string text = std::to_string(count) + " Interface(s):";
  // The rows are counted in 16 bits; a negative count runs none.
  if (count > 32767 || count < -32768) {
    throw Error(ErrorKind::kOverflow,
                "interface count " + std::to_string(count) + " does not fit 16 bits");
  }
  for (int32_t i = 1; i <= count; ++i) {
    const uint64_t start = rec::kTableRows + uint64_t{rec::kRowSize} * static_cast<uint64_t>(i - 1);
    if (start + rec::kRowSize > buffer.size()) {
      throw Error(ErrorKind::kIndexOutOfRange,
                  "interface row " + std::to_string(i) + " at buffer index " + std::to_string(start) +
                      " does not lie wholly inside the " + std::to_string(buffer.size()) + "-byte buffer");
    }
    const uint8_t* row = buffer.data() + start;
    text += "\r\n[" + std::to_string(i) + "] " + Description(row, i);
    text += "\t" + std::to_string(rec::GetI32(row + rec::kRowType));
    text += "\t" + std::to_string(rec::GetI32(row + rec::kRowAdminStatus));
    text += "\t" + std::to_string(rec::GetI32(row + rec::kRowSpeed));
    text += "\t" + MacToText(std::span<const uint8_t, 8>(row + rec::kRowPhysAddr, 8));
  }
  return text;
}

}  // namespace hostprobe
