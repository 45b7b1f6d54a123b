#include "ui/CameraAnswer.h"

#include "platform/camsdk/camsdk.h"
#include "platform/strings.h"
#include "platform/text.h"
#include "ui/AppHost.h"

namespace ui {

bool CameraTook(int status) {
  if (status == CAMSDK_STATUS_OK) return true;
  if (status != CAMSDK_STATUS_DEVICE_LOST && status != CAMSDK_STATUS_INVALID_HANDLE)
    AppHost().ShowHint(FormatW(LoadStringW(kStrCameraRefused), status));
  return false;
}

bool FrameBufferFits(bool allocated, int width, int height) {
  if (!allocated) AppHost().ShowHint(FormatW(LoadStringW(kStrPictureTooLarge), width, height));
  return allocated;
}

}  // namespace ui
