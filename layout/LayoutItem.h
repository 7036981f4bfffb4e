#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>
#include <vector>

#include "WindowTypes.h"

// The engine knows widgets only as pointers it turns into handles.
class QWidget;

namespace sorvanta {

// The kind of a layout node. Stored as a signed 32-bit integer; the pass
// places nothing for any other value.
enum class ItemKind : std::int32_t {
  Leaf = 0,        // one control, or with a null window a gap
  Vertical = 1,    // children stacked top to bottom, sharing the height
  Horizontal = 2,  // children left to right, sharing the width
};

// One node of a layout tree. A plain value: copies are deep (children are
// held by value), nothing is shared between items, and the windows are only
// referred to by handle, never owned.
//
// size is the item's length along the axis of the box that holds it:
// above 1 it is pixels (fraction dropped), in (0, 1] a fraction of the whole
// box, 0 or below a share of what the fixed children leave. Across that axis
// a child always gets the whole box. The root's size is never read.
//
// The default item is an empty Leaf, which places nothing.
struct LayoutItem {
  ItemKind kind = ItemKind::Leaf;
  double size = 0.0;
  HWND window = nullptr;             // read for a Leaf only
  std::vector<LayoutItem> children;  // read for boxes only
};

namespace detail {

// Sizes are taken through a template so that any arithmetic argument is an
// exact match: ControlItem(0) is then a zero-sized stretch gap, rather than
// the null pointer (or the ambiguity between two pointer types) that a
// literal 0 would otherwise convert to.
template <typename T>
using EnableIfSize = std::enable_if_t<std::is_arithmetic_v<T>, int>;

// A handle is accepted only as exactly HWND. Taking void* plainly would let
// a pointer to a widget class that is merely forward-declared at the call
// site slip in without its conversion to QWidget*.
template <typename T>
using EnableIfHandle = std::enable_if_t<std::is_same_v<T*, HWND>, int>;

}  // namespace detail

// Builder value for a Leaf: a control with its length, or a gap (no control).
// A control without a size stretches. A null control gives a null handle, so
// its leaf is a gap of the same size.
struct ControlItem {
  double size = 0.0;
  HWND window = nullptr;

  explicit ControlItem(QWidget* control) : window(control) {}
  template <typename Size, detail::EnableIfSize<Size> = 0>
  ControlItem(QWidget* control, Size length)
      : size(static_cast<double>(length)), window(control) {}
  template <typename Size, detail::EnableIfSize<Size> = 0>
  ControlItem(Size length, QWidget* control)
      : size(static_cast<double>(length)), window(control) {}
  template <typename Size, detail::EnableIfSize<Size> = 0>
  explicit ControlItem(Size length) : size(static_cast<double>(length)) {}

  // The same from a bare handle, for windows that are not QWidgets.
  template <typename T, detail::EnableIfHandle<T> = 0>
  explicit ControlItem(T* handle) : window(handle) {}
  template <typename T, typename Size, detail::EnableIfHandle<T> = 0,
            detail::EnableIfSize<Size> = 0>
  ControlItem(T* handle, Size length)
      : size(static_cast<double>(length)), window(handle) {}
  template <typename Size, typename T, detail::EnableIfSize<Size> = 0,
            detail::EnableIfHandle<T> = 0>
  ControlItem(Size length, T* handle)
      : size(static_cast<double>(length)), window(handle) {}

  operator LayoutItem() const { return LayoutItem{ItemKind::Leaf, size, window, {}}; }
};

// Builder value for a box: a size, then a braced list of items, leaves and
// boxes mixed, so that a whole tree is one nested expression.
template <ItemKind Kind>
struct BoxItem {
  double size = 0.0;
  std::vector<LayoutItem> children;

  BoxItem(double boxSize, std::initializer_list<LayoutItem> items)
      : size(boxSize), children(items) {}

  operator LayoutItem() const { return LayoutItem{Kind, size, nullptr, children}; }
};

using VBox = BoxItem<ItemKind::Vertical>;
using HBox = BoxItem<ItemKind::Horizontal>;

}  // namespace sorvanta
