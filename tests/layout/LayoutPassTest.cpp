#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>

#include "FakeWindowLayer.h"
#include "Layout.h"
#include "LayoutItem.h"

namespace sorvanta {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Windows 1..4 start where no pass puts anything, so a first pass moves them.
class LayoutPass : public ::testing::Test {
 protected:
  LayoutPass() {
    for (HWND window : {a, b, c, d}) fake.rects[window] = RECT{-1, -1, -1, -1};
  }
  void Run(const LayoutItem& root, const RECT& area) { Layout(area, fake).Apply(root); }

  FakeWindowLayer fake;
  const HWND a = Handle(1), b = Handle(2), c = Handle(3), d = Handle(4);
};

TEST_F(LayoutPass, BoxesDivideTheirAxisAndGiveTheWholeCrossExtent) {
  // The gap moves nothing but pushes the rest down.
  Run(VBox(0, {ControlItem(30), ControlItem(a), ControlItem(b, 0.5)}), RECT{10, 0, 50, 300});
  EXPECT_THAT(fake.moves, ElementsAre("1:10,30 40x120", "2:10,150 40x150"));

  // Depth first: a child box is finished before its next sibling.
  fake.moves.clear();
  Run(HBox(0, {ControlItem(a, 10), VBox(20, {ControlItem(b, 5), HBox(0, {ControlItem(c)})}),
               ControlItem(d)}),
      RECT{100, 40, 160, 60});
  EXPECT_THAT(fake.moves, ElementsAre("1:100,40 10x20", "2:110,40 20x5", "3:110,45 20x15",
                                      "4:130,40 30x20"));

  // The root's own size is never read.
  fake.moves.clear();
  Run(ControlItem(a, 0.25), RECT{5, 6, 25, 36});
  EXPECT_THAT(fake.moves, ElementsAre("1:5,6 20x30"));
}

TEST_F(LayoutPass, NegativeTargetsAreMovedButEmptyOnesAreNot) {
  Run(VBox(0, {ControlItem(a, 80), ControlItem(b, 60), ControlItem(c)}), RECT{0, 0, 50, 100});
  Run(HBox(0, {ControlItem(d, 0.5), VBox(10, {})}), RECT{0, 0, 0, 20});
  Run(VBox(0, {ControlItem(d, 1.0)}), RECT{0, 5, 30, 5});
  EXPECT_THAT(fake.moves, ElementsAre("1:0,0 50x80", "2:0,80 50x60", "3:0,140 50x-40"));
}

TEST_F(LayoutPass, EmptyTreesAndUnknownKindsPlaceNothing) {
  Run(LayoutItem{}, RECT{0, 0, 100, 100});
  Run(HBox(0, {}), RECT{0, 0, 100, 100});
  EXPECT_THAT(fake.moves, IsEmpty());

  // An unknown kind keeps its length; nothing below it is visited.
  const LayoutItem unknown{static_cast<ItemKind>(7), 20, a, {ControlItem(b)}};
  Run(VBox(0, {ControlItem(10), unknown, ControlItem(c)}), RECT{0, 0, 40, 100});
  EXPECT_THAT(fake.moves, ElementsAre("3:0,30 40x70"));
}

TEST_F(LayoutPass, WindowsAreComparedWithWhereTheyStandNow) {
  const LayoutItem root = HBox(0, {ControlItem(a), ControlItem(b, 30)});
  Run(root, RECT{0, 0, 100, 20});
  Run(root, RECT{0, 0, 100, 20});
  EXPECT_EQ(fake.moves.size(), 2u);  // the second pass moved nothing

  fake.rects[b] = RECT{1, 2, 3, 4};  // something else moved it
  fake.moves.clear();
  Run(root, RECT{0, 0, 100, 20});
  EXPECT_THAT(fake.moves, ElementsAre("2:70,0 30x20"));

  // A window that keeps its own height, or cannot be read at all, never
  // matches its target and is moved on every pass.
  fake.fixedHeights[c] = 12;
  const LayoutItem column = VBox(0, {ControlItem(c, 25), ControlItem(Handle(9))});
  fake.moves.clear();
  Run(column, RECT{0, 0, 100, 60});
  Run(column, RECT{0, 0, 100, 60});
  EXPECT_THAT(fake.moves, ElementsAre("3:0,0 100x25", "9:0,25 100x35", "3:0,0 100x25",
                                      "9:0,25 100x35"));
}

}  // namespace
}  // namespace sorvanta
