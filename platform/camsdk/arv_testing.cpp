// The GenICam backend's test accessors: built into the testing library only.
#include "platform/camsdk/backends.h"
#include "platform/camsdk/camsdk_testing.h"

#if defined(Q7V_HAVE_ARAVIS)
#include <arv.h>
#endif

namespace camsdk {

bool ArvTestControlLost(const std::string& deviceId) {
#if defined(Q7V_HAVE_ARAVIS)
  return WithOpenArvCamera(deviceId, [](void* cam) {
    ArvScope scope;
    g_signal_emit_by_name(arv_camera_get_device(static_cast<ArvCamera*>(cam)), "control-lost");
  });
#else
  (void)deviceId;
  return false;
#endif
}

void* ArvTestCamera(const std::string& deviceId) {
  void* found = nullptr;
  (void)WithOpenArvCamera(deviceId, [&](void* cam) { found = cam; });  // none: null
  return found;
}

void* ArvTestConnect(const std::string& idOrAddress) { return ConnectGigeCamera(idOrAddress); }

}  // namespace camsdk
