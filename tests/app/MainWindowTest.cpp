// The main window as it starts, its tab order and keys, and where the
// layout puts its twelve controls.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QTableWidget>
#include <QTest>

#include "DialogProbe.h"
#include "Resources.h"

namespace sorvanta {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeWindowOperations;
using testing::Read;
using testing::Screen;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::DropSession(); }

  FakeWindowOperations operations;
  CSorvantaDlg dialog{operations};
};

TEST_F(MainWindowTest, StartsEmptyWithItsCaptionsAndTheInitialSummary) {
  EXPECT_EQ(dialog.windowTitle(), "Sorvanta V1.0");
  for (const QLineEdit* edit :
       {dialog.pathEdit, dialog.addressEdit, dialog.symbolEdit, dialog.baseAddressEdit}) {
    EXPECT_EQ(edit->text(), "") << edit->objectName().toStdString();
  }
  EXPECT_EQ(dialog.browseButton->text(), "...");
  EXPECT_EQ(dialog.openButton->text(), "打开文件");
  EXPECT_EQ(dialog.setBaseAddressButton->text(), "设置基地址");
  EXPECT_EQ(dialog.lookUpAddressButton->text(), "查地址");
  EXPECT_EQ(dialog.searchSymbolButton->text(), "搜符号");

  Screen start;
  start.summary = "共 0 页 0 项";
  EXPECT_EQ(Read(dialog), start);
  EXPECT_TRUE(dialog.pageSummary->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(dialog.results.empty());
  EXPECT_EQ(DiaSymbol::Instance().session, nullptr);
}

TEST_F(MainWindowTest, IsAResizableIconedWindowWithMinMaxButtonsAndNoDefaultButton) {
  EXPECT_EQ(dialog.size(), QSize(998, 613));
  EXPECT_THAT(dialog.windowIcon().availableSizes(), ElementsAre(QSize(32, 32)));
  EXPECT_EQ(ApplicationVersion(), "1.0.0.1");
  const Qt::WindowFlags flags = dialog.windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window);
  EXPECT_TRUE(flags.testFlags(Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowContextHelpButtonHint));
  EXPECT_NE(dialog.minimumSize(), dialog.maximumSize());
  for (const QPushButton* button : dialog.findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
    EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
  }
  EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 5);

  EXPECT_TRUE(dialog.resultList->showGrid());
  EXPECT_EQ(dialog.resultList->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(dialog.resultList->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(MainWindowTest, FocusStartsOnTheListAndTabFollowsTheFormOrder) {
  // With rows in the list, Tab must still leave it rather than move
  // between its cells.
  dialog.pathEdit->setText(QString::fromStdString(testing::kX64));
  dialog.openButton->click();
  dialog.searchSymbolButton->click();
  ASSERT_EQ(dialog.resultList->rowCount(), 17);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  EXPECT_EQ(QApplication::focusWidget(), dialog.resultList);

  std::vector<QWidget*> order{dialog.resultList};
  for (int i = 0; i < 11; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    order.push_back(QApplication::focusWidget());
  }
  EXPECT_THAT(order, ElementsAre(dialog.resultList, dialog.pathEdit, dialog.browseButton,
                                 dialog.openButton, dialog.addressEdit, dialog.lookUpAddressButton,
                                 dialog.symbolEdit, dialog.searchSymbolButton,
                                 dialog.baseAddressEdit, dialog.setBaseAddressButton,
                                 dialog.pageSelector, dialog.resultList));
}

TEST_F(MainWindowTest, EnterAndEscapeNeitherRunACommandNorCloseTheWindow) {
  dialog.pathEdit->setText("no-such.pdb");
  dialog.symbolEdit->setText("entry");
  dialog.addressEdit->setText("1000");
  dialog.baseAddressEdit->setText("400000");
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));

  for (QWidget* target : std::vector<QWidget*>{
           dialog.resultList, dialog.pathEdit, dialog.browseButton, dialog.openButton,
           dialog.addressEdit, dialog.lookUpAddressButton, dialog.symbolEdit,
           dialog.searchSymbolButton, dialog.baseAddressEdit, dialog.setBaseAddressButton,
           dialog.pageSelector}) {
    target->setFocus();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      QTest::keyClick(target, key);
    }
  }
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_THAT(operations.messages, IsEmpty());
  EXPECT_THAT(operations.fileDialogs, IsEmpty());
  EXPECT_EQ(Read(dialog).headers.size(), 0u);  // no search, no look-up
  EXPECT_EQ(dialog.pathEdit->text(), "no-such.pdb");
}

// Where the layout puts each control (x, y, width, height) in a client
// area of w x h; g and p centre the query row and the paging row.
std::vector<QRect> Expected(int w, int h) {
  const int g = (w - 935) / 2;
  const int p = (w - 255) / 2;
  return {
      QRect(5, 5, w - 170, 25),         // path edit
      QRect(w - 160, 5, 50, 25),        // browse
      QRect(w - 105, 5, 100, 25),       // open
      QRect(g, 35, 200, 25),            // base-address edit
      QRect(g + 205, 35, 100, 25),      // set base address
      QRect(g + 315, 35, 200, 25),      // address edit
      QRect(g + 520, 35, 100, 25),      // look up address
      QRect(g + 630, 35, 200, 25),      // symbol edit
      QRect(g + 835, 35, 100, 25),      // search symbol
      QRect(p, 65, 100, 25),            // page selector
      QRect(p + 105, 65, 150, 25),      // page summary
      QRect(0, 90, w, h - 90),          // result list
  };
}

std::vector<QRect> Placed(const CSorvantaDlg& d) {
  std::vector<QRect> placed;
  for (const QWidget* control : std::vector<const QWidget*>{
           d.pathEdit, d.browseButton, d.openButton, d.baseAddressEdit, d.setBaseAddressButton,
           d.addressEdit, d.lookUpAddressButton, d.symbolEdit, d.searchSymbolButton,
           d.pageSelector, d.pageSummary, d.resultList}) {
    placed.push_back(control->geometry());
  }
  return placed;
}

TEST_F(MainWindowTest, IsLaidOutBeforeItIsFirstShown) {
  EXPECT_EQ(Placed(dialog), Expected(998, 613));
}

TEST_F(MainWindowTest, ControlsStandWhereTheLayoutPutsThemAtEverySize) {
  dialog.show();
  // The 1000 x 600 rectangles, written out: a check of Expected() itself.
  dialog.resize(1000, 600);
  const std::vector<QRect> at1000 = Placed(dialog);
  EXPECT_EQ(at1000[0], QRect(QPoint(5, 5), QPoint(835 - 1, 30 - 1)));
  EXPECT_EQ(at1000[3], QRect(QPoint(32, 35), QPoint(232 - 1, 60 - 1)));
  EXPECT_EQ(at1000[8], QRect(QPoint(867, 35), QPoint(967 - 1, 60 - 1)));
  EXPECT_EQ(at1000[9], QRect(QPoint(372, 65), QPoint(472 - 1, 90 - 1)));
  EXPECT_EQ(at1000[10], QRect(QPoint(477, 65), QPoint(627 - 1, 90 - 1)));
  EXPECT_EQ(at1000[11], QRect(QPoint(0, 90), QPoint(1000 - 1, 600 - 1)));

  for (const QSize size : {QSize(1400, 900), QSize(1001, 601), QSize(900, 600)}) {
    dialog.resize(size);
    EXPECT_EQ(Placed(dialog), Expected(size.width(), size.height())) << size.width();
  }
  // At 900 wide the query row runs 17 pixels past the left edge and 18 past
  // the right.
  EXPECT_EQ(dialog.baseAddressEdit->geometry().left(), -17);
  EXPECT_EQ(dialog.searchSymbolButton->geometry().right() + 1, 918);
}

}  // namespace
}  // namespace sorvanta
