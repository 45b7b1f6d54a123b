#pragma once
// The capability block the camera object keeps for the panel (stCameraCapability, 71 ints)
// holds the library's capability record at its start. The record's tables belong to the
// library and stay valid for the life of the process, so a copy is safe to keep.
#include <cstring>

#include "camera/CameraTypes.h"
#include "platform/camsdk/camsdk.h"

static_assert(sizeof(CamSdkCapability) <= sizeof(stCameraCapability));

inline stCameraCapability PackCapability(const CamSdkCapability& cap) {
  stCameraCapability block;
  std::memcpy(block.values, &cap, sizeof cap);
  return block;
}

inline CamSdkCapability UnpackCapability(const stCameraCapability& block) {
  CamSdkCapability cap;
  std::memcpy(&cap, block.values, sizeof cap);
  return cap;
}
