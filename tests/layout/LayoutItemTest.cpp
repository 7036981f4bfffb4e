#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "FakeWindowLayer.h"
#include "LayoutItem.h"

namespace sorvanta {
namespace {

// A tree on one line: kind (Leaf, Vertical, Horizontal) and size, "@id" for
// a window, then the children in brackets.
std::string Dump(const LayoutItem& item) {
  std::ostringstream out;
  out << "LVH"[static_cast<int>(item.kind)] << item.size;
  if (item.window != nullptr) out << "@" << reinterpret_cast<std::uintptr_t>(item.window);
  for (const LayoutItem& child : item.children) {
    out << (&child == &item.children.front() ? "[" : " ") << Dump(child)
        << (&child == &item.children.back() ? "]" : "");
  }
  return out.str();
}

const HWND a = Handle(1), b = Handle(2);

TEST(LayoutItem, BuildersConvertToLeavesAndBoxes) {
  // ControlItem(0) is a stretch gap: a number is always a size, never null.
  EXPECT_EQ(Dump(HBox(25, {ControlItem(5), ControlItem(a), ControlItem(0), ControlItem(a, 50),
                           ControlItem(2.5f, b), ControlItem(HWND{nullptr}, 7)})),
            "H25[L5 L0@1 L0 L50@1 L2.5@2 L7]");
  EXPECT_EQ(Dump(VBox(0.5, {VBox(1, {}), HBox(0, {ControlItem(-3, a)})})), "V0.5[V1 H0[L-3@1]]");
  EXPECT_EQ(Dump(LayoutItem{}), "L0");
}

TEST(LayoutItem, CopiesShareNothingWithTheirSource) {
  auto source = std::make_unique<LayoutItem>(
      VBox(0, {ControlItem(5), HBox(25, {ControlItem(a), VBox(0, {ControlItem(b, 3)})})}));
  const std::string original = Dump(*source);
  const LayoutItem constructed(*source);
  LayoutItem assigned = ControlItem(b);
  assigned = *source;

  LayoutItem& deepest = source->children[1].children[1].children[0];
  deepest.size = 99;
  deepest.window = a;
  source->children[1].children[1].children.push_back(ControlItem(b));
  source->children.front() = LayoutItem{};
  source.reset();
  EXPECT_EQ(Dump(constructed), original);
  EXPECT_EQ(Dump(assigned), original);
}

}  // namespace
}  // namespace sorvanta
