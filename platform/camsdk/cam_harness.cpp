// The library's side of the harness seam (handles.h): where a test harness is installed, and
// the two places the library asks it.
#include "platform/camsdk/handles.h"

namespace camsdk {

std::atomic<const Harness*> gHarness{nullptr};

void InstallHarness(const Harness* harness) { gHarness.store(harness, std::memory_order_release); }

bool HarnessSynchronous() {
  const Harness* h = gHarness.load(std::memory_order_acquire);
  return h && h->synchronous && h->synchronous();
}

std::uint32_t LackingControls(const ModelInfo& model) {
  std::uint32_t lacking = model.lackingControls;
  const Harness* h = gHarness.load(std::memory_order_acquire);
  if (h && h->lacking) lacking |= h->lacking(model);
  return lacking;
}

}  // namespace camsdk
