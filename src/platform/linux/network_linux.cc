// Placeholder until the live network sources land: nothing to list.
#include "platform/linux/linux_sources.h"

namespace hostprobe {
namespace {
class EmptyAdapters : public AdapterApi {
 public:
  uint32_t NeededLength() override { return 0; }
  uint32_t Fill(std::span<uint8_t>, uint32_t*) override { return 0; }
};
class EmptyTable : public InterfaceTableApi {
 public:
  uint32_t NeededLength() override { return 0; }
  uint32_t Fill(std::span<uint8_t>) override { return 0; }
};
}  // namespace
std::unique_ptr<AdapterApi> MakeLinuxAdapterApi() { return std::make_unique<EmptyAdapters>(); }
std::unique_ptr<InterfaceTableApi> MakeLinuxInterfaceTableApi() { return std::make_unique<EmptyTable>(); }
}  // namespace hostprobe
