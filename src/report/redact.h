// Redaction for sharing a report or a snapshot: host names, IPv4 addresses,
// MAC addresses (their first three bytes, the vendor prefix, kept), drive
// serial numbers, volume and share names and adapter names become stable
// pseudonyms. One Redactor serves one document: the same value always gives
// the same pseudonym, and no real value survives.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace hostprobe {

class Redactor {
 public:
  std::string Host(const std::string& name);          // "host-1", ...
  std::string Ipv4(const std::string& address);       // "192.0.2.1", ...; "", 0.0.0.0, 255.255.255.255 stay
  std::array<uint8_t, 6> Mac(const std::array<uint8_t, 6>& mac);  // prefix kept; all zero stays
  int32_t Serial(int32_t serial);                     // 1, 2, ...; 0 stays
  std::string Volume(const std::string& name);        // "volume-1", ...; "" stays
  std::string Share(const std::string& name);         // "share-1", ...; "" stays
  std::string AdapterName(const std::string& name);   // "adapter-1", ...; "" stays

 private:
  std::string Named(std::map<std::string, std::string>& map, const std::string& prefix,
                    const std::string& value);

  std::map<std::string, std::string> hosts_, ipv4_, volumes_, shares_, adapters_;
  std::map<std::array<uint8_t, 6>, std::array<uint8_t, 6>> macs_;
  std::map<int32_t, int32_t> serials_;
};

// Puts redacting wrappers round `platform`'s adapters, interface table and
// drives: every record, row and property read through them comes out
// redacted by `redactor`. The probes, the log and the clock are left alone,
// so the probes, the classification and the drive totals do not change.
void RedactPlatform(Platform& platform, std::shared_ptr<Redactor> redactor);

}  // namespace hostprobe
