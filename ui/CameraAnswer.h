#pragma once
// How the windows act on the camera library's answers to what the operator changed: a change
// the camera refused is told in the view's hint line, and the control then shows the camera's
// own value. A lost camera is not told here: its loss has a notice of its own.
#include <cstdint>

namespace ui {

// True when the camera took the change (CAMSDK_STATUS_OK); otherwise the operator is told.
bool CameraTook(int status);
// The frame buffer for a new picture size: when it could not be had (no memory), the operator
// is told that the picture is not shown. Returns `allocated`.
bool FrameBufferFits(bool allocated, int width, int height);

// The hints' texts in the string tables.
constexpr std::uint32_t kStrCameraRefused = 64260;    // "... did not take the change (error %d)"
constexpr std::uint32_t kStrPictureTooLarge = 64261;  // "... %d x %d ... not shown"
constexpr std::uint32_t kStrCameraNotPlaying = 64262;  // "... %s ... does not play (error %d)"

}  // namespace ui
