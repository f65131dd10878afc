// Writing a snapshot of a platform: the inverse of snapshot_read.cc.
#include <nlohmann/json.hpp>

#include "platform/error.h"
#include "platform/utf8.h"
#include "platform/snapshot/snapshot.h"
#include "platform/snapshot/snapshot_fields.h"

namespace hostprobe {
namespace {

using nlohmann::ordered_json;
namespace rec = records;

// Bytes as a JSON text of U+0000..U+00FF characters, trailing NULs dropped
// (reading pads them back).
std::string ByteText(const uint8_t* p, std::size_t width) {
  while (width > 0 && p[width - 1] == 0) --width;
  std::string out;
  for (std::size_t i = 0; i < width; ++i) AppendUtf8(out, p[i]);
  return out;
}

// A text as the snapshot holds it: a JSON string where it is UTF-8, else
// {"bytes": "..."}, one character U+0000 to U+00FF per byte, so that every
// byte replays as it was (a locale's 0xA0 separator, a path holding 0xFF).
ordered_json Text(std::string_view bytes) {
  ordered_json text = std::string(bytes);
  try {
    text.dump();  // the JSON library's own UTF-8 check
    return text;
  } catch (const ordered_json::type_error&) {
    std::string each;
    for (const char c : bytes) AppendUtf8(each, static_cast<unsigned char>(c));
    ordered_json j;
    j["bytes"] = std::move(each);
    return j;
  }
}

std::string HexAddress(const uint8_t* p) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < rec::kPhysAddrWidth; ++i) {
    if (i) out += '-';
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

ordered_json AddressEntry(const uint8_t* e) {
  ordered_json j;
  j["next"] = rec::GetU32(e + rec::kAddrNext);
  j["ip_address"] = ByteText(e + rec::kAddrIpAddress, rec::kAddrTextWidth);
  j["ip_mask"] = ByteText(e + rec::kAddrIpMask, rec::kAddrTextWidth);
  j["context"] = rec::GetU32(e + rec::kAddrContext);
  return j;
}

ordered_json AdapterRecord(const uint8_t* r) {
  ordered_json j;
  j["combo_index"] = rec::GetU32(r + rec::kAdComboIndex);
  j["adapter_name"] = ByteText(r + rec::kAdAdapterName, rec::kAdAdapterNameWidth);
  j["description"] = ByteText(r + rec::kAdDescription, rec::kAdDescriptionWidth);
  j["address_length"] = rec::GetU32(r + rec::kAdAddressLength);
  j["address"] = HexAddress(r + rec::kAdAddress);
  j["index"] = rec::GetU32(r + rec::kAdIndex);
  j["type"] = rec::GetU32(r + rec::kAdType);
  j["dhcp_enabled"] = rec::GetU32(r + rec::kAdDhcpEnabled);
  j["current_ip_address"] = rec::GetU32(r + rec::kAdCurrentIpAddress);
  j["ip_address_list"] = AddressEntry(r + rec::kAdIpAddressList);
  j["gateway_list"] = AddressEntry(r + rec::kAdGatewayList);
  j["dhcp_server"] = AddressEntry(r + rec::kAdDhcpServer);
  j["have_wins"] = rec::GetU32(r + rec::kAdHaveWins);
  j["primary_wins_server"] = AddressEntry(r + rec::kAdPrimaryWinsServer);
  j["secondary_wins_server"] = AddressEntry(r + rec::kAdSecondaryWinsServer);
  j["lease_obtained"] = rec::GetU32(r + rec::kAdLeaseObtained);
  j["lease_expires"] = rec::GetU32(r + rec::kAdLeaseExpires);
  return j;
}

ordered_json Adapters(AdapterApi& api) {
  ordered_json j;
  const uint32_t needed = api.NeededLength();
  j["needed_length"] = needed;
  ordered_json list = ordered_json::array();
  if (needed != 0) {
    std::vector<uint8_t> buffer(needed);
    uint32_t location = 0;
    const uint32_t status = api.Fill(buffer, &location);
    j["fill_status"] = status;
    // Follow the chain while each record lies wholly inside the buffer; a
    // chain can visit at most as many records as the buffer holds.
    uint32_t position = location;
    for (std::size_t n = 0; status == 0 && position != 0 && n <= needed / rec::kAdapterSize; ++n) {
      const auto offset = rec::ChainIndex(position, location, buffer.size(), rec::kAdapterSize);
      if (!offset) break;
      const uint8_t* r = buffer.data() + *offset;
      list.push_back(AdapterRecord(r));
      position = rec::GetU32(r + rec::kAdNext);
    }
  }
  j["records"] = std::move(list);
  return j;
}

ordered_json InterfaceRow(const uint8_t* r) {
  ordered_json j;
  j["name"] = rec::RowNameText(r);
  for (const auto& [key, offset] : snapshot_fields::kRowNumbers) j[key] = rec::GetU32(r + offset);
  j["phys_addr"] = HexAddress(r + rec::kRowPhysAddr);
  j["descr"] = ByteText(r + rec::kRowDescr, rec::kRowDescrWidth);
  return j;
}

ordered_json Interfaces(InterfaceTableApi& api) {
  ordered_json j;
  const uint32_t needed = api.NeededLength();
  j["needed_length"] = needed;
  ordered_json rows = ordered_json::array();
  if (needed != 0) {
    std::vector<uint8_t> buffer(needed);
    const uint32_t status = api.Fill(buffer);
    j["fill_status"] = status;
    if (status == 0 && buffer.size() >= rec::kTableRows) {
      const uint32_t count = rec::GetU32(buffer.data());
      j["num_entries"] = count;
      for (uint64_t i = 0; i < count; ++i) {
        const uint64_t at = rec::kTableRows + i * rec::kRowSize;
        if (at + rec::kRowSize > buffer.size()) break;
        rows.push_back(InterfaceRow(buffer.data() + at));
      }
    }
  }
  j["rows"] = std::move(rows);
  return j;
}

// A replayed drive, every field and its failing read as the snapshot has it.
ordered_json ReplayedDrive(const SnapshotDrive& d) {
  ordered_json j;
  j["letter"] = Text(d.letter);
  j["ready"] = d.ready;
  j["volume_name"] = Text(d.volume_name);
  j["type"] = d.type;
  j["file_system"] = Text(d.file_system);
  j["serial_number"] = d.serial_number;
  j["share_name"] = Text(d.share_name);
  j["root_path"] = Text(d.root_path);
  j["total_size"] = d.total_size;
  j["free_space"] = d.free_space;
  if (!d.fail.empty()) j["fail"] = d.fail;
  return j;
}

ordered_json Drives(DriveSource& source, const std::function<std::string(std::string_view)>& SystemToUtf8) {
  ordered_json list = ordered_json::array();
  if (const auto* replayed = ReplayedDrives(source)) {
    for (const SnapshotDrive& d : *replayed) list.push_back(ReplayedDrive(d));
    return list;
  }
  std::unique_ptr<DriveList> drives;
  try {
    drives = source.Open();
  } catch (const Error&) {
    // The list itself cannot be had: one drive carries that failing read.
    list.push_back({{"letter", ""}, {"ready", false}, {"fail", "Drives"}});
    return list;
  }
  for (Drive* d : drives->Drives()) {
    ordered_json j;
    std::string failed;
    // A property whose read fails is recorded as the drive's failing read.
    auto read = [&](const char* property, auto get) {
      if (!failed.empty()) return;
      try {
        get();
      } catch (const Error&) {
        failed = property;
      }
    };
    j["letter"] = "";
    bool ready = false;
    read("IsReady", [&] { ready = d->IsReady(); });
    j["ready"] = ready;
    // The letter names the drive even when an earlier read failed.
    try {
      j["letter"] = Text(SystemToUtf8(d->DriveLetter()));
    } catch (const Error&) {
      if (failed.empty()) failed = "DriveLetter";
    }
    if (ready) {
      read("VolumeName", [&] { j["volume_name"] = Text(SystemToUtf8(d->VolumeName())); });
      read("DriveType", [&] { j["type"] = d->DriveType(); });
      read("FileSystem", [&] { j["file_system"] = Text(SystemToUtf8(d->FileSystem())); });
      read("SerialNumber", [&] { j["serial_number"] = d->SerialNumber(); });
      read("ShareName", [&] { j["share_name"] = Text(SystemToUtf8(d->ShareName())); });
      read("Path", [&] { j["root_path"] = Text(SystemToUtf8(d->RootPath())); });
      read("TotalSize", [&] { j["total_size"] = d->TotalSize(); });
      read("FreeSpace", [&] { j["free_space"] = d->FreeSpace(); });
    }
    if (!failed.empty()) j["fail"] = failed;
    list.push_back(std::move(j));
  }
  // A list whose count cannot be read: its first drive carries that.
  try {
    drives->Count();
  } catch (const Error&) {
    if (!list.empty() && !list[0].contains("fail")) list[0]["fail"] = "Count";
  }
  return list;
}

ordered_json Probes(ProbeLoader& loader) {
  // A replayed library: the routines it has, and only those.
  if (const auto* replayed = ReplayedProbes(loader)) {
    if (!replayed->loadable) return nullptr;
    ordered_json j = ordered_json::object();
    for (int i = 0; i < kProbeCount; ++i) {
      if (replayed->results[i]) j[ProbeName(static_cast<Probe>(i))] = *replayed->results[i];
    }
    return j;
  }
  ProbeTable table;
  try {
    table = loader.Load();
  } catch (const Error&) {
    return nullptr;
  }
  ordered_json j;
  for (int i = 0; i < kProbeCount; ++i) j[ProbeName(static_cast<Probe>(i))] = table[i]();
  return j;
}

}  // namespace

std::string CaptureSnapshot(Platform& platform, const CaptureHost& host) {
  const auto& SystemToUtf8 = host.system_to_utf8;
  ordered_json j;
  j["hostprobe_snapshot"] = 1;
  if (const auto timestamp = FixedTimestamp(*platform.clock)) j["timestamp"] = Text(*timestamp);
  ordered_json captured = ordered_json::object();
  for (const auto& [key, value] : host.captured) captured[key] = Text(value);
  captured["time"] = Text(SystemToUtf8(platform.clock->GeneralDate()));
  j["captured"] = std::move(captured);
  if (const auto separator = FixedThousandsSeparator(*platform.clock)) {
    j["thousands_separator"] = Text(*separator);
  } else {
    j["thousands_separator"] = Text(SystemToUtf8(platform.clock->ThousandsSeparator()));
  }
  j["adapters"] = Adapters(*platform.adapters);
  j["interfaces"] = Interfaces(*platform.interfaces);
  j["drives"] = Drives(*platform.drives, SystemToUtf8);
  j["probes"] = Probes(*platform.probes);
  // Every text is UTF-8 by now (Text above).
  return j.dump(2) + "\n";
}

}  // namespace hostprobe
