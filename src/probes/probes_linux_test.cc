// The Linux probe routines over substitute CPUID answers and fake sysfs
// trees: a host is never reported as a guest.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <thread>
#include <string>
#include <utility>
#include <vector>

#include "fake_cpuid.h"
#include "probes/probes.h"
#include "probes/probes_linux.h"
#include "test_util.h"

namespace hostprobe::probes {
namespace {

using testing::FakeCpu;
using testing::ScopedCpuid;
using testing::ScratchDir;

// Files of a fake /sys: path below it, content.
using Tree = std::vector<std::pair<std::string, std::string>>;

// A machine at `at` whose /sys holds `files`.
LinuxRoot MakeTree(const std::filesystem::path& at, const Tree& files) {
  std::filesystem::create_directories(at / "sys");
  for (const auto& [path, content] : files) {
    const auto file = at / "sys" / path;
    std::filesystem::create_directories(file.parent_path());
    if (path.back() == '/') continue;  // a directory only
    testing::WriteFile(file, content);
  }
  return LinuxRoot(at.string());
}

TEST(ProbesLinuxTest, CpuidRoutinesTellTheHyperVRootPartitionFromAGuest) {
  const struct {
    const char* name;
    FakeCpu cpu;
    int16_t ldt, vpc, vmware, msw;
  } cases[] = {
      {"bare metal", {}, 0, 0, 0, 0},
      {"Windows or Linux root partition under Hyper-V",
       FakeCpu{}.Hypervisor("Microsoft Hv").PartitionEbx(0x2BFF), 0, 0, 0, 0},
      {"Hyper-V guest", FakeCpu{}.Hypervisor("Microsoft Hv").PartitionEbx(0x2E7F & ~1),
       1, 1, 0, 0},
      {"KVM guest", FakeCpu{}.Hypervisor("KVMKVMKVM"), 1, 0, 0, 0},
      {"VMware guest", FakeCpu{}.Hypervisor("VMwareVMware"), 1, 0, 1, 0},
      {"QEMU without KVM", FakeCpu{}.Hypervisor("TCGTCGTCGTCG"), 1, 0, 0, 1},
      {"Bochs, no hypervisor bit", FakeCpu{}.Vendor("BochsCPU"), 0, 0, 0, 1},
  };
  ScratchDir dir;
  const LinuxRoot empty_sys = MakeTree(dir.path() / "sys", {});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedCpuid cpuid(c.cpu);
    EXPECT_EQ(ldtCheck(), c.ldt);
    EXPECT_EQ(InsideVpcUnder(empty_sys), c.vpc);
    EXPECT_EQ(IsInsideVMWare(), c.vmware);
    EXPECT_EQ(mswCheck(), c.msw);
  }
}

TEST(ProbesLinuxTest, DmiNamesAHyperVGuestEvenOnItsRootPartitionsCpu) {
  ScratchDir dir;
  const LinuxRoot sys = MakeTree(dir.path() / "sys", {{"class/dmi/id/sys_vendor", "Microsoft Corporation\n"},
                                                        {"class/dmi/id/product_name", "Virtual Machine\n"}});
  const LinuxRoot surface = MakeTree(dir.path() / "surface", {{"class/dmi/id/sys_vendor", "Microsoft Corporation\n"},
                                                                {"class/dmi/id/product_name", "Surface Laptop 4\n"}});
  ScopedCpuid cpuid({});
  EXPECT_EQ(InsideVpcUnder(sys), 1);
  EXPECT_EQ(InsideVpcUnder(surface), 0);
}

void Sentinel(int) {}

// Where CPUID says VMware on a machine that is not, the backdoor's port
// access faults: in the child that asks it, so the answer is 0, from the main
// thread or any other, and this process keeps its own fault handlers.
TEST(ProbesLinuxTest, BackdoorFaultOutsideVmwareAnswersZeroAndLeavesTheProcessAlone) {
  if (HypervisorVendor() == "VMwareVMware" || IsInsideVMWare2()) GTEST_SKIP() << "a VMware machine answers";
  struct sigaction mine {}, old[3];
  mine.sa_handler = Sentinel;
  sigemptyset(&mine.sa_mask);
  const int signals[] = {SIGSEGV, SIGBUS, SIGILL};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(sigaction(signals[i], &mine, &old[i]), 0);
  {
    ScopedCpuid cpuid(FakeCpu{}.Hypervisor("VMwareVMware"));
    EXPECT_EQ(IsInsideVMWare(), 1);
    EXPECT_EQ(vmwareCheck(), 0);
    int16_t in_thread = -1;
    std::thread other([&] { in_thread = vmwareCheck(); });
    other.join();
    EXPECT_EQ(in_thread, 0);
  }
  for (int i = 0; i < 3; ++i) {
    struct sigaction now {};
    sigaction(signals[i], &old[i], &now);
    EXPECT_EQ(now.sa_handler, &Sentinel) << "signal " << signals[i];
  }
}

TEST(ProbesLinuxTest, VmwareHardwareCountsOnlyLinksWithADevice) {
  const struct {
    const char* name;
    Tree sys;
    int16_t found;
  } cases[] = {
      {"nothing", {}, 0},
      {"physical machine",
       {{"class/net/lo/address", "00:00:00:00:00:00\n"},
        {"class/net/eno1/address", "3c:52:82:01:02:03\n"},
        {"class/net/eno1/device/", ""},
        {"bus/pci/devices/0000:00:1f.6/vendor", "0x8086\n"}},
       0},
      {"VMware Workstation host: vmnet1 and vmnet8 have no device",
       {{"class/net/eno1/address", "3c:52:82:01:02:03\n"},
        {"class/net/eno1/device/", ""},
        {"class/net/vmnet1/address", "00:50:56:c0:00:01\n"},
        {"class/net/vmnet8/address", "00:50:56:c0:00:08\n"}},
       0},
      {"host adapter address even with a device",
       {{"class/net/eth0/address", "00:50:56:c0:00:08\n"}, {"class/net/eth0/device/", ""}},
       0},
      {"a bridge carrying a guest's address has no device",
       {{"class/net/br0/address", "00:0c:29:12:34:56\n"}},
       0},
      {"VMware guest adapter",
       {{"class/net/ens33/address", "00:0c:29:12:34:56\n"}, {"class/net/ens33/device/", ""}},
       1},
      {"ESXi guest adapter",
       {{"class/net/ens192/address", "00:50:56:9a:01:02\n"}, {"class/net/ens192/device/", ""}},
       1},
      {"VMware PCI device, no network",
       {{"bus/pci/devices/0000:00:0f.0/vendor", "0x15ad\n"}},
       1},
      {"unreadable address",
       {{"class/net/ens33/address", "\n"}, {"class/net/ens33/device/", ""}},
       0},
  };
  ScratchDir dir;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const LinuxRoot sys = MakeTree(dir.path() / std::to_string(n++), c.sys);
    EXPECT_EQ(VmwareHardwareUnder(sys), c.found);
  }
}

}  // namespace
}  // namespace hostprobe::probes
