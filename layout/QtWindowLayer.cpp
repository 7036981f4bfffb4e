#include "QtWindowLayer.h"

#include <QRect>
#include <QWidget>

namespace sorvanta {
namespace {

QWidget* Widget(HWND window) { return static_cast<QWidget*>(window); }

}  // namespace

bool QtWindowLayer::GetWindowRect(HWND window, RECT& rect) {
  if (window == nullptr) {
    return false;
  }
  // QRect::right() is inclusive; RECT's right edge is one past the last pixel.
  const QRect geometry = Widget(window)->geometry();
  rect = RECT{geometry.x(), geometry.y(), geometry.x() + geometry.width(),
              geometry.y() + geometry.height()};
  return true;
}

HWND QtWindowLayer::GetParent(HWND window) {
  return window == nullptr ? nullptr : Widget(window)->parentWidget();
}

bool QtWindowLayer::ScreenToClient(HWND window, POINT&) {
  return window != nullptr;
}

bool QtWindowLayer::EqualRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right &&
         a.bottom == b.bottom;
}

bool QtWindowLayer::SetWindowPos(HWND window, HWND, std::int32_t x,
                                 std::int32_t y, std::int32_t width,
                                 std::int32_t height, std::uint32_t) {
  if (window == nullptr) {
    return false;
  }
  // A negative size (a window smaller than the tree's fixed sizes) is set
  // as it is. A shown widget keeps it, so the next pass finds it in place
  // and leaves it; a QLineEdit, or a widget not yet shown, clamps it to 0,
  // so each later pass sets it again, to the same effect. Either way the
  // widget draws nothing.
  QWidget* widget = Widget(window);
  widget->setGeometry(x, y, width, height);
  widget->raise();
  return true;
}

}  // namespace sorvanta
