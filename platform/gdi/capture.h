#pragma once
// Mouse capture of a window, the one thing the measurement engine needs of its owner window.
// The view implements it; tests use a fake that checks that capture and release balance.
class IMouseCapture {
 public:
  virtual ~IMouseCapture() = default;
  virtual void SetCapture() = 0;
  virtual void ReleaseCapture() = 0;
};

// The owner window as the engine sees it.
using HWND = IMouseCapture*;
