#include "Layout.h"

#include <cstddef>
#include <limits>

namespace sorvanta {
namespace {

// Pixel sums wrap around like the 32-bit integers the arithmetic is defined
// on, rather than being undefined behaviour when absurd sizes overflow.
std::int32_t Wrap(std::int64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// Truncation toward zero. A size beyond 32 bits (or NaN) gives INT32_MIN, the
// value a 32-bit x86 conversion yields, instead of undefined behaviour.
std::int32_t Truncate(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

std::vector<double> ChildSizes(const LayoutItem& item) {
  std::vector<double> sizes;
  sizes.reserve(item.children.size());
  for (const LayoutItem& child : item.children) {
    sizes.push_back(child.size);
  }
  return sizes;
}

}  // namespace

std::vector<SizeEntry> DistributeSizes(const std::vector<double>& sizes,
                                       std::int32_t extent) {
  std::vector<SizeEntry> entries;
  entries.reserve(sizes.size());
  std::int32_t remaining = extent;
  std::int32_t stretchCount = 0;
  for (double size : sizes) {
    if (size <= 0.0) {
      entries.push_back({false, 0});
      ++stretchCount;
      continue;
    }
    // A fraction is of the whole extent, never of what is left, so that
    // 1.0 means the whole box wherever it stands among its siblings.
    const std::int32_t length = size <= 1.0
                                    ? Truncate(static_cast<double>(extent) * size)
                                    : Truncate(size);
    entries.push_back({true, length});
    remaining = Wrap(std::int64_t{remaining} - length);
  }
  if (stretchCount == 0) {
    return entries;
  }
  const std::int32_t share = remaining / stretchCount;
  for (SizeEntry& entry : entries) {
    if (entry.fixed) {
      continue;
    }
    if (--stretchCount == 0) {
      entry.length = remaining;  // the pixels the division left over
      break;
    }
    entry.length = share;
    remaining = Wrap(std::int64_t{remaining} - share);
  }
  return entries;
}

Layout::Layout(const RECT& area, WindowLayer& layer)
    : rect(area), windows(&layer) {}

void Layout::Apply(const LayoutItem& root) { Arrange(root, rect); }

void Layout::Arrange(const LayoutItem& item, const RECT& area) {
  switch (item.kind) {
    case ItemKind::Leaf:
      ArrangeLeaf(item, area);
      return;
    case ItemKind::Vertical:
      ArrangeVertical(item, area);
      return;
    case ItemKind::Horizontal:
      ArrangeHorizontal(item, area);
      return;
  }
  // Any other kind: nothing is placed and the subtree is not visited. Its
  // length in the parent box was already taken.
}

void Layout::ArrangeVertical(const LayoutItem& item, const RECT& box) {
  ArrangeAlong(item, box, &RECT::top, &RECT::bottom);
}

void Layout::ArrangeHorizontal(const LayoutItem& item, const RECT& box) {
  ArrangeAlong(item, box, &RECT::left, &RECT::right);
}

void Layout::ArrangeAlong(const LayoutItem& item, const RECT& box,
                          std::int32_t RECT::*start, std::int32_t RECT::*end) {
  const std::vector<SizeEntry> entries = DistributeSizes(
      ChildSizes(item), Wrap(std::int64_t{box.*end} - box.*start));
  // Children follow one another without gaps; across the axis each gets the
  // whole box.
  RECT child = box;
  child.*end = box.*start;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    child.*start = child.*end;
    child.*end = Wrap(std::int64_t{child.*start} + entries[i].length);
    Arrange(item.children[i], child);
  }
}

void Layout::ArrangeLeaf(const LayoutItem& item, const RECT& target) {
  if (item.window == nullptr) {
    return;  // a gap only takes up its length
  }
  // Compare with where the window stands now, not with the last pass, so a
  // window something else has moved is put back. A rectangle that cannot be
  // read counts as all zero.
  RECT present{0, 0, 0, 0};
  windows->GetWindowRect(item.window, present);
  POINT topLeft{present.left, present.top};
  POINT bottomRight{present.right, present.bottom};
  windows->ScreenToClient(windows->GetParent(item.window), topLeft);
  windows->ScreenToClient(windows->GetParent(item.window), bottomRight);
  present = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
  if (windows->EqualRect(present, target)) {
    return;  // untouched: no move, no redraw, no change of Z order
  }
  Layout(target, *windows).MoveWindowTo(item.window);
}

Layout& Layout::MoveWindowTo(HWND window) {
  const std::int32_t width = Wrap(std::int64_t{rect.right} - rect.left);
  const std::int32_t height = Wrap(std::int64_t{rect.bottom} - rect.top);
  // An empty target (a box of no extent) keeps the window as it was; a
  // negative one is passed on for the window layer to deal with.
  if (width != 0 && height != 0) {
    windows->SetWindowPos(window, HWND_TOP, rect.left, rect.top, width, height,
                          SWP_NOOWNERZORDER);
  }
  return *this;
}

}  // namespace sorvanta
