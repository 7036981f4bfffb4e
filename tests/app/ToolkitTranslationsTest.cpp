// Qt's own texts in the user's language; the program's own texts the same
// in every language.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTranslator>
#include <memory>

#include "DialogProbe.h"
#include "ToolkitTranslations.h"

namespace sorvanta {
namespace {

bool HasChinese(const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) return true;
  }
  return false;
}

// The texts Qt itself puts on screen: the message box's button, an edit
// box's context menu and the file dialog's labels.
struct ToolkitTexts {
  QString okButton;
  QStringList editMenu;
  QStringList fileDialogLabels;
};

ToolkitTexts Read() {
  ToolkitTexts t;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("sorvanta"), QStringLiteral("x"), QMessageBox::Ok);
  t.okButton = box.button(QMessageBox::Ok)->text();
  QLineEdit edit;
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  for (const QAction* action : menu->actions()) {
    if (!action->isSeparator()) t.editMenu << action->text();
  }
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  for (const QLabel* label : dialog.findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) t.fileDialogLabels << label->text();
  }
  return t;
}

class ToolkitTranslationsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (translator != nullptr) {
      QCoreApplication::removeTranslator(translator);
      delete translator;  // owned by the application until removed here
    }
  }
  QTranslator* translator = nullptr;
};

TEST_F(ToolkitTranslationsTest, ChineseLocaleGivesChineseToolkitTexts) {
  const ToolkitTexts english = Read();
  ASSERT_EQ(english.okButton, "OK");
  translator = InstallToolkitTranslations(*qApp, QLocale(QStringLiteral("zh_CN")));
  ASSERT_NE(translator, nullptr) << "Qt's Chinese translation is missing "
                                    "(Debian package qt6-translations-l10n)";
  const ToolkitTexts chinese = Read();
  EXPECT_TRUE(HasChinese(chinese.okButton)) << chinese.okButton.toStdString();
  EXPECT_TRUE(HasChinese(chinese.editMenu.join(' '))) << chinese.editMenu.join(' ').toStdString();
  ASSERT_FALSE(chinese.fileDialogLabels.isEmpty());
  for (const QString& label : chinese.fileDialogLabels) {
    EXPECT_FALSE(english.fileDialogLabels.contains(label)) << label.toStdString();
  }
}

TEST_F(ToolkitTranslationsTest, EnglishLocaleKeepsEnglish) {
  const ToolkitTexts before = Read();
  translator = InstallToolkitTranslations(*qApp, QLocale(QStringLiteral("en_US")));
  const ToolkitTexts after = Read();
  EXPECT_EQ(after.okButton, "OK");
  EXPECT_EQ(after.editMenu, before.editMenu);
  EXPECT_EQ(after.fileDialogLabels, before.fileDialogLabels);
}

TEST_F(ToolkitTranslationsTest, TheProgramsOwnTextsStayTheSameInChinese) {
  translator = InstallToolkitTranslations(*qApp, QLocale(QStringLiteral("zh_CN")));
  ASSERT_NE(translator, nullptr);
  testing::FakeWindowOperations operations;
  CSorvantaDlg dialog{operations};
  EXPECT_EQ(dialog.windowTitle(), "Sorvanta V1.0");
  EXPECT_EQ(dialog.browseButton->text(), "...");
  EXPECT_EQ(dialog.openButton->text(), "打开文件");
  EXPECT_EQ(dialog.setBaseAddressButton->text(), "设置基地址");
  EXPECT_EQ(dialog.lookUpAddressButton->text(), "查地址");
  EXPECT_EQ(dialog.searchSymbolButton->text(), "搜符号");
  EXPECT_EQ(dialog.pageSummary->text(), "共 0 页 0 项");
  ASSERT_EQ(dialog.resultList->actions().size(), 1);
  EXPECT_EQ(dialog.resultList->actions().front()->text(), "复制");
  dialog.OnSearchSymbol();
  EXPECT_EQ(dialog.resultList->item(0, 1)->text(), "未找到相关符号");
}

}  // namespace
}  // namespace sorvanta
