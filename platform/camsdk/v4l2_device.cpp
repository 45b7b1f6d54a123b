// UVC cameras through Video4Linux2.
#include "platform/camsdk/backends.h"

namespace camsdk {
namespace {
class V4l2BackendImpl final : public Backend {
 public:
  std::vector<const ModelInfo*> List() override { return {}; }
  std::unique_ptr<Device> Open(const ModelInfo&) override { return nullptr; }
  bool Present(const ModelInfo&) override { return false; }
};
}  // namespace

Backend& V4l2Backend() {
  static V4l2BackendImpl backend;
  return backend;
}

}  // namespace camsdk
