#pragma once

#include <cstdint>

#include "WindowLayer.h"

namespace sorvanta {

// The window layer over Qt widgets: a handle is a QWidget*.
//
// A child widget's geometry() is already in its parent's client coordinates,
// so GetWindowRect answers in those and ScreenToClient leaves points as they
// are; together they give the same rectangle as the screen round trip.
// SetWindowPos is setGeometry() followed by raise(), the Z order that the
// pass's insert-after HWND_TOP asks for (the only one it ever gives). The
// flags are not read: the pass gives only SWP_NOOWNERZORDER, and widgets have
// no owned windows whose order it could spare.
class QtWindowLayer final : public WindowLayer {
 public:
  bool GetWindowRect(HWND window, RECT& rect) override;
  HWND GetParent(HWND window) override;
  bool ScreenToClient(HWND window, POINT& point) override;
  bool EqualRect(const RECT& a, const RECT& b) override;
  bool SetWindowPos(HWND window, HWND insertAfter, std::int32_t x,
                    std::int32_t y, std::int32_t width, std::int32_t height,
                    std::uint32_t flags) override;
};

}  // namespace sorvanta
