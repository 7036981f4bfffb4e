#pragma once

#include <cstdint>
#include <vector>

#include "LayoutItem.h"
#include "WindowLayer.h"
#include "WindowTypes.h"

namespace sorvanta {

// One child's share of a box along the box's axis.
struct SizeEntry {
  bool fixed = false;       // from a pixel or fraction size; false if stretched
  std::int32_t length = 0;  // may be zero or negative: nothing is clamped
};

// Turns the children's sizes into pixel lengths within extent, in child
// order. Fractions are of the whole extent; stretch children share what the
// fixed ones leave, the last of them taking the remainder of the division.
// All truncation is toward zero.
std::vector<SizeEntry> DistributeSizes(const std::vector<double>& sizes,
                                       std::int32_t extent);

// One layout pass: lays a tree into rect (client coordinates of the dialog)
// and moves, through the window layer, every control whose present rectangle
// differs from its computed one. Built for one pass and then discarded.
class Layout {
 public:
  // layer must outlive the Layout.
  Layout(const RECT& area, WindowLayer& layer);

  // Lays root into the whole of rect, whatever root's own size.
  void Apply(const LayoutItem& root);

  // Each gives the item's children their part of box (or moves the leaf's
  // window to target), finishing a child box before its next sibling.
  void ArrangeVertical(const LayoutItem& item, const RECT& box);
  void ArrangeHorizontal(const LayoutItem& item, const RECT& box);
  void ArrangeLeaf(const LayoutItem& item, const RECT& target);

  // Moves and sizes window to rect and puts it on top of its siblings;
  // an empty rect (zero width or height) leaves the window alone.
  Layout& MoveWindowTo(HWND window);

  RECT rect;

 private:
  // Dispatches on item's kind; an unknown kind places nothing.
  void Arrange(const LayoutItem& item, const RECT& area);
  // Divides box along one axis, given by the RECT fields of its two edges.
  void ArrangeAlong(const LayoutItem& item, const RECT& box,
                    std::int32_t RECT::*start, std::int32_t RECT::*end);

  WindowLayer* windows;
};

}  // namespace sorvanta
