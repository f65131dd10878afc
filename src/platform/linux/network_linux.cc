// The live adapter API and interface table API: the kernel's interfaces in
// the records the Windows API hands out. Every call asks the kernel afresh;
// a filling call whose buffer no longer holds everything returns the status
// Windows gives for it (111 for the adapters, 122 for the table), and one
// that finds no adapter left returns 232 (no data), as Windows does. When the
// kernel cannot be asked, the sizing call gives 0 and the filling call
// ERROR_GEN_FAILURE (31). Each call gathers only what it needs: the sizing
// calls the links (and the adapters' IPv4 addresses), the filling calls what
// their records show. The adapter records' Next locations count from a fixed
// notional location of the buffer, so one machine gives the same numbers on
// every run.
#include <linux/if.h>
#include <linux/if_arp.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/error.h"
#include "platform/linux/linux_sources.h"
#include "platform/linux/network_linux_facts.h"
#include "platform/records.h"

namespace hostprobe {
namespace {

namespace rec = records;
using linux_net::LinkFacts;

using records::kStatusBufferOverflow;
using records::kStatusGenFailure;
using records::kStatusInsufficientBuffer;
using records::kStatusNoData;

// The links, or the status of the failure to read them.
struct Links {
  std::vector<LinkFacts> links;
  uint32_t status = 0;
};

Links Read(const linux_net::LinkReader& read_links, const linux_net::Gather& what) {
  Links result;
  try {
    result.links = read_links(what);
  } catch (const Error&) {
    result.status = kStatusGenFailure;
  }
  return result;
}

// `text` in a NUL-terminated field of `width` bytes, cut back to a whole
// UTF-8 character where it does not fit.
void PutText(uint8_t* field, std::size_t width, const std::string& text) {
  std::size_t n = std::min(text.size(), width - 1);
  if (n < text.size()) {
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(field, text.data(), n);
}

void PutAddressEntry(uint8_t* entry, const std::string& address, const std::string& mask) {
  PutText(entry + rec::kAddrIpAddress, rec::kAddrTextWidth, address);
  PutText(entry + rec::kAddrIpMask, rec::kAddrTextWidth, mask);
}

uint32_t Low32(uint64_t v) { return static_cast<uint32_t>(v); }

class LinuxAdapterApi : public AdapterApi {
 public:
  explicit LinuxAdapterApi(linux_net::LinkReader read_links) : read_links_(std::move(read_links)) {}

  uint32_t NeededLength() override {
    const Links l = Read(read_links_, linux_net::kAdapterSizing);
    return l.status != 0 ? 0 : Layout(l.links).length;
  }

  uint32_t Fill(std::span<uint8_t> buffer, uint32_t* location) override {
    const Links l = Read(read_links_, linux_net::kAdapterFilling);
    if (l.status != 0) return l.status;
    const Plan plan = Layout(l.links);
    // Locations are 32-bit: a buffer reaching past them cannot hold the chain.
    if (plan.length > buffer.size() || buffer.size() > UINT32_MAX - rec::kNotionalBufferLocation) {
      return kStatusBufferOverflow;
    }
    if (plan.adapters.empty()) return kStatusNoData;  // every adapter gone since the sizing call
    std::fill(buffer.begin(), buffer.end(), 0);
    *location = rec::kNotionalBufferLocation;

    std::size_t extra = plan.adapters.size() * rec::kAdapterSize;  // further address entries go here
    for (std::size_t k = 0; k < plan.adapters.size(); ++k) {
      const LinkFacts& link = *plan.adapters[k];
      uint8_t* r = buffer.data() + k * rec::kAdapterSize;
      const bool last = k + 1 == plan.adapters.size();
      rec::PutU32(r + rec::kAdNext, last ? 0 : *location + static_cast<uint32_t>((k + 1) * rec::kAdapterSize));
      PutText(r + rec::kAdAdapterName, rec::kAdAdapterNameWidth, link.name);
      PutText(r + rec::kAdDescription, rec::kAdDescriptionWidth, link.description);
      const std::size_t address_length = std::min(link.address.size(), rec::kPhysAddrWidth);
      rec::PutU32(r + rec::kAdAddressLength, static_cast<uint32_t>(address_length));
      std::copy_n(link.address.begin(), address_length, r + rec::kAdAddress);
      rec::PutU32(r + rec::kAdIndex, static_cast<uint32_t>(link.index));
      rec::PutU32(r + rec::kAdType, static_cast<uint32_t>(linux_net::LinkType(link)));

      uint8_t* first = r + rec::kAdIpAddressList;
      if (link.ipv4.empty()) {
        PutAddressEntry(first, "0.0.0.0", "0.0.0.0");
      } else {
        PutAddressEntry(first, link.ipv4[0].address, link.ipv4[0].mask);
      }
      uint8_t* previous = first;
      for (std::size_t a = 1; a < link.ipv4.size(); ++a) {
        rec::PutU32(previous + rec::kAddrNext, *location + static_cast<uint32_t>(extra));
        previous = buffer.data() + extra;
        PutAddressEntry(previous, link.ipv4[a].address, link.ipv4[a].mask);
        extra += rec::kAddrSize;
      }
      const std::string gateway = link.gateway.empty() ? "0.0.0.0" : link.gateway;
      PutAddressEntry(r + rec::kAdGatewayList, gateway, link.gateway.empty() ? "0.0.0.0" : "255.255.255.255");
      if (link.lease) {
        rec::PutU32(r + rec::kAdDhcpEnabled, 1);
        if (!link.lease->server.empty()) {
          PutAddressEntry(r + rec::kAdDhcpServer, link.lease->server, "255.255.255.255");
        }
        rec::PutU32(r + rec::kAdLeaseObtained, Low32(static_cast<uint64_t>(link.lease->obtained)));
        rec::PutU32(r + rec::kAdLeaseExpires, Low32(static_cast<uint64_t>(link.lease->expires)));
        const std::vector<std::string>& wins = link.lease->wins;
        if (!wins.empty()) {
          rec::PutU32(r + rec::kAdHaveWins, 1);
          PutAddressEntry(r + rec::kAdPrimaryWinsServer, wins[0], "255.255.255.255");
          if (wins.size() > 1) PutAddressEntry(r + rec::kAdSecondaryWinsServer, wins[1], "255.255.255.255");
        }
      } else if (link.dhcp_managed) {
        // As Windows shows a DHCP-enabled adapter that holds no lease: the
        // server is the broadcast address, no lease times.
        rec::PutU32(r + rec::kAdDhcpEnabled, 1);
        PutAddressEntry(r + rec::kAdDhcpServer, "255.255.255.255", "255.255.255.255");
      }
    }
    return 0;
  }

 private:
  linux_net::LinkReader read_links_;

  struct Plan {
    std::vector<const LinkFacts*> adapters;
    uint32_t length = 0;
  };

  // Every link but loopback, one record each, then one address entry for
  // each IPv4 address after an adapter's first.
  static Plan Layout(const std::vector<LinkFacts>& links) {
    Plan plan;
    uint64_t length = 0;
    for (const LinkFacts& link : links) {
      if (link.arphrd == ARPHRD_LOOPBACK) continue;
      plan.adapters.push_back(&link);
      length += rec::kAdapterSize + rec::kAddrSize * (link.ipv4.empty() ? 0 : link.ipv4.size() - 1);
    }
    plan.length = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
    return plan;
  }
};

// IF_OPER_STATUS of a MIB_IFROW: 0 non-operational, 2 disconnected,
// 3 connecting, 5 operational.
uint32_t OperStatus(const LinkFacts& link) {
  switch (link.operstate) {
    case IF_OPER_UP: return 5;
    case IF_OPER_DORMANT: return 3;
    case IF_OPER_UNKNOWN: return (link.flags & IFF_RUNNING) ? 5 : 2;
    case IF_OPER_DOWN:
    case IF_OPER_LOWERLAYERDOWN: return (link.flags & IFF_UP) ? 2 : 0;
    default: return 0;
  }
}

class LinuxInterfaceTableApi : public InterfaceTableApi {
 public:
  explicit LinuxInterfaceTableApi(linux_net::LinkReader read_links) : read_links_(std::move(read_links)) {}

  uint32_t NeededLength() override {
    const Links l = Read(read_links_, linux_net::kTableSizing);
    return l.status != 0 ? 0 : Length(l.links.size());
  }

  uint32_t Fill(std::span<uint8_t> buffer) override {
    const Links l = Read(read_links_, linux_net::kTableFilling);
    if (l.status != 0) return l.status;
    if (Length(l.links.size()) > buffer.size()) return kStatusInsufficientBuffer;
    std::fill(buffer.begin(), buffer.end(), 0);
    rec::PutU32(buffer.data() + rec::kTableCount, static_cast<uint32_t>(l.links.size()));
    for (std::size_t i = 0; i < l.links.size(); ++i) {
      const LinkFacts& link = l.links[i];
      uint8_t* r = buffer.data() + rec::kTableRows + i * rec::kRowSize;
      rec::PutRowName(r, link.name);
      rec::PutU32(r + rec::kRowIndex, static_cast<uint32_t>(link.index));
      rec::PutU32(r + rec::kRowType, static_cast<uint32_t>(linux_net::LinkType(link)));
      rec::PutU32(r + rec::kRowMtu, link.mtu);
      rec::PutU32(r + rec::kRowSpeed, Low32(link.speed_mbps * 1000000));
      const std::size_t address_length = std::min(link.address.size(), rec::kPhysAddrWidth);
      rec::PutU32(r + rec::kRowPhysAddrLen, static_cast<uint32_t>(address_length));
      std::copy_n(link.address.begin(), address_length, r + rec::kRowPhysAddr);
      rec::PutU32(r + rec::kRowAdminStatus, (link.flags & IFF_UP) ? 1 : 2);
      rec::PutU32(r + rec::kRowOperStatus, OperStatus(link));
      const uint64_t multicast = std::min(link.rx_multicast, link.rx_packets);
      rec::PutU32(r + rec::kRowInOctets, Low32(link.rx_bytes));
      rec::PutU32(r + rec::kRowInUcastPkts, Low32(link.rx_packets - multicast));
      rec::PutU32(r + rec::kRowInNUcastPkts, Low32(multicast));
      rec::PutU32(r + rec::kRowInDiscards, Low32(link.rx_dropped));
      rec::PutU32(r + rec::kRowInErrors, Low32(link.rx_errors));
      rec::PutU32(r + rec::kRowOutOctets, Low32(link.tx_bytes));
      rec::PutU32(r + rec::kRowOutUcastPkts, Low32(link.tx_packets));
      rec::PutU32(r + rec::kRowOutDiscards, Low32(link.tx_dropped));
      rec::PutU32(r + rec::kRowOutErrors, Low32(link.tx_errors));
      const std::string& descr = link.description;
      PutText(r + rec::kRowDescr, rec::kRowDescrWidth, descr);
      const std::size_t descr_bytes = std::strlen(reinterpret_cast<const char*>(r + rec::kRowDescr));
      rec::PutU32(r + rec::kRowDescrLen, static_cast<uint32_t>(descr_bytes + 1));
    }
    return 0;
  }

 private:
  linux_net::LinkReader read_links_;

  static uint32_t Length(std::size_t rows) {
    return static_cast<uint32_t>(std::min<uint64_t>(rec::kTableRows + uint64_t{rec::kRowSize} * rows, UINT32_MAX));
  }
};

}  // namespace

std::unique_ptr<AdapterApi> linux_net::MakeAdapterApi(LinkReader read_links) {
  return std::make_unique<LinuxAdapterApi>(std::move(read_links));
}
std::unique_ptr<InterfaceTableApi> linux_net::MakeInterfaceTableApi(LinkReader read_links) {
  return std::make_unique<LinuxInterfaceTableApi>(std::move(read_links));
}

std::unique_ptr<AdapterApi> MakeLinuxAdapterApi() { return linux_net::MakeAdapterApi(linux_net::ReadLinks); }
std::unique_ptr<InterfaceTableApi> MakeLinuxInterfaceTableApi() {
  return linux_net::MakeInterfaceTableApi(linux_net::ReadLinks);
}

}  // namespace hostprobe
