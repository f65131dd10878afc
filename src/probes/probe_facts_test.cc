// The facts the probe routines of every OS decide on: CPUID answers fed
// through the substitute, adapter addresses, SMBIOS identity strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_cpuid.h"
#include "probes/cpuid.h"
#include "probes/smbios.h"
#include "probes/vmware_mac.h"

namespace hostprobe::probes {
namespace {

using testing::FakeCpu;
using testing::ScopedCpuid;

TEST(CpuidFactsTest, HostsAreNotGuests) {
  const struct {
    const char* name;
    FakeCpu cpu;
    bool present;
    const char* vendor;
    bool root;
    bool guest;
  } cases[] = {
      {"bare metal", {}, false, "", false, false},
      {"no CPUID at all", FakeCpu{}.WithoutCpuid(), false, "", false, false},
      {"Hyper-V guest", FakeCpu{}.Hypervisor("Microsoft Hv"), true, "Microsoft Hv",
       false, true},
      {"Windows with memory integrity: the root partition",
       FakeCpu{}.Hypervisor("Microsoft Hv").PartitionEbx(0x2BFF),
       true, "Microsoft Hv", true, false},
      {"root partition bit alone",
       FakeCpu{}.Hypervisor("Microsoft Hv").PartitionEbx(1),
       true, "Microsoft Hv", true, false},
      {"Hyper-V guest with other privileges but not CreatePartitions",
       FakeCpu{}.Hypervisor("Microsoft Hv").PartitionEbx(0x2BFE),
       true, "Microsoft Hv", false, true},
      {"vendor leaf too short to hold leaf 0x40000003",
       FakeCpu{}.Hypervisor("Microsoft Hv").MaxHypervisorLeaf(0x40000001).PartitionEbx(1),
       true, "Microsoft Hv", false, true},
      {"bit 0 of leaf 0x40000003 means nothing to KVM",
       FakeCpu{}.Hypervisor("KVMKVMKVM").PartitionEbx(1), true, "KVMKVMKVM",
       false, true},
      {"VMware guest", FakeCpu{}.Hypervisor("VMwareVMware"), true, "VMwareVMware",
       false, true},
      {"vendor without the hypervisor bit is not read",
       FakeCpu{}.Hypervisor("Microsoft Hv").WithoutHypervisorBit().PartitionEbx(1), false, "", false,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedCpuid cpuid(c.cpu);
    EXPECT_EQ(HypervisorPresent(), c.present);
    EXPECT_EQ(HypervisorVendor(), c.vendor);
    EXPECT_EQ(HyperVRootPartition(), c.root);
    EXPECT_EQ(HypervisorGuest(), c.guest);
  }
}

TEST(CpuidFactsTest, VendorBrandAndEmulation) {
  const struct {
    FakeCpu cpu;
    const char* vendor;
    const char* brand;
    bool emulated;
  } cases[] = {
      {FakeCpu{}.Brand("  Intel(R) Core(TM) i7  "), "GenuineIntel", "Intel(R) Core(TM) i7", false},
      {FakeCpu{}.Hypervisor("TCGTCGTCGTCG"), "GenuineIntel", "", true},
      {FakeCpu{}.Vendor("BochsCPU"), "BochsCPU", "", true},
      {FakeCpu{}.Vendor("AuthenticAMD").Brand("QEMU Virtual CPU version 2.5+"), "AuthenticAMD",
       "QEMU Virtual CPU version 2.5+", true},
      {FakeCpu{}.Hypervisor("KVMKVMKVM").Brand("AMD EPYC"), "GenuineIntel",
       "AMD EPYC", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.brand);
    ScopedCpuid cpuid(c.cpu);
    EXPECT_EQ(CpuVendor(), c.vendor);
    EXPECT_EQ(CpuBrand(), c.brand);
    EXPECT_EQ(FullyEmulatedCpu(), c.emulated);
  }
}

TEST(VmwareMacTest, GuestAddressesButNotTheHostsOwnAdapters) {
  const struct {
    std::vector<uint8_t> mac;
    bool guest;
  } cases[] = {
      {{0x00, 0x0C, 0x29, 0x12, 0x34, 0x56}, true},   // a guest's automatic address
      {{0x00, 0x50, 0x56, 0x9A, 0x01, 0x02}, true},   // vCenter / ESXi guest
      {{0x00, 0x50, 0x56, 0x3F, 0xFF, 0xFF}, true},   // a guest's manual address
      {{0x00, 0x05, 0x69, 0x00, 0x00, 0x01}, true},
      {{0x00, 0x1C, 0x14, 0x00, 0x00, 0x01}, true},
      {{0x00, 0x50, 0x56, 0xC0, 0x00, 0x01}, false},  // Workstation host, vmnet1
      {{0x00, 0x50, 0x56, 0xC0, 0x00, 0x08}, false},  // Workstation host, vmnet8
      {{0x00, 0x50, 0x56, 0xC0, 0x01, 0x08}, true},   // not the host pattern
      {{0x00, 0x50, 0x56, 0xC1, 0x00, 0x08}, true},
      {{0x02, 0x00, 0x5E, 0x10, 0x00, 0x01}, false},
      {{0x00, 0x0C, 0x29}, false},  // too short to be an Ethernet address
      {{}, false},
  };
  for (const auto& c : cases) {
    std::string hex;
    for (uint8_t byte : c.mac) {
      if (!hex.empty()) hex += ':';
      hex += "0123456789ABCDEF"[byte >> 4];
      hex += "0123456789ABCDEF"[byte & 15];
    }
    SCOPED_TRACE(hex);
    EXPECT_EQ(VmwareGuestMac(c.mac), c.guest);
  }
}

TEST(VmwareMacTest, AdapterLists) {
  using List = std::vector<std::vector<uint8_t>>;
  const std::vector<uint8_t> ethernet = {0x3C, 0x52, 0x82, 0x01, 0x02, 0x03};
  const std::vector<uint8_t> vmnet1 = {0x00, 0x50, 0x56, 0xC0, 0x00, 0x01};
  const std::vector<uint8_t> vmnet8 = {0x00, 0x50, 0x56, 0xC0, 0x00, 0x08};
  const std::vector<uint8_t> guest = {0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF};
  const std::vector<uint8_t> loopback = {};
  const struct {
    const char* name;
    List list;
    bool found;
  } cases[] = {
      {"no adapters", {}, false},
      {"physical desktop", {ethernet, loopback}, false},
      {"VMware Workstation host", {ethernet, vmnet1, vmnet8}, false},
      {"VMware guest", {guest}, true},
      {"guest adapter after host ones", {vmnet1, vmnet8, guest}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AnyVmwareGuestMac(c.list), c.found);
  }
}

TEST(VmwareMacTest, ParsesSysfsAddressText) {
  EXPECT_EQ(ParseMacText("00:50:56:c0:00:08"), (std::vector<uint8_t>{0x00, 0x50, 0x56, 0xC0, 0x00, 0x08}));
  EXPECT_EQ(ParseMacText("00:0C:29:AB:cd:Ef"), (std::vector<uint8_t>{0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF}));
  for (const char* bad : {"", "00:50:5", "00:50:56:", "00-50-56-c0-00-08", "0g:00:00:00:00:00", "00:50:56 "}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ParseMacText(bad), std::nullopt);
  }
}

// A structure: type, length, handle, then the formatted bytes, then strings.
void AddStructure(std::vector<uint8_t>* table, uint8_t type, const std::vector<uint8_t>& formatted,
                  const std::vector<std::string>& strings) {
  for (uint8_t byte : {type, static_cast<uint8_t>(4 + formatted.size()), uint8_t{0}, uint8_t{0}}) {
    table->push_back(byte);
  }
  for (uint8_t byte : formatted) table->push_back(byte);
  for (const auto& text : strings) {
    for (char c : text) table->push_back(static_cast<uint8_t>(c));
    table->push_back(0);
  }
  if (strings.empty()) table->push_back(0);
  table->push_back(0);
}

TEST(SmbiosTest, IdentityStringsAndTheVirtualMachineBit) {
  // Type 0: vendor, version, segment (2), release date, ROM size,
  // characteristics (8), extension bytes 1 and 2 (offsets 0x12, 0x13).
  std::vector<uint8_t> bios = {1, 2, 0x00, 0xE8, 3, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x10};
  std::vector<uint8_t> table;
  AddStructure(&table, 0, bios, {"SeaBIOS", "1.16", "04/01/2014"});
  AddStructure(&table, 1, {1, 2, 3, 0}, {"QEMU", "Standard PC (Q35 + ICH9, 2009)", "pc-q35-7.2"});
  AddStructure(&table, 2, {1, 2}, {"Canonical Ltd.", "LXD"});
  AddStructure(&table, 127, {}, {});

  SmbiosIdentity id = ReadSmbiosIdentity(table);
  EXPECT_EQ(id.bios_vendor, "SeaBIOS");
  EXPECT_EQ(id.sys_vendor, "QEMU");
  EXPECT_EQ(id.product_name, "Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(id.product_version, "pc-q35-7.2");
  EXPECT_EQ(id.board_vendor, "Canonical Ltd.");
  EXPECT_EQ(id.virtual_machine, std::optional<bool>(true));
  // The older reader agrees on the system strings.
  EXPECT_EQ(ReadSmbiosSystem(table).manufacturer, "QEMU");

  // A short BIOS structure says nothing about virtualization.
  bios.resize(14);
  std::vector<uint8_t> short_bios;
  AddStructure(&short_bios, 0, bios, {"American Megatrends Inc."});
  id = ReadSmbiosIdentity(short_bios);
  EXPECT_EQ(id.bios_vendor, "American Megatrends Inc.");
  EXPECT_EQ(id.virtual_machine, std::nullopt);

  // Truncated anywhere: no read past the end, texts empty or whole.
  for (std::size_t n = 0; n < table.size(); ++n) {
    const std::span<const uint8_t> cut(table.data(), n);
    const SmbiosIdentity partial = ReadSmbiosIdentity(cut);
    EXPECT_TRUE(partial.sys_vendor.empty() || partial.sys_vendor == "QEMU") << n;
  }
}

}  // namespace
}  // namespace hostprobe::probes
