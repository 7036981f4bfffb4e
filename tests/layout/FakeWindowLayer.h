#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "WindowLayer.h"

namespace sorvanta {

inline HWND Handle(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }

// A window layer without windows. rects holds each window in the dialog's
// client coordinates, but GetWindowRect answers in screen coordinates with
// the client area at (300, 200), so only a pass that converts through the
// window's parent finds windows where they are. A window not in rects can be
// neither read nor moved. Every SetWindowPos is logged as "id:x,y wxh".
class FakeWindowLayer : public WindowLayer {
 public:
  const HWND dialog = Handle(999);
  std::map<HWND, RECT> rects;
  std::map<HWND, std::int32_t> fixedHeights;  // sized like a drop-down combo
  std::vector<std::string> moves;

  bool GetWindowRect(HWND window, RECT& r) override {
    if (rects.count(window) == 0) return false;
    const RECT& c = rects[window];
    r = RECT{c.left + 300, c.top + 200, c.right + 300, c.bottom + 200};
    return true;
  }
  HWND GetParent(HWND window) override { return rects.count(window) ? dialog : nullptr; }
  bool ScreenToClient(HWND window, POINT& p) override {
    if (window != dialog) return false;
    p = POINT{p.x - 300, p.y - 200};
    return true;
  }
  bool EqualRect(const RECT& a, const RECT& b) override {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
  bool SetWindowPos(HWND window, HWND insertAfter, std::int32_t x, std::int32_t y,
                    std::int32_t w, std::int32_t h, std::uint32_t flags) override {
    EXPECT_EQ(insertAfter, HWND_TOP);
    EXPECT_EQ(flags, 0x0200u);
    moves.push_back(std::to_string(reinterpret_cast<std::uintptr_t>(window)) + ":" +
                    std::to_string(x) + "," + std::to_string(y) + " " +
                    std::to_string(w) + "x" + std::to_string(h));
    if (rects.count(window) == 0) return false;
    const auto fixed = fixedHeights.find(window);
    rects[window] = RECT{x, y, x + w, y + (fixed != fixedHeights.end() ? fixed->second : h)};
    return true;
  }
};

}  // namespace sorvanta
