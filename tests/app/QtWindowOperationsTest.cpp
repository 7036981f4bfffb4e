// The real message box and file dialog, answered from inside their own
// modal loops.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "CSorvantaDlg.h"
#include "QtWindowOperations.h"
#include "TempDir.h"
#include "Utf8.h"

namespace sorvanta {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Runs answer on the modal window of type T once it is up; any other modal
// window is closed, so that a failing test cannot hang.
template <class T>
void WhenShown(std::function<void(T&)> answer) {
  QTimer::singleShot(0, [answer] {
    QWidget* modal = QApplication::activeModalWidget();
    if (T* window = qobject_cast<T*>(modal)) {
      answer(*window);
    } else {
      ADD_FAILURE() << "the expected modal window is not up";
      if (modal != nullptr) modal->close();
    }
  });
}

class QtWindowOperationsTest : public ::testing::Test {
 protected:
  QWidget mainWindow;
  QtWindowOperations operations{&mainWindow};
};

TEST_F(QtWindowOperationsTest, AMessageIsAModalWarningWithOnlyOkOverTheMainWindow) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QString title, text;
  QWidget* owner = nullptr;
  bool modal = false;
  WhenShown<QMessageBox>([&](QMessageBox& box) {
    icon = box.icon();
    buttons = box.standardButtons();
    title = box.windowTitle();
    text = box.text();
    owner = box.parentWidget();
    modal = box.isModal();
    box.button(QMessageBox::Ok)->click();
  });
  operations.ShowMessage(L"设置成功.");
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(buttons, QMessageBox::Ok);
  EXPECT_EQ(title, "app_tests");  // the executable's name
  EXPECT_EQ(text, "设置成功.");
  EXPECT_EQ(owner, &mainWindow);
  EXPECT_TRUE(modal);
}

TEST_F(QtWindowOperationsTest, TheFileDialogOffersOneFilterAndGivesNothingOnCancel) {
  QFileDialog::AcceptMode mode = QFileDialog::AcceptSave;
  QStringList filters;
  QString suffix;
  QWidget* owner = nullptr;
  WhenShown<QFileDialog>([&](QFileDialog& dialog) {
    mode = dialog.acceptMode();
    filters = dialog.nameFilters();
    suffix = dialog.defaultSuffix();
    owner = dialog.parentWidget();
    dialog.reject();
  });
  EXPECT_EQ(operations.ShowOpenFileDialog(L"", L".pdb", L"*.pdb | *.pdb|"), L"");
  EXPECT_EQ(mode, QFileDialog::AcceptOpen);
  EXPECT_EQ(filters, QStringList{"*.pdb (*.pdb)"});
  EXPECT_EQ(suffix, "pdb");
  EXPECT_EQ(owner, &mainWindow);
}

TEST_F(QtWindowOperationsTest, TheFileDialogGivesTheFullPathWithTheDefaultExtension) {
  const testing::TempDir dir;
  // Qt tests a typed name for being a folder relative to the working
  // folder, so the name must not be one there (the source tree has symbols/).
  for (const char* typed : {"module.pdb", "module"}) {
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
      dialog.setDirectory(QString::fromStdString(dir.path().string()));
      QTest::keyClicks(dialog.focusWidget(), typed);  // into the file name box
      QMetaObject::invokeMethod(&dialog, "accept");  // what the Open button does
    });
    EXPECT_EQ(WideToUtf8(operations.ShowOpenFileDialog(L"", L".pdb", L"*.pdb | *.pdb|")),
              dir.File("module.pdb"))
        << typed;
  }
}

TEST(QtWindowOperationsOwner, TheMainWindowOwnsItsOwnMessages) {
  CSorvantaDlg dialog;
  QWidget* owner = nullptr;
  WhenShown<QMessageBox>([&](QMessageBox& box) {
    owner = box.parentWidget();
    box.button(QMessageBox::Ok)->click();
  });
  dialog.pathEdit->setText("no-such.pdb");
  QTest::mouseClick(dialog.openButton, Qt::LeftButton);
  EXPECT_EQ(owner, &dialog);
}

TEST(NameFilters, TurnsDisplayAndPatternPairsIntoQtFilters) {
  EXPECT_THAT(NameFilters(L"*.pdb | *.pdb|"), ElementsAre("*.pdb (*.pdb)"));
  EXPECT_THAT(NameFilters(L"PDB|*.pdb|All|*|"), ElementsAre("PDB (*.pdb)", "All (*)"));
  EXPECT_THAT(NameFilters(L"PDB|*.pdb||*|"), ElementsAre("PDB (*.pdb)"));
  EXPECT_THAT(NameFilters(L"PDB"), IsEmpty());
  EXPECT_THAT(NameFilters(L""), IsEmpty());
}

}  // namespace
}  // namespace sorvanta
