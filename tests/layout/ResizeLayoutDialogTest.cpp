#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <vector>

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRect>
#include <QTest>
#include <QWindow>

#include "FakeWindowLayer.h"
#include "LayoutItem.h"
#include "ResizeLayoutDialog.h"

namespace sorvanta {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A dialog shaped like the main window's file row, paging row and list.
class SampleDialog : public ResizeLayoutDialog {
 public:
  using ResizeLayoutDialog::ResizeLayoutDialog;

  LayoutItem Tree() const {
    return VBox(0, {ControlItem(5),
                    HBox(25, {ControlItem(5), ControlItem(pathEdit), ControlItem(5),
                              ControlItem(browseButton, 50), ControlItem(5)}),
                    ControlItem(5),
                    VBox(0, {HBox(25, {ControlItem(0), ControlItem(100, pageSelector),
                                       ControlItem(0)}),
                             ControlItem(resultList)})});
  }
  std::vector<QRect> Placed() const {
    return {pathEdit->geometry(), browseButton->geometry(), pageSelector->geometry(),
            resultList->geometry()};
  }

  QLineEdit* pathEdit = new QLineEdit(this);
  QPushButton* browseButton = new QPushButton("...", this);
  QComboBox* pageSelector = new QComboBox(this);
  QListWidget* resultList = new QListWidget(this);
};

// Where Tree() puts the four controls in a w x h client area.
std::vector<QRect> Expected(int w, int h) {
  return {QRect(5, 5, w - 65, 25), QRect(w - 55, 5, 50, 25), QRect((w - 100) / 2, 35, 100, 25),
          QRect(0, 60, w, h - 60)};
}

// Counts the events of one type that reach target.
class EventCounter : public QObject {
 public:
  EventCounter(QObject* target, QEvent::Type type) : type(type) { target->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    count += event->type() == type;
    return false;
  }
  int count = 0;
  const QEvent::Type type;
};

TEST(ResizeLayoutDialog, PassesStartWithInitializationThenFollowEveryResize) {
  FakeWindowLayer fake;
  fake.rects[Handle(1)] = RECT{-1, -1, -1, -1};
  SampleDialog dialog(fake);
  dialog.SetLayout(VBox(0, {ControlItem(10), ControlItem(Handle(1))}));  // only stored
  dialog.show();
  dialog.resize(200, 100);
  EXPECT_THAT(fake.moves, IsEmpty());

  dialog.OnInitDialog();
  dialog.resize(300, 100);
  dialog.OnSize(0, 0, 0);  // same size: nothing to move
  dialog.SetLayout(HBox(0, {ControlItem(0.5), ControlItem(Handle(1))}));
  EXPECT_THAT(fake.moves, ElementsAre("1:0,10 300x90", "1:150,0 150x100"));
}

TEST(ResizeLayoutDialog, RepaintsAfterEveryPassOnceInitialized) {
  FakeWindowLayer fake;
  SampleDialog dialog(fake);
  EventCounter paints(&dialog, QEvent::Paint);
  dialog.show();
  QCoreApplication::processEvents();
  const int shown = paints.count;
  dialog.OnSize(0, 0, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(paints.count, shown);

  dialog.OnInitDialog();
  dialog.OnSize(0, 0, 0);  // an empty tree: nothing moves, still repainted
  QCoreApplication::processEvents();
  EXPECT_GT(paints.count, shown);
}

TEST(ResizeLayoutDialog, WidgetsFollowEveryResizeAndAreOnlyMovedWhenAway) {
  SampleDialog dialog;
  dialog.OnInitDialog();
  dialog.SetLayout(dialog.Tree());
  dialog.show();
  for (const QSize size : {QSize(1000, 600), QSize(401, 301), QSize(150, 80), QSize(400, 300)}) {
    dialog.resize(size);
    EXPECT_EQ(dialog.Placed(), Expected(size.width(), size.height())) << size.width();
  }

  // A moved widget is raised; a second pass over the same size raises none.
  dialog.pathEdit->lower();
  dialog.OnSize(0, 0, 0);
  EXPECT_EQ(dialog.children().indexOf(dialog.pathEdit), 0);

  dialog.browseButton->move(1, 1);  // something else moved it
  dialog.OnSize(0, 0, 0);
  EXPECT_EQ(dialog.Placed(), Expected(400, 300));
  EXPECT_EQ(dialog.children().last(), dialog.browseButton);
  EXPECT_EQ(dialog.children().indexOf(dialog.pathEdit), 0);

  dialog.resize(0, 0);  // the client area of a minimized dialog, then restored
  dialog.resize(400, 300);
  EXPECT_EQ(dialog.Placed(), Expected(400, 300));
}

// Answers nothing, and runs out of memory when asked to move a window.
class ExhaustedLayer : public WindowLayer {
 public:
  bool GetWindowRect(HWND, RECT&) override { return false; }
  HWND GetParent(HWND) override { return nullptr; }
  bool ScreenToClient(HWND, POINT&) override { return false; }
  bool EqualRect(const RECT&, const RECT&) override { return false; }
  bool SetWindowPos(HWND, HWND, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    std::uint32_t) override {
    throw std::bad_alloc();
  }
};

TEST(ResizeLayoutDialog, APassThatRunsOutOfMemoryEndsInsideTheResize) {
  ExhaustedLayer layer;
  SampleDialog dialog(layer);
  dialog.SetLayout(dialog.Tree());  // not laid out before initialization
  dialog.OnInitDialog();
  EXPECT_NO_THROW(dialog.show());
  EXPECT_NO_THROW(dialog.resize(500, 400));
  EXPECT_EQ(dialog.size(), QSize(500, 400));
}

class DialogKeys : public ::testing::Test {
 protected:
  DialogKeys() {
    dialog.OnInitDialog();
    dialog.SetLayout(dialog.Tree());
    dialog.browseButton->setDefault(true);
    QObject::connect(dialog.browseButton, &QPushButton::clicked, [this] { ++clicks; });
    QObject::connect(dialog.browseButton, &QPushButton::clicked, &dialog, &QDialog::accept);
    QObject::connect(dialog.pathEdit, &QLineEdit::returnPressed, [this] { ++clicks; });
    dialog.setResult(42);
    dialog.show();
    dialog.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
  }
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(dialog.windowHandle(), key, modifiers);
  }

  SampleDialog dialog;
  int clicks = 0;  // of the button, or Return in the edit
};

TEST_F(DialogKeys, EnterAndEscapeReachNoControlOfTheDialog) {
  for (QWidget* focus : std::vector<QWidget*>{dialog.pathEdit, dialog.browseButton}) {
    focus->setFocus();
    Press(Qt::Key_Return);
    Press(Qt::Key_Enter, Qt::KeypadModifier);
    Press(Qt::Key_Escape);
    Press(Qt::Key_Return, Qt::ControlModifier);
  }
  QTest::keyClick(&dialog, Qt::Key_Escape);  // aimed at the dialog itself
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 42);
  EXPECT_EQ(clicks, 0);
}

TEST_F(DialogKeys, OtherKeysReleasesAndOtherWindowsAreLeftAlone) {
  dialog.pathEdit->setFocus();
  EventCounter releases(dialog.pathEdit, QEvent::KeyRelease);
  Press(Qt::Key_Escape);
  Press(Qt::Key_A);
  EXPECT_EQ(releases.count, 2);
  EXPECT_EQ(dialog.pathEdit->text(), "a");

  QMessageBox box(QMessageBox::Information, "title", "text", QMessageBox::Ok, &dialog);
  box.open();
  box.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
  QTest::keyClick(box.windowHandle(), Qt::Key_Return);
  EXPECT_FALSE(box.isVisible());

  dialog.close();
  EXPECT_FALSE(dialog.isVisible());
}

}  // namespace
}  // namespace sorvanta
