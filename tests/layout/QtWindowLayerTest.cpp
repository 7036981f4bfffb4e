// The window layer on real widgets: what a negative size, which the pass
// gives a control when the window is smaller than the tree's fixed sizes,
// becomes.

#include "QtWindowLayer.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include "Layout.h"
#include "LayoutItem.h"


namespace sorvanta {
namespace {

RECT Rect(QtWindowLayer& layer, QWidget* w) {
  RECT r{};
  EXPECT_TRUE(layer.GetWindowRect(w, r));
  return r;
}

bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(QtWindowLayer, AShownWidgetKeepsANegativeSizeButALineEditOrAHiddenWidgetClampsIt) {
  QWidget window;
  window.resize(300, 200);
  auto* button = new QPushButton(&window);
  auto* edit = new QLineEdit(&window);
  window.show();
  auto* later = new QPushButton(&window);  // created after show: not shown yet

  QtWindowLayer layer;
  for (QWidget* w : {static_cast<QWidget*>(button), static_cast<QWidget*>(edit), static_cast<QWidget*>(later)}) {
    ASSERT_TRUE(layer.SetWindowPos(w, nullptr, 10, 20, -30, -40, 0));
  }
  EXPECT_EQ(button->width(), -30);
  EXPECT_EQ(button->height(), -40);
  EXPECT_TRUE((Rect(layer, button) == RECT{10, 20, -20, -20}));
  EXPECT_TRUE((Rect(layer, edit) == RECT{10, 20, 10, 20}));
  EXPECT_TRUE((Rect(layer, later) == RECT{10, 20, 10, 20}));

  // The next pass finds the button where it was put and leaves it alone;
  // the line edit differs from its target, so every pass sets it again
  // (raising it) and it stays 0 x 0.
  Layout pass(RECT{0, 0, 300, 200}, layer);
  button->lower();
  pass.ArrangeLeaf(LayoutItem(ControlItem(button)), RECT{10, 20, -20, -20});
  EXPECT_EQ(window.children().indexOf(button), 0);
  edit->lower();
  pass.ArrangeLeaf(LayoutItem(ControlItem(edit)), RECT{10, 20, -20, -20});
  EXPECT_EQ(window.children().last(), edit);
  EXPECT_EQ(edit->width(), 0);
}

}  // namespace
}  // namespace sorvanta
