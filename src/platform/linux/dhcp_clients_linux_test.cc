#include "platform/linux/dhcp_clients_linux.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "test_util.h"

namespace hostprobe::linux_net {
namespace {

namespace fs = std::filesystem;

TEST(DhcpClientsTest, TellsTheLinksOfAClientsCommandLine) {
  using Names = std::set<std::string>;
  const std::pair<std::vector<std::string>, Names> cases[] = {
      {{"/sbin/dhclient", "-4", "-v", "-pf", "/run/dhclient.eth0.pid", "-lf", "/var/lib/dhcp/dhclient.eth0.leases",
        "-I", "-df", "/var/lib/dhcp/dhclient6.eth0.leases", "eth0"},
       {"eth0"}},
      {{"dhclient", "-sf", "/bin/true", "eth1", "wlan0"}, {"eth1", "wlan0"}},
      {{"dhclient", "-6", "eth0"}, {}},
      {{"dhcpcd: eth0 [ip4]"}, {"eth0"}},
      {{"dhcpcd: [BPF ARP] eth0 10.77.0.55"}, {"eth0"}},
      {{"dhcpcd: [privileged proxy] eth0 [ip4]"}, {"eth0"}},
      {{"dhcpcd: eth0 [ip6]"}, {}},
      {{"dhcpcd: [manager] [ip4] [ip6]"}, {"*"}},
      {{"/usr/sbin/dhcpcd", "-q", "-b"}, {"*"}},
      {{"dhcpcd", "-6", "eth0"}, {}},
      {{"dhcpcd", "-4", "enp3s0"}, {"enp3s0"}},
      {{"udhcpc", "-i", "eth2", "-f"}, {"eth2"}},
      {{"udhcpc", "-ieth3"}, {"eth3"}},
      {{"/sbin/udhcpc", "--interface=eth4", "-q"}, {"eth4"}},
      {{"udhcpc"}, {"eth0"}},
      {{"dnsmasq", "--interface=eth0"}, {}},
      {{"bash", "-c", "dhclient eth0"}, {}},
      {{}, {}},
      {{""}, {}},
  };
  for (const auto& [argv, names] : cases) {
    std::string shown;
    for (const auto& a : argv) shown += a + " ";
    EXPECT_EQ(ClientLinks(argv), names) << shown;
  }
}

LinkFacts Link(const std::string& name, int32_t index) {
  LinkFacts link;
  link.name = name;
  link.index = index;
  return link;
}

void Put(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  testing::WriteFile(path, text);
}

TEST(DhcpClientsTest, KnowsTheLinksAClientOrManagerConfiguresForDhcp) {
  testing::ScratchDir dir;
  const fs::path root = dir.path();
  Put(root / "proc/100/cmdline", std::string("dhclient\0-v\0eth0\0", 17));
  Put(root / "proc/101/cmdline", "dhcpcd: [manager] [ip4]");
  Put(root / "proc/102/cmdline", std::string("udhcpc\0-i\0usb0\0", 15));
  Put(root / "proc/self/cmdline", std::string("dhclient\0self0\0", 15));  // not a process number
  Put(root / "proc/103/cmdline", std::string("sshd\0eth9\0", 10));
  // networkd: link 5 by a .network file with DHCP (a drop-in turns it on
  // for link 6); link 7 static; link 8 unmanaged.
  Put(root / "run/systemd/netif/links/5",
      "ADMIN_STATE=configuring\nOPER_STATE=no-carrier\nNETWORK_FILE=/etc/systemd/network/10-wired.network\n");
  Put(root / "etc/systemd/network/10-wired.network", "[Match]\nName=en*\n\n[Network]\nDHCP=yes\n");
  Put(root / "run/systemd/netif/links/6",
      "ADMIN_STATE=configured\nNETWORK_FILE=/etc/systemd/network/20-static.network\n"
      "NETWORK_FILE_DROPINS=\"/etc/systemd/network/20-static.network.d/dhcp.conf\"\n");
  Put(root / "etc/systemd/network/20-static.network", "[Network]\nDHCP=no\nAddress=10.0.0.2/24\n");
  Put(root / "etc/systemd/network/20-static.network.d/dhcp.conf", "[Network]\nDHCP=ipv4\n");
  Put(root / "run/systemd/netif/links/7", "ADMIN_STATE=configured\nNETWORK_FILE=/etc/systemd/network/30.network\n");
  Put(root / "etc/systemd/network/30.network", "[Network]\nAddress=10.0.0.3/24\n# DHCP=yes\n");
  Put(root / "run/systemd/netif/links/8", "ADMIN_STATE=unmanaged\nNETWORK_FILE=/etc/systemd/network/10-wired.network\n");
  // NetworkManager: link 10 with an automatic (DHCP) connection, 11 with a
  // manual one, 12 with one whose ipv4 method is left to its default.
  Put(root / "run/NetworkManager/devices/10", "[device]\nmanaged=true\nconnection-uuid=aaaa\n");
  Put(root / "etc/NetworkManager/system-connections/Wired.nmconnection",
      "[connection]\nid=Wired\nuuid=aaaa\ntype=ethernet\n\n[ipv4]\nmethod=auto\n");
  Put(root / "run/NetworkManager/devices/11", "[device]\nmanaged=true\nconnection-uuid=bbbb\n");
  Put(root / "etc/NetworkManager/system-connections/Static.nmconnection",
      "[connection]\nuuid=bbbb\n[ipv4]\naddress1=10.0.0.4/24\nmethod=manual\n");
  Put(root / "run/NetworkManager/devices/12", "[device]\nmanaged=true\nconnection-uuid=cccc\n");
  Put(root / "run/NetworkManager/system-connections/Hotspot.nmconnection", "[connection]\nuuid=cccc\n");
  Put(root / "run/NetworkManager/devices/13", "[device]\nmanaged=true\nconnection-uuid=dddd\n");  // no such connection

  const LinuxRoot fake(root.string());
  const DhcpClients clients(fake);
  const std::tuple<LinkFacts, bool, bool> cases[] = {
      {Link("eth0", 2), false, true},    // dhclient
      {Link("eth1", 3), false, false},   // nothing
      {Link("eth1", 3), true, true},     // dhcpcd for every link, which leased it
      {Link("usb0", 4), false, true},    // udhcpc
      {Link("self0", 20), false, false},
      {Link("eth9", 21), false, false},
      {Link("enp1s0", 5), false, true},  // networkd
      {Link("enp2s0", 6), false, true},
      {Link("enp3s0", 7), false, false},
      {Link("enp4s0", 8), false, false},
      {Link("wlp1", 10), false, true},   // NetworkManager
      {Link("wlp2", 11), false, false},
      {Link("wlp3", 12), false, true},
      {Link("wlp4", 13), false, false},
  };
  for (const auto& [link, dhcpcd_file, managed] : cases) {
    EXPECT_EQ(clients.Manages(link, dhcpcd_file), managed) << link.name << " " << dhcpcd_file;
  }
}

}  // namespace
}  // namespace hostprobe::linux_net
