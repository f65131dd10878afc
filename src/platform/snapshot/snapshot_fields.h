// The snapshot's names of record fields, shared by reading and capturing.
#pragma once

#include <cstddef>

#include "platform/records.h"

namespace hostprobe::snapshot_fields {

struct NumberField {
  const char* key;
  std::size_t offset;
};

// The interface row's 32-bit fields, in the order a capture writes them.
inline constexpr NumberField kRowNumbers[] = {
    {"index", records::kRowIndex},
    {"type", records::kRowType},
    {"mtu", records::kRowMtu},
    {"speed", records::kRowSpeed},
    {"phys_addr_len", records::kRowPhysAddrLen},
    {"admin_status", records::kRowAdminStatus},
    {"oper_status", records::kRowOperStatus},
    {"last_change", records::kRowLastChange},
    {"in_octets", records::kRowInOctets},
    {"in_ucast_pkts", records::kRowInUcastPkts},
    {"in_n_ucast_pkts", records::kRowInNUcastPkts},
    {"in_discards", records::kRowInDiscards},
    {"in_errors", records::kRowInErrors},
    {"in_unknown_protos", records::kRowInUnknownProtos},
    {"out_octets", records::kRowOutOctets},
    {"out_ucast_pkts", records::kRowOutUcastPkts},
    {"out_n_ucast_pkts", records::kRowOutNUcastPkts},
    {"out_discards", records::kRowOutDiscards},
    {"out_errors", records::kRowOutErrors},
    {"out_q_len", records::kRowOutQLen},
    {"descr_len", records::kRowDescrLen},
};

}  // namespace hostprobe::snapshot_fields
