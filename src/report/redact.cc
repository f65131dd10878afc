#include "report/redact.h"

#include <cstring>
#include <span>
#include <vector>

#include "platform/records.h"

namespace hostprobe {
namespace {

namespace rec = records;

// The n-th pseudonym address (from 1): documentation addresses (192.0.2.0/24),
// then the benchmarking range 198.18.0.0/15; never a host on a real network.
std::string PseudonymAddress(std::size_t n) {
  if (n <= 254) return "192.0.2." + std::to_string(n);
  const std::size_t k = n - 254;  // 198.18.0.1 ...
  return "198." + std::to_string(18 + ((k >> 16) & 1)) + "." + std::to_string((k >> 8) & 0xFF) + "." +
         std::to_string(k & 0xFF);
}

std::string FieldText(const uint8_t* p, std::size_t width) {
  const std::string field(reinterpret_cast<const char*>(p), width);
  return field.substr(0, field.find('\0'));
}

// Writes `text` into a fixed-width field, NUL-padded, always NUL-terminated.
void PutField(uint8_t* p, std::size_t width, const std::string& text) {
  std::memset(p, 0, width);
  std::memcpy(p, text.data(), std::min(text.size(), width - 1));
}

void RedactAddressEntry(Redactor& r, uint8_t* entry) {
  uint8_t* ip = entry + rec::kAddrIpAddress;
  const std::string text = FieldText(ip, rec::kAddrTextWidth);
  const std::string redacted = r.Ipv4(text);
  if (redacted != text) PutField(ip, rec::kAddrTextWidth, redacted);
}

void RedactMacField(Redactor& r, uint8_t* p) {
  std::array<uint8_t, 6> mac;
  std::memcpy(mac.data(), p, mac.size());
  mac = r.Mac(mac);
  std::memcpy(p, mac.data(), mac.size());
  p[6] = p[7] = 0;
}

class RedactingAdapters : public AdapterApi {
 public:
  RedactingAdapters(std::unique_ptr<AdapterApi> inner, std::shared_ptr<Redactor> r)
      : inner_(std::move(inner)), r_(std::move(r)) {}
  uint32_t NeededLength() override { return inner_->NeededLength(); }
  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    const uint32_t status = inner_->Fill(buffer, location);
    if (status != 0) return status;
    // Every record of the chain, and every address entry any of them leads
    // to; a location outside the buffer is left for the walk to report.
    const std::size_t most = buffer.size() / rec::kAddrSize + 1;
    uint32_t position = *location;
    for (std::size_t n = 0; position != 0 && n < most; ++n) {
      const auto at = rec::ChainIndex(position, *location, buffer.size(), rec::kAdapterSize);
      if (!at) break;
      uint8_t* record = buffer.data() + *at;
      PutField(record + rec::kAdAdapterName, rec::kAdAdapterNameWidth,
               r_->AdapterName(FieldText(record + rec::kAdAdapterName, rec::kAdAdapterNameWidth)));
      RedactMacField(*r_, record + rec::kAdAddress);
      for (std::size_t entry : {rec::kAdIpAddressList, rec::kAdGatewayList, rec::kAdDhcpServer,
                                rec::kAdPrimaryWinsServer, rec::kAdSecondaryWinsServer}) {
        RedactAddressEntry(*r_, record + entry);
        uint32_t next = rec::GetU32(record + entry + rec::kAddrNext);
        for (std::size_t k = 0; next != 0 && k < most; ++k) {
          const auto further = rec::ChainIndex(next, *location, buffer.size(), rec::kAddrSize);
          if (!further) break;
          RedactAddressEntry(*r_, buffer.data() + *further);
          next = rec::GetU32(buffer.data() + *further + rec::kAddrNext);
        }
      }
      position = rec::GetU32(record + rec::kAdNext);
    }
    return status;
  }

 private:
  std::unique_ptr<AdapterApi> inner_;
  std::shared_ptr<Redactor> r_;
};

class RedactingInterfaces : public InterfaceTableApi {
 public:
  RedactingInterfaces(std::unique_ptr<InterfaceTableApi> inner, std::shared_ptr<Redactor> r)
      : inner_(std::move(inner)), r_(std::move(r)) {}
  uint32_t NeededLength() override { return inner_->NeededLength(); }
  uint32_t Fill(std::span<uint8_t> buffer) override {
    const uint32_t status = inner_->Fill(buffer);
    if (status != 0 || buffer.size() < rec::kTableRows) return status;
    const uint64_t count = rec::GetU32(buffer.data() + rec::kTableCount);
    for (uint64_t i = 0; i < count; ++i) {
      const uint64_t at = rec::kTableRows + i * rec::kRowSize;
      if (at + rec::kRowSize > buffer.size()) break;
      uint8_t* row = buffer.data() + at;
      RedactMacField(*r_, row + rec::kRowPhysAddr);
      // The wide name names the adapter (a link name, a device path with the
      // adapter's name): its pseudonym, in ASCII, as 16-bit characters.
      std::string name;
      for (std::size_t k = 0; k + 1 < rec::kRowNameWidth; k += 2) {
        const unsigned c = row[rec::kRowName + k] | (row[rec::kRowName + k + 1] << 8);
        if (c == 0) break;
        name += c < 0x80 ? static_cast<char>(c) : '?';
      }
      const std::string pseudonym = r_->AdapterName(name);
      std::memset(row + rec::kRowName, 0, rec::kRowNameWidth);
      for (std::size_t k = 0; k < pseudonym.size() && 2 * k + 2 < rec::kRowNameWidth; ++k) {
        row[rec::kRowName + 2 * k] = static_cast<uint8_t>(pseudonym[k]);
      }
    }
    return status;
  }

 private:
  std::unique_ptr<InterfaceTableApi> inner_;
  std::shared_ptr<Redactor> r_;
};

class RedactingDrive : public Drive {
 public:
  RedactingDrive(Drive& inner, Redactor& r) : inner_(inner), r_(r) {}
  bool IsReady() override { return inner_.IsReady(); }
  std::string DriveLetter() override { return inner_.DriveLetter(); }
  std::string VolumeName() override { return r_.Volume(inner_.VolumeName()); }
  int32_t DriveType() override { return inner_.DriveType(); }
  std::string FileSystem() override { return inner_.FileSystem(); }
  int32_t SerialNumber() override { return r_.Serial(inner_.SerialNumber()); }
  std::string ShareName() override { return r_.Share(inner_.ShareName()); }
  std::string RootPath() override { return inner_.RootPath(); }
  int64_t TotalSize() override { return inner_.TotalSize(); }
  int64_t FreeSpace() override { return inner_.FreeSpace(); }

 private:
  Drive& inner_;
  Redactor& r_;
};

class RedactingDriveList : public DriveList {
 public:
  RedactingDriveList(std::unique_ptr<DriveList> inner, std::shared_ptr<Redactor> r)
      : inner_(std::move(inner)), r_(std::move(r)) {}
  std::vector<Drive*> Drives() override {
    std::vector<Drive*> out;
    for (Drive* d : inner_->Drives()) {
      wrapped_.push_back(std::make_unique<RedactingDrive>(*d, *r_));
      out.push_back(wrapped_.back().get());
    }
    return out;
  }
  int32_t Count() override { return inner_->Count(); }

 private:
  std::unique_ptr<DriveList> inner_;
  std::shared_ptr<Redactor> r_;
  std::vector<std::unique_ptr<RedactingDrive>> wrapped_;
};

class RedactingDrives : public DriveSource {
 public:
  RedactingDrives(std::unique_ptr<DriveSource> inner, std::shared_ptr<Redactor> r)
      : inner_(std::move(inner)), r_(std::move(r)) {}
  std::unique_ptr<DriveList> Open() override {
    return std::make_unique<RedactingDriveList>(inner_->Open(), r_);
  }

 private:
  std::unique_ptr<DriveSource> inner_;
  std::shared_ptr<Redactor> r_;
};

}  // namespace

std::string Redactor::Named(std::map<std::string, std::string>& map, const std::string& prefix,
                            const std::string& value) {
  if (value.empty()) return value;
  const auto [it, added] = map.try_emplace(value);
  if (added) it->second = prefix + std::to_string(map.size());
  return it->second;
}

std::string Redactor::Host(const std::string& name) { return Named(hosts_, "host-", name); }
std::string Redactor::Volume(const std::string& name) { return Named(volumes_, "volume-", name); }
std::string Redactor::Share(const std::string& name) { return Named(shares_, "share-", name); }
std::string Redactor::AdapterName(const std::string& name) { return Named(adapters_, "adapter-", name); }

std::string Redactor::Ipv4(const std::string& address) {
  // No address and the broadcast address (a DHCP server not yet known) are
  // no host's.
  if (address.empty() || address == "0.0.0.0" || address == "255.255.255.255") return address;
  const auto [it, added] = ipv4_.try_emplace(address);
  if (added) it->second = PseudonymAddress(ipv4_.size());
  return it->second;
}

std::array<uint8_t, 6> Redactor::Mac(const std::array<uint8_t, 6>& mac) {
  if (mac == std::array<uint8_t, 6>{}) return mac;
  const auto [it, added] = macs_.try_emplace(mac);
  if (added) {
    const std::size_t n = macs_.size();
    it->second = {mac[0], mac[1], mac[2], static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                  static_cast<uint8_t>(n)};
  }
  return it->second;
}

int32_t Redactor::Serial(int32_t serial) {
  if (serial == 0) return serial;
  const auto [it, added] = serials_.try_emplace(serial);
  if (added) it->second = static_cast<int32_t>(serials_.size());
  return it->second;
}

void RedactPlatform(Platform& platform, std::shared_ptr<Redactor> redactor) {
  platform.adapters = std::make_unique<RedactingAdapters>(std::move(platform.adapters), redactor);
  platform.interfaces = std::make_unique<RedactingInterfaces>(std::move(platform.interfaces), redactor);
  platform.drives = std::make_unique<RedactingDrives>(std::move(platform.drives), redactor);
}

}  // namespace hostprobe
