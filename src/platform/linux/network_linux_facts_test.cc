// The facts behind the live network sources: DHCP leases and udev's database
// over fake roots, and the kernel's facts in a private network namespace whose
// sysfs is still the host's.
#include "platform/linux/network_linux_facts.h"
#include "platform/linux/dhcp_leases_linux.h"
#include "platform/linux/udev_db_linux.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

#include "test_util.h"

namespace hostprobe::linux_net {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kNow = 1796000000;  // 2026-11-30 00:53:20 UTC
constexpr const char* kUuid1 = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
constexpr const char* kUuid2 = "11111111-2222-4333-8444-555555555555";

LinkFacts Link(const std::string& name, int32_t index, std::vector<std::string> addresses) {
  LinkFacts link;
  link.name = name;
  link.index = index;
  for (const std::string& a : addresses) link.ipv4.push_back({a, "255.255.255.0"});
  return link;
}

struct LeaseFile {
  std::string path;  // under the fake root
  std::string text;
  int64_t mtime;
};

std::string NetworkdLease(const std::string& address, const std::string& server) {
  return "# This is private data. Do not parse.\nADDRESS=" + address + "\nNETMASK=255.255.255.0\nROUTER=" + server +
         "\nSERVER_ADDRESS=" + server + "\nLIFETIME=3600\n";
}

// A dhclient lease block; `expire` as dhclient writes it ("4 2019/01/03
// 10:00:00", "never", "epoch N"), or empty for none.
std::string DhclientBlock(const std::string& interface, const std::string& address, const std::string& server,
                          const std::string& expire) {
  std::string block = "lease {\n";
  if (!interface.empty()) block += "  interface \"" + interface + "\";\n";
  block += "  fixed-address " + address + ";\n  option subnet-mask 255.255.255.0;\n";
  block += "  option dhcp-lease-time 86400;\n  option dhcp-server-identifier " + server + ";\n";
  if (!expire.empty()) block += "  expire " + expire + ";\n";
  return block + "}\n";
}

// dhcpcd's lease file: a DHCPACK of `address` from `server` for `seconds`
// (none when negative), with NetBIOS name servers `wins`.
std::string DhcpcdAck(const std::string& address, const std::string& server, int64_t seconds,
                      const std::vector<std::string>& wins = {}) {
  auto four = [](const std::string& dotted) {
    std::string out;
    std::istringstream in(dotted);
    for (std::string part; std::getline(in, part, '.');) out += static_cast<char>(std::stoi(part));
    return out;
  };
  std::string m(236, '\0');
  m[0] = 2;
  m.replace(16, 4, four(address));
  m += "\x63\x82\x53\x63";
  m += std::string("\x35\x01\x05", 3);
  m += std::string("\x36\x04", 2) + four(server);
  if (seconds >= 0) {
    m += std::string("\x33\x04", 2);
    for (int shift = 24; shift >= 0; shift -= 8) m += static_cast<char>((seconds >> shift) & 0xFF);
  }
  if (!wins.empty()) {
    m += '\x2c';
    m += static_cast<char>(4 * wins.size());
    for (const std::string& w : wins) m += four(w);
  }
  return m + '\xff';
}

struct LeaseCase {
  std::string what;
  std::vector<LeaseFile> files;
  LinkFacts link;
  std::optional<DhcpLease> expected;
};

TEST(LeaseFilesTest, OnlyLeasesTheLinkHoldsNow) {
  const std::string nm = "/var/lib/NetworkManager/";
  const std::string nm_run = "/run/NetworkManager/";
  const std::string networkd = "/run/systemd/netif/leases/";
  const LinkFacts eth0 = Link("eth0", 2, {"192.0.2.10"});
  const LinkFacts lan = Link("lan", 5, {"198.51.100.7", "198.51.100.8"});
  const std::string future = "epoch " + std::to_string(kNow + 600);
  const std::string past = "epoch " + std::to_string(kNow - 1);
  const std::vector<LeaseCase> cases = {
      // systemd-networkd, by index: only a lease of an address the link has.
      {"networkd current", {{networkd + "2", NetworkdLease("192.0.2.10", "192.0.2.1"), 1000}}, eth0,
       DhcpLease{"192.0.2.1", 1000, 4600}},
      {"networkd lease of the host's link of the same index",
       {{networkd + "2", NetworkdLease("10.0.0.5", "10.0.0.1"), 1000}}, eth0, std::nullopt},
      {"networkd lease of an address gone", {{networkd + "2", NetworkdLease("192.0.2.10", "192.0.2.1"), 1000}},
       Link("eth0", 2, {}), std::nullopt},
      {"networkd lease without an address", {{networkd + "2", "SERVER_ADDRESS=192.0.2.1\nLIFETIME=60\n", 1000}},
       eth0, std::nullopt},
      // NetworkManager: exact names, the newest current lease first.
      {"NetworkManager internal",
       {{nm + "internal-" + kUuid1 + "-lan.lease", NetworkdLease("198.51.100.8", "198.51.100.1"), 2000}}, lan,
       DhcpLease{"198.51.100.1", 2000, 5600}},
      {"NetworkManager file of br-lan is not lan's",
       {{nm + "internal-" + kUuid1 + "-br-lan.lease", NetworkdLease("198.51.100.7", "198.51.100.1"), 2000}}, lan,
       std::nullopt},
      {"NetworkManager file of br-lan is br-lan's",
       {{nm + "internal-" + kUuid1 + "-br-lan.lease", NetworkdLease("198.51.100.7", "198.51.100.1"), 2000}},
       Link("br-lan", 9, {"198.51.100.7"}), DhcpLease{"198.51.100.1", 2000, 5600}},
      {"NetworkManager IPv6 and malformed names",
       {{nm + "internal6-" + kUuid1 + "-lan.lease", NetworkdLease("198.51.100.7", "198.51.100.1"), 2000},
        {nm + "internal-not-a-uuid-lan.lease", NetworkdLease("198.51.100.7", "198.51.100.1"), 2000},
        {nm + "internal-" + kUuid1 + "-lan.lease~", NetworkdLease("198.51.100.7", "198.51.100.1"), 2000}},
       lan, std::nullopt},
      {"NetworkManager newest first",
       {{nm + "internal-" + kUuid1 + "-lan.lease", NetworkdLease("198.51.100.7", "198.51.100.1"), 2000},
        {nm_run + "dhclient-" + kUuid2 + "-lan.lease", DhclientBlock("lan", "198.51.100.8", "198.51.100.2", future),
         3000}},
       lan, DhcpLease{"198.51.100.2", kNow + 600 - 86400, kNow + 600}},
      {"NetworkManager newest first, either way",
       {{nm + "internal-" + kUuid1 + "-lan.lease", NetworkdLease("198.51.100.7", "198.51.100.1"), 4000},
        {nm_run + "dhclient-" + kUuid2 + "-lan.lease", DhclientBlock("lan", "198.51.100.8", "198.51.100.2", future),
         3000}},
       lan, DhcpLease{"198.51.100.1", 4000, 7600}},
      {"NetworkManager newest stale, older current",
       {{nm + "internal-" + kUuid1 + "-lan.lease", NetworkdLease("198.51.100.99", "198.51.100.9"), 4000},
        {nm + "internal-" + kUuid2 + "-lan.lease", NetworkdLease("198.51.100.7", "198.51.100.1"), 3000}},
       lan, DhcpLease{"198.51.100.1", 3000, 6600}},
      // dhclient: the link's address, not expired where the lease says.
      {"dhclient lease kept after switching to a static address",
       {{"/var/lib/dhcp/dhclient.eth0.leases", DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", "5 2019/01/04 01:00:00"),
         1500}},
       eth0, std::nullopt},
      {"dhclient expired at this second", {{"/var/lib/dhcp/dhclient.eth0.leases",
                                            DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", past), 1500}},
       eth0, std::nullopt},
      {"dhclient current, the last block of the link",
       {{"/var/lib/dhcp/dhclient.eth0.leases",
         DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", "5 2019/01/04 01:00:00") +
             DhclientBlock("eth0", "192.0.2.10", "192.0.2.2", "1 2026/11/30 09:00:00") +
             DhclientBlock("eth0", "192.0.2.77", "192.0.2.3", future),
         1500}},
       eth0, DhcpLease{"192.0.2.2", 1796029200 - 86400, 1796029200}},
      {"dhclient lease that never expires",
       {{"/var/lib/dhclient/dhclient-eth0.leases", DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", "never"), 1500}},
       eth0, DhcpLease{"192.0.2.1", 1500, 0}},
      {"dhclient shared file: only the link's own blocks",
       {{"/var/lib/dhcp/dhclient.leases",
         DhclientBlock("eth1", "192.0.2.10", "192.0.2.9", future) + DhclientBlock("", "192.0.2.10", "192.0.2.8", future),
         1500}},
       eth0, std::nullopt},
      {"dhclient shared file, the link's block",
       {{"/var/lib/dhcp/dhclient.leases", DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", future), 1500}}, eth0,
       DhcpLease{"192.0.2.1", kNow + 600 - 86400, kNow + 600}},
      {"dhclient file of another link", {{"/var/lib/dhcp/dhclient.eth0.leases",
                                          DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", future), 1500}},
       Link("eth00", 3, {"192.0.2.10"}), std::nullopt},
      {"dhclient WINS servers",
       {{"/var/lib/dhcp/dhclient.eth0.leases",
         [&] {
           std::string block = DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", future);
           return block.insert(block.find("  expire"), "  option netbios-name-servers 10.0.0.9,10.0.0.10,10.0.0.11;\n");
         }(),
         1500}},
       eth0, DhcpLease{"192.0.2.1", kNow + 600 - 86400, kNow + 600, {"10.0.0.9", "10.0.0.10", "10.0.0.11"}}},
      // A file of about 2 MB, its current lease last, is read whole.
      {"dhclient file of 2 MB",
       {{"/var/lib/dhcp/dhclient.eth0.leases",
         [&] {
           std::string text;
           while (text.size() < (2u << 20)) text += DhclientBlock("eth0", "192.0.2.77", "192.0.2.3", past);
           return text + DhclientBlock("eth0", "192.0.2.10", "192.0.2.1", future);
         }(),
         1500}},
       eth0, DhcpLease{"192.0.2.1", kNow + 600 - 86400, kNow + 600}},
      // dhcpcd: the DHCP message, its time the file's.
      {"dhcpcd current, WINS",
       {{"/var/lib/dhcpcd/eth0.lease", DhcpcdAck("192.0.2.10", "192.0.2.1", 3600, {"10.0.0.9", "10.0.0.10"}),
         kNow - 100}},
       eth0, DhcpLease{"192.0.2.1", kNow - 100, kNow + 3500, {"10.0.0.9", "10.0.0.10"}}},
      {"dhcpcd before 9", {{"/var/lib/dhcpcd5/dhcpcd-eth0.lease", DhcpcdAck("192.0.2.10", "192.0.2.1", 3600), kNow - 100}},
       eth0, DhcpLease{"192.0.2.1", kNow - 100, kNow + 3500}},
      {"dhcpcd expired", {{"/var/lib/dhcpcd/eth0.lease", DhcpcdAck("192.0.2.10", "192.0.2.1", 3600), kNow - 3600}},
       eth0, std::nullopt},
      {"dhcpcd infinite lease", {{"/var/lib/dhcpcd/eth0.lease", DhcpcdAck("192.0.2.10", "192.0.2.1", 0xFFFFFFFFll), 1000}},
       eth0, DhcpLease{"192.0.2.1", 1000, 1000 + 0xFFFFFFFFll}},
      {"dhcpcd without a lease time", {{"/var/lib/dhcpcd/eth0.lease", DhcpcdAck("192.0.2.10", "192.0.2.1", -1), 1000}},
       eth0, DhcpLease{"192.0.2.1", 1000, 0}},
      {"dhcpcd lease of another address", {{"/var/lib/dhcpcd/eth0.lease", DhcpcdAck("192.0.2.11", "192.0.2.1", 3600), kNow}},
       eth0, std::nullopt},
      {"dhcpcd DHCPv6 and torn files",
       {{"/var/lib/dhcpcd/eth0.lease6", DhcpcdAck("192.0.2.10", "192.0.2.1", 3600), kNow},
        {"/var/lib/dhcpcd/dhcpcd-eth0.lease", DhcpcdAck("192.0.2.10", "192.0.2.1", 3600).substr(0, 244), kNow}},
       eth0, std::nullopt},
  };
  for (const LeaseCase& c : cases) {
    SCOPED_TRACE(c.what);
    testing::ScratchDir root;
    for (const LeaseFile& f : c.files) {
      const fs::path path = root.path() / f.path.substr(1);
      fs::create_directories(path.parent_path());
      testing::WriteFile(path, f.text);
      const timespec times[2] = {{f.mtime, 0}, {f.mtime, 0}};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    const LinuxRoot machine(root.path().string());
    const std::optional<DhcpLease> got = LeaseFiles(machine).Current(c.link, kNow);
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (got) {
      EXPECT_EQ(got->server, c.expected->server);
      EXPECT_EQ(got->obtained, c.expected->obtained);
      EXPECT_EQ(got->expires, c.expected->expires);
      EXPECT_EQ(got->wins, c.expected->wins);
    }
  }
}

TEST(LeaseFilesTest, NoLeaseDirectoriesNoLease) {
  testing::ScratchDir root;
  const LinuxRoot machine(root.path().string());
  EXPECT_FALSE(LeaseFiles(machine).Current(Link("eth0", 2, {"192.0.2.10"}), kNow).has_value());
}

TEST(UdevDatabaseTest, OnlyEntriesOfTheSameHardware) {
  testing::ScratchDir root;
  fs::create_directories(root.path() / "run/udev/data");
  testing::WriteFile(root.path() / "run/udev/data/n2",
                     "I:1234\nE:ID_NET_NAMING_SCHEME=v252\nE:ID_PATH=pci-0000:00:03.0\nE:ID_NET_DRIVER=virtio_net\n"
                     "E:ID_VENDOR_FROM_DATABASE=Red Hat, Inc.\nE:ID_MODEL_FROM_DATABASE=Virtio network device\n");
  testing::WriteFile(root.path() / "run/udev/data/n3",
                     "E:ID_VENDOR_FROM_DATABASE=Intel Corporation\nE:ID_MODEL_FROM_DATABASE=82540EM\n");
  testing::WriteFile(root.path() / "run/udev/data/n4", "E:ID_PATH=pci-0000:00:04.0\nE:ID_MODEL_FROM_DATABASE=X\n");
  const LinuxRoot machine(root.path().string());
  const UdevDatabase udev(machine);
  struct Case {
    int32_t index;
    std::string driver, bus_info, expected;
  };
  const std::vector<Case> cases = {
      {2, "virtio_net", "0000:00:03.0", "Red Hat, Inc. Virtio network device"},
      {2, "veth", "", ""},                          // a namespace's veth at the host link's index
      {2, "virtio_net", "0000:00:05.0", ""},        // other hardware of the same driver
      {2, "e1000", "0000:00:03.0", ""},             // udev's driver differs
      {2, "virtio_net", "0:00:03.0", ""},           // only part of the bus address
      {2, "bridge", "N/A", ""},
      {3, "e1000", "0000:00:02.0", ""},             // an entry that names no hardware
      {4, "e1000", "0000:00:04.0", "X"},            // no driver named: the bus address decides
      {5, "e1000", "0000:00:05.0", ""},             // no entry
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.index) + " " + c.driver + " " + c.bus_info);
    EXPECT_EQ(udev.Describe(c.index, c.driver, c.bus_info), c.expected);
  }
  const LinuxRoot none((root.path() / "none").string());
  EXPECT_EQ(UdevDatabase(none).Describe(2, "virtio_net", "0000:00:03.0"), "");
}

// Runs `setup` (shell commands) and then `gather` in a child process inside a
// new network namespace; its output, or nullopt where no namespace can be made.
std::optional<std::string> InNetworkNamespace(const std::string& setup, const std::function<std::string()>& gather) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return std::nullopt;
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    if (unshare(CLONE_NEWNET) != 0) _exit(77);
    if (std::system(("exec >/dev/null 2>&1; set -e; " + setup).c_str()) != 0) _exit(77);
    std::string out;
    try {
      out = gather();
    } catch (const std::exception& e) {
      out = std::string("error: ") + e.what();
    }
    for (std::size_t at = 0; at < out.size();) {
      const ssize_t n = write(pipe_fds[1], out.data() + at, out.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string out;
  char chunk[4096];
  for (ssize_t n; (n = read(pipe_fds[0], chunk, sizeof(chunk))) > 0;) out.append(chunk, static_cast<std::size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return out;
}

std::string Describe(const std::vector<LinkFacts>& links) {
  std::ostringstream out;
  for (const LinkFacts& l : links) {
    out << l.name << " descr=" << l.description << " speed=" << l.speed_mbps << " type=" << LinkType(l)
        << " gateway=" << l.gateway << " dhcp=" << l.lease.has_value() << " ipv4=";
    for (const Ipv4& a : l.ipv4) out << a.address << "/" << a.mask << ",";
    out << "\n";
  }
  return out.str();
}

// A veth named eth0 in a namespace whose sysfs is still the host's: its own
// driver and speed, not those of the host's link of that name or index; and
// default routes through nexthop objects and a nexthop group, with the kernel
// not repeating their gateways in the routes.
TEST(NetworkNamespaceTest, FactsOfThisNamespaceAndNexthopGateways) {
  const std::string setup =
      "ip link set lo up; ip link add eth0 type veth peer name eth1;"
      "ip link set eth0 up; ip link set eth1 up;"
      "ip address add 192.0.2.10/24 dev eth0; ip address add 198.51.100.10/24 dev eth1;"
      "echo 0 > /proc/sys/net/ipv4/nexthop_compat_mode;"
      "ip nexthop add id 9 via 192.0.2.1 dev eth0; ip nexthop add id 10 via 198.51.100.1 dev eth1;"
      "ip nexthop add id 11 via 192.0.2.254 dev eth0; ip nexthop add id 20 group 9/10;"
      "ip route add default nhid 20 metric 50; ip route add default nhid 11 metric 10";
  // The sizing calls' links: indexes, loopback by its type.
  auto indexes = [](const std::vector<LinkFacts>& links) {
    std::string out;
    for (const LinkFacts& l : links) out += std::to_string(l.index) + (LinkType(l) == 24 ? "lo " : " ");
    return out;
  };
  const auto got = InNetworkNamespace(setup, [&] {
    const std::vector<LinkFacts> adapters = ReadLinks(kAdapterFilling);
    std::string out = Describe(adapters) + "--\n" + Describe(ReadLinks(kTableFilling));
    for (const Gather& sizing : {kAdapterSizing, kTableSizing}) {
      out += indexes(ReadLinks(sizing)) == indexes(adapters) ? "same links\n" : "other links\n";
    }
    return out;
  });
  if (!got) GTEST_SKIP() << "no private network namespace with veth and nexthop objects here";
  EXPECT_EQ(*got,
            "lo descr=lo speed=0 type=24 gateway= dhcp=0 ipv4=127.0.0.1/255.0.0.0,\n"
            "eth1 descr=veth speed=0 type=6 gateway=198.51.100.1 dhcp=0 ipv4=198.51.100.10/255.255.255.0,\n"
            "eth0 descr=veth speed=0 type=6 gateway=192.0.2.254 dhcp=0 ipv4=192.0.2.10/255.255.255.0,\n"
            "--\n"
            "lo descr=lo speed=0 type=24 gateway= dhcp=0 ipv4=\n"
            "eth1 descr=veth speed=10000 type=6 gateway= dhcp=0 ipv4=\n"
            "eth0 descr=veth speed=10000 type=6 gateway= dhcp=0 ipv4=\n"
            "same links\nsame links\n");
}

}  // namespace
}  // namespace hostprobe::linux_net
