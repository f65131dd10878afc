#include "report/report.h"

#include <algorithm>
#include <memory>
#include <span>

#include "network/adapter_walk.h"
#include "network/mac_text.h"
#include "platform/error.h"
#include "platform/records.h"
#include "vmdetect/probe_library.h"
#include "vmdetect/reference_check.h"
#include "vmdetect/vm_report.h"

namespace hostprobe {
namespace {

namespace rec = records;

std::string CutText(const std::string& field) { return field.substr(0, field.find('\0')); }

std::string CutText(const uint8_t* p, std::size_t width) {
  return CutText(std::string(reinterpret_cast<const char*>(p), width));
}

std::array<uint8_t, 6> SixBytes(const uint8_t* p) {
  std::array<uint8_t, 6> mac{};
  for (std::size_t i = 0; i < mac.size(); ++i) mac[i] = p[i];
  return mac;
}

ReportAdapters GatherAdapters(AdapterApi& api) {
  ReportAdapters out;
  try {
    // The walk asks the sizing call itself; this one is for the figure.
    out.needed_length = api.NeededLength();
    const WalkResult result = WalkAdapters(api, [&](int16_t index, const AdapterRecord& r) {
      ReportAdapter a;
      a.index = index;
      a.description = CutText(r.description);
      a.address_length = static_cast<uint32_t>(r.address_length);
      a.mac = SixBytes(r.address.data());
      a.adapter_name = CutText(r.adapter_name);
      a.type = static_cast<uint32_t>(r.type);
      a.dhcp_enabled = static_cast<uint32_t>(r.dhcp_enabled);
      a.dhcp_server = CutText(r.dhcp_server.ip_address);
      a.ip_address = CutText(r.ip_address_list.ip_address);
      a.ip_mask = CutText(r.ip_address_list.ip_mask);
      a.more_addresses = r.ip_address_list.next != 0;
      a.gateway = CutText(r.gateway_list.ip_address);
      a.have_wins = static_cast<uint32_t>(r.have_wins);
      a.primary_wins_server = CutText(r.primary_wins_server.ip_address);
      a.secondary_wins_server = CutText(r.secondary_wins_server.ip_address);
      out.list.push_back(std::move(a));
      return true;
    });
    switch (result.outcome) {
      case WalkOutcome::kEmpty: out.status = "empty"; break;
      case WalkOutcome::kFailed:
        out.status = "failed";
        out.count = result.count;
        out.fill_status = result.status;
        break;
      case WalkOutcome::kWalked:
        out.status = "listed";
        out.count = result.count;
        out.fill_status = 0;
        break;
    }
  } catch (const Error& e) {
    out.status = "error";
    out.list.clear();
    out.error = SectionError{e.what()};
  }
  return out;
}

ReportInterfaces GatherInterfaces(InterfaceTableApi& api) {
  ReportInterfaces out;
  out.needed_length = api.NeededLength();
  if (out.needed_length == 0) {
    out.status = "empty";
    return out;
  }
  std::vector<uint8_t> buffer(out.needed_length);
  out.fill_status = api.Fill(buffer);
  if (*out.fill_status != 0) {
    out.status = "failed";
    return out;
  }
  if (buffer.size() < rec::kTableRows) {
    out.status = "error";
    out.error = SectionError{Error(ErrorKind::kIndexOutOfRange,
                                   "interface table buffer of " + std::to_string(buffer.size()) +
                                       " bytes is shorter than its 4-byte count")
                                 .what()};
    return out;
  }
  const uint32_t count = rec::GetU32(buffer.data() + rec::kTableCount);
  out.num_entries = count;
  out.status = "listed";
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t start = rec::kTableRows + i * rec::kRowSize;
    if (start + rec::kRowSize > buffer.size()) {
      out.status = "error";
      out.error = SectionError{Error(ErrorKind::kIndexOutOfRange,
                                     "interface row " + std::to_string(i + 1) + " at buffer index " +
                                         std::to_string(start) + " does not lie wholly inside the " +
                                         std::to_string(buffer.size()) + "-byte buffer")
                                   .what()};
      break;
    }
    const uint8_t* row = buffer.data() + start;
    ReportInterface r;
    r.index = static_cast<int32_t>(i + 1);
    // The log shows dwDescrLen - 1 bytes; the report cuts that at its NUL.
    const uint32_t descr_len = rec::GetU32(row + rec::kRowDescrLen);
    const std::size_t width =
        descr_len == 0 ? 0 : std::min<std::size_t>(descr_len - 1, rec::kRowDescrWidth);
    r.description = CutText(row + rec::kRowDescr, width);
    r.type = rec::GetU32(row + rec::kRowType);
    r.admin_status = rec::GetU32(row + rec::kRowAdminStatus);
    r.oper_status = rec::GetU32(row + rec::kRowOperStatus);
    r.speed = rec::GetU32(row + rec::kRowSpeed);
    r.mtu = rec::GetU32(row + rec::kRowMtu);
    r.phys_addr_len = rec::GetU32(row + rec::kRowPhysAddrLen);
    r.mac = SixBytes(row + rec::kRowPhysAddr);
    out.rows.push_back(std::move(r));
  }
  return out;
}

template <typename T, typename Get>
void Read(DriveValue<T>& slot, Get get) {
  try {
    slot.value = get();
  } catch (const Error& e) {
    slot.error = e.what();
  }
}

ReportDrives GatherDrives(DriveSource& source) {
  ReportDrives out;
  try {
    const std::unique_ptr<DriveList> list = source.Open();
    for (Drive* d : list->Drives()) {
      ReportDrive r;
      Read(r.letter, [&] { return d->DriveLetter(); });
      Read(r.ready, [&] { return d->IsReady(); });
      if (r.ready.value.value_or(false)) {
        Read(r.volume_name, [&] { return d->VolumeName(); });
        Read(r.type, [&] { return d->DriveType(); });
        Read(r.file_system, [&] { return d->FileSystem(); });
        Read(r.serial_number, [&] { return static_cast<uint32_t>(d->SerialNumber()); });
        Read(r.share_name, [&] { return d->ShareName(); });
        Read(r.root_path, [&] { return d->RootPath(); });
        Read(r.total_size, [&] { return d->TotalSize(); });
        Read(r.free_space, [&] { return d->FreeSpace(); });
        ReportDriveTotals& t = out.totals;
        if (!r.type.value) {
          t.complete = false;
        } else if (*r.type.value >= 0 && *r.type.value < kDriveTypeCount) {
          ++t.per_type[*r.type.value];
        }
        if (r.total_size.value && r.free_space.value) {
          t.total_bytes += *r.total_size.value;
          t.free_bytes += *r.free_space.value;
          t.used_bytes += *r.total_size.value - *r.free_space.value;
        } else {
          t.complete = false;
        }
      } else if (!r.ready.value) {
        out.totals.complete = false;
      }
      out.list.push_back(std::move(r));
    }
    out.count = list->Count();
    out.status = "listed";
  } catch (const Error& e) {
    out.status = "error";
    out.error = SectionError{e.what()};
  }
  return out;
}

constexpr Probe kProbeOrder[] = {Probe::kIsInsideVPC,  Probe::kIsInsideVMWare, Probe::kIsInsideVMWare2,
                                 Probe::kIsInsideVMWare3, Probe::kLdtCheck,    Probe::kMswCheck,
                                 Probe::kVmwareCheck};

ReportProbes GatherProbes(ProbeLoader& loader) {
  ReportProbes out;
  for (Probe p : kProbeOrder) out.list.push_back(ReportProbe{p, std::nullopt});
  try {
    ProbeLibrary library(loader);
    for (ReportProbe& p : out.list) p.value = library.Call(p.probe);
    out.status = "loaded";
  } catch (const Error& e) {
    out.status = "error";
    out.error = SectionError{e.what()};
  }
  return out;
}

ReportClassification GatherClassification(Platform& platform) {
  ReportClassification out;
  try {
    ProbeLibrary library(*platform.probes);
    const std::string text = GetVmReport(library);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find("\r\n", at);
      out.lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
      if (end == std::string::npos) break;
      at = end + 2;
    }
    out.virtual_machine = IsVirtualMachine(library);
    out.reference_adapter_present = IsReferenceAdapterPresent(*platform.adapters);
    out.reference_vm = *out.reference_adapter_present && *out.virtual_machine;
    out.status = "ok";
  } catch (const Error& e) {
    out.status = "error";
    out.error = SectionError{e.what()};
  }
  return out;
}

}  // namespace

std::string MacText(const std::array<uint8_t, 6>& mac) {
  std::array<uint8_t, 8> eight{};
  std::copy(mac.begin(), mac.end(), eight.begin());
  return MacToText(eight);
}

std::vector<std::pair<std::string, std::string>> ReportDrive::errors() const {
  std::vector<std::pair<std::string, std::string>> out;
  auto add = [&](const char* name, const std::string& error) {
    if (!error.empty()) out.emplace_back(name, error);
  };
  add("DriveLetter", letter.error);
  add("IsReady", ready.error);
  add("VolumeName", volume_name.error);
  add("DriveType", type.error);
  add("FileSystem", file_system.error);
  add("SerialNumber", serial_number.error);
  add("ShareName", share_name.error);
  add("Path", root_path.error);
  add("TotalSize", total_size.error);
  add("FreeSpace", free_space.error);
  return out;
}

ReportFacts GatherReport(Platform& platform, const ReportContext& context) {
  ReportFacts f;
  f.replayed = context.replayed;
  f.redacted = context.redacted;
  f.host = context.host;
  f.virt = context.virt;
  f.timestamp = platform.clock->GeneralDate();
  f.thousands_separator = platform.clock->ThousandsSeparator();
  f.adapters = GatherAdapters(*platform.adapters);
  f.interfaces = GatherInterfaces(*platform.interfaces);
  f.drives = GatherDrives(*platform.drives);
  f.probes = GatherProbes(*platform.probes);
  f.classification = GatherClassification(platform);
  return f;
}

int ProbeTest(Probe probe) {
  switch (probe) {
    case Probe::kIsInsideVPC: return 4;
    case Probe::kIsInsideVMWare: return 5;
    case Probe::kIsInsideVMWare2: return 6;
    case Probe::kIsInsideVMWare3: return 7;
    default: return 0;
  }
}

const char* ProbeLooksAt(Probe probe) {
  switch (probe) {
    case Probe::kIsInsideVPC:
      return "a Microsoft hypervisor's guest (Virtual PC, Hyper-V): CPUID vendor, firmware names";
    case Probe::kIsInsideVMWare: return "CPUID hypervisor vendor \"VMwareVMware\"";
    case Probe::kIsInsideVMWare2: return "firmware (DMI/SMBIOS) manufacturer or product names VMware";
    case Probe::kIsInsideVMWare3:
      return "VMware hardware: a PCI device of vendor 0x15AD or a VMware guest's MAC prefix";
    case Probe::kLdtCheck: return "a hypervisor announces itself (CPUID), not on Hyper-V's root partition";
    case Probe::kMswCheck: return "a fully emulated CPU (TCG, Bochs)";
    case Probe::kVmwareCheck: return "the VMware backdoor's version number (0: none)";
  }
  return "";
}

const char* InterfaceTypeName(uint32_t type) {
  switch (type) {
    case 1: return "other";
    case 6: return "ethernet";
    case 9: return "token ring";
    case 15: return "FDDI";
    case 23: return "PPP";
    case 24: return "loopback";
    case 28: return "SLIP";
    case 37: return "ATM";
    case 71: return "wireless";
    case 131: return "tunnel";
    case 144: return "IEEE 1394";
    default: return "";
  }
}

const char* AdminStatusName(uint32_t status) {
  switch (status) {
    case 1: return "up";
    case 2: return "down";
    case 3: return "testing";
    default: return "";
  }
}

const char* DriveTypeName(int32_t type) {
  static constexpr const char* kNames[kDriveTypeCount] = {"unknown", "removable", "fixed",
                                                          "network", "CD-ROM",    "RAM disk"};
  return type >= 0 && type < kDriveTypeCount ? kNames[type] : "";
}

const char* DriveTypeKey(int type) {
  static constexpr const char* kKeys[kDriveTypeCount] = {"unknown", "removable", "fixed",
                                                         "network", "cdrom",     "ramdisk"};
  return type >= 0 && type < kDriveTypeCount ? kKeys[type] : "";
}

}  // namespace hostprobe
