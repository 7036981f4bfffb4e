#pragma once

#include <cstdint>

#include "WindowTypes.h"

namespace sorvanta {

// The five window-system operations the layout pass needs, and nothing else.
// The pass ignores every result, as it would a failed call: a rectangle that
// cannot be read stays as it was given (zeroed) and a failed move is not
// retried. A layer reports failure only so that it can be observed.
class WindowLayer {
 public:
  virtual ~WindowLayer() = default;

  // The window's outer rectangle in screen coordinates.
  virtual bool GetWindowRect(HWND window, RECT& rect) = 0;
  // The window whose client coordinates the window is placed in.
  virtual HWND GetParent(HWND window) = 0;
  // Converts a screen point to the client coordinates of window.
  virtual bool ScreenToClient(HWND window, POINT& point) = 0;
  // True exactly when all four coordinates are equal.
  virtual bool EqualRect(const RECT& a, const RECT& b) = 0;
  // Moves and sizes window; insertAfter is its new place in the Z order.
  virtual bool SetWindowPos(HWND window, HWND insertAfter, std::int32_t x,
                            std::int32_t y, std::int32_t width,
                            std::int32_t height, std::uint32_t flags) = 0;
};

}  // namespace sorvanta
