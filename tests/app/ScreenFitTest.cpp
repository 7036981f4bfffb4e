// The first window's size on screens smaller than the form.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QTableWidget>
#include <QTest>

#include "DialogProbe.h"
#include "ScreenFit.h"

namespace sorvanta {

// Found by argument lookup in Extent's namespace.
inline bool operator==(Extent a, Extent b) { return a.width == b.width && a.height == b.height; }
inline void PrintTo(Extent e, std::ostream* os) { *os << e.width << "x" << e.height; }

namespace {

TEST(FitToAvailable, KeepsWhatFitsAndOtherwiseTakesTheLargestThatFitsWithItsFrame) {
  const Extent form{998, 613};
  // A usual screen: unchanged, also when it fits exactly.
  EXPECT_EQ(FitToAvailable(form, {1920, 1050}, {10, 40}), form);
  EXPECT_EQ(FitToAvailable(form, {1008, 653}, {10, 40}), form);
  // QT_SCALE_FACTOR=2 on 1600 x 1000, less a 24-pixel panel: 800 x 488.
  EXPECT_EQ(FitToAvailable(form, {800, 488}, {10, 40}), (Extent{790, 448}));
  // One direction too large, the other kept.
  EXPECT_EQ(FitToAvailable(form, {2000, 600}, {0, 30}), (Extent{998, 570}));
  EXPECT_EQ(FitToAvailable(form, {900, 1200}, {4, 30}), (Extent{896, 613}));
  // A screen smaller than the frame still gives a window.
  EXPECT_EQ(FitToAvailable(form, {5, 5}, {10, 40}), (Extent{1, 1}));
}

// The offscreen platform's one screen is 800 pixels wide, narrower than the
// form, and tall enough for it.
TEST(FitFirstWindowToScreen, TheMainWindowStartsInsideASmallScreenLaidOutForItsSize) {
  testing::FakeWindowOperations operations;
  CSorvantaDlg dialog{operations};
  const QRect available = dialog.screen()->availableGeometry();
  ASSERT_LT(available.width(), 998);
  ASSERT_GT(available.height(), 613 + 100);

  FitFirstWindowToScreen(dialog);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const int w = dialog.width();
  const int h = dialog.height();
  EXPECT_TRUE(available.contains(dialog.frameGeometry()))
      << dialog.frameGeometry().width() << "x" << dialog.frameGeometry().height();
  // Nearly the screen's width, not some small default; the height that fits
  // stays.
  EXPECT_GT(w, available.width() - 60);
  EXPECT_EQ(h, 613);
  // Placed by the same rules as at any size: the list fills the bottom, the
  // open button keeps its 5-pixel margin on the right.
  EXPECT_EQ(dialog.resultList->geometry(), QRect(0, 90, w, h - 90));
  EXPECT_EQ(dialog.openButton->geometry(), QRect(w - 105, 5, 100, 25));
}

TEST(FitFirstWindowToScreen, AWindowThatFitsIsLeftAlone) {
  testing::FakeWindowOperations operations;
  CSorvantaDlg dialog{operations};
  dialog.resize(640, 400);
  FitFirstWindowToScreen(dialog);
  EXPECT_EQ(dialog.size(), QSize(640, 400));
}

}  // namespace
}  // namespace sorvanta
