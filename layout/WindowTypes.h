#pragma once

#include <cstdint>

namespace sorvanta {

// The window handle the layout engine passes around. The engine never looks
// behind it; only a window layer knows what it points to (a QWidget in the
// application, an arbitrary key in tests).
using HWND = void*;

// A rectangle in pixels; width = right - left, height = bottom - top.
struct RECT {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

struct POINT {
  std::int32_t x;
  std::int32_t y;
};

// Insert-after handle that puts a moved window on top of its siblings.
inline constexpr HWND HWND_TOP = nullptr;

// The only flag the layout pass gives SetWindowPos: leave owned windows'
// Z order alone, and everything else (activation, redraw) at the defaults.
inline constexpr std::uint32_t SWP_NOOWNERZORDER = 0x0200;

}  // namespace sorvanta
