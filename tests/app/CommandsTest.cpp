// The five commands and the page selector, on the real main window with the
// fixture PDBs; messages and the file dialog are answered by a fake.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "DialogProbe.h"
#include "TempDir.h"
#include "TestPdbWriter.h"

namespace sorvanta {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeWindowOperations;
using testing::kX64;
using testing::kX86;
using testing::Read;
using testing::Screen;

const std::vector<std::string> kResultHeaders{"",     "符号名称", "类型",    "地址",
                                              "长度", "源文件",   "目标文件"};

// The message row "未找到相关符号", with an empty selector and summary.
Screen NothingFound() {
  Screen s;
  s.headers = {"", "搜索结果", ""};
  s.rows = {{"未找到相关符号", ""}};
  return s;
}

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::DropSession(); }

  // Each types into its box and presses its button, as a user would.
  void Open(const std::string& path) { Run(dialog.pathEdit, path, dialog.openButton); }
  void Search(const std::string& name) { Run(dialog.symbolEdit, name, dialog.searchSymbolButton); }
  void LookUp(const std::string& address) {
    Run(dialog.addressEdit, address, dialog.lookUpAddressButton);
  }
  void SetBase(const std::string& address) {
    Run(dialog.baseAddressEdit, address, dialog.setBaseAddressButton);
  }
  // Picks a page in the selector with the keyboard, as the user can.
  void ChoosePage(int page) {
    QComboBox* selector = dialog.pageSelector;
    while (selector->currentIndex() < page) QTest::keyClick(selector, Qt::Key_Down);
    while (selector->currentIndex() > page) QTest::keyClick(selector, Qt::Key_Up);
  }

  // Column texts of the rows on screen, top row first.
  std::vector<std::string> Column(int column) const {
    std::vector<std::string> texts;
    for (const auto& row : Read(dialog).rows) texts.push_back(row.at(column - 1));
    return texts;
  }

  FakeWindowOperations operations;
  CSorvantaDlg dialog{operations};

 private:
  void Run(QLineEdit* edit, const std::string& text, QPushButton* button) {
    edit->setText(QString::fromStdString(text));
    QTest::mouseClick(button, Qt::LeftButton);
  }
};

TEST_F(CommandsTest, SearchAndLookUpWithoutAnOpenFileShowTheMessageRowOnly) {
  Search("");
  EXPECT_EQ(Read(dialog), NothingFound());
  LookUp("401000");
  EXPECT_EQ(Read(dialog), NothingFound());
  EXPECT_THAT(operations.messages, IsEmpty());

  // After a failed open, too.
  Open(kX64);
  Search("");
  ASSERT_FALSE(Read(dialog).pages.empty());
  Open(testing::kFixtures + "/no-such.pdb");
  EXPECT_THAT(operations.messages, ElementsAre("打开 PDB 文件失败!"));
  Search("");
  EXPECT_EQ(Read(dialog), NothingFound());
  LookUp("1000");
  EXPECT_EQ(Read(dialog), NothingFound());
  EXPECT_EQ(operations.messages.size(), 1u);
}

TEST_F(CommandsTest, EveryPathThatIsNoPdbIsReportedOnceAndLeavesNoFileOpen) {
  const std::string notPdb[] = {"", testing::kFixtures, testing::kFixtures + "/sample-x64.exe",
                                testing::kFixtures + "/src/main.cpp", "\"" + kX64 + "\""};
  for (const std::string& path : notPdb) {
    Open(kX64);
    Open(path);
    EXPECT_EQ(DiaSymbol::Instance().session, nullptr) << path;
  }
  EXPECT_EQ(operations.messages,
            std::vector<std::string>(std::size(notPdb), "打开 PDB 文件失败!"));
}

TEST_F(CommandsTest, OpeningShowsNothingAndAnEmptySearchListsEveryFunctionLastFirst) {
  Open(kX64);
  EXPECT_THAT(operations.messages, IsEmpty());
  Screen unchanged;
  unchanged.summary = "共 0 页 0 项";
  EXPECT_EQ(Read(dialog), unchanged);

  Search("");
  const Screen s = Read(dialog);
  EXPECT_EQ(s.headers, kResultHeaders);
  EXPECT_EQ(s.summary, "共 1 页 17 项");
  EXPECT_THAT(s.pages, ElementsAre("第 1 页"));
  EXPECT_EQ(s.selectedPage, -1);

  std::vector<std::string> enumerated;
  for (const SymbolRef& symbol : DiaSymbol::Instance().FindFunctionsByName(L"")) {
    std::wstring name;
    symbol->get_name(&name);
    enumerated.insert(enumerated.begin(), WideToUtf8(name));
  }
  EXPECT_EQ(Column(1), enumerated);
  EXPECT_EQ(Column(2), std::vector<std::string>(17, "Function"));

  // Choosing the one page shows it again.
  ChoosePage(0);
  EXPECT_EQ(Read(dialog).rows, s.rows);
  EXPECT_EQ(Read(dialog).selectedPage, 0);
}

TEST_F(CommandsTest, SearchUsesTheNameAsTypedWithoutRegardToCase) {
  Open(kX64);
  Search("GEO::shape::AREA");
  const Screen s = Read(dialog);
  ASSERT_EQ(s.rows.size(), 1u);
  EXPECT_EQ(s.rows[0][0], "geo::Shape::Area");
  EXPECT_EQ(s.rows[0][4], "C:\\src\\shapes.h");
  EXPECT_EQ(s.summary, "共 1 页 1 项");

  Search(" geo::Shape::Area");  // not trimmed
  EXPECT_EQ(Read(dialog), NothingFound());
}

TEST_F(CommandsTest, OpeningAnotherFileOrFailingToLeavesTheResultsOnScreen) {
  Open(kX64);
  Search("");
  const Screen x64 = Read(dialog);

  Open(kX86);
  EXPECT_EQ(Read(dialog), x64);
  Open(" " + kX86);  // the path exactly as typed: no such file
  EXPECT_EQ(Read(dialog), x64);
  EXPECT_THAT(operations.messages, ElementsAre("打开 PDB 文件失败!"));
  EXPECT_EQ(dialog.results.size(), 17u);

  Open(kX86);
  Search("entry");
  EXPECT_THAT(Column(3), ElementsAre("0X00001000"));
}

TEST_F(CommandsTest, LookUpShowsTheFunctionAtTheAddressOrTheMessageRow) {
  Open(kX86);
  for (const char* typed : {"1000", "0x1000", "  1000", "1000h"}) {
    LookUp(typed);
    const Screen s = Read(dialog);
    EXPECT_THAT(Column(1), ElementsAre("entry")) << typed;
    EXPECT_EQ(s.summary, "共 1 页 1 项");
    EXPECT_THAT(s.pages, ElementsAre("第 1 页"));
  }
  LookUp("FFF");
  EXPECT_EQ(Read(dialog), NothingFound());
  EXPECT_THAT(operations.messages, IsEmpty());
}

TEST_F(CommandsTest, AddressesReadAsZeroOrTooLongDoNothing) {
  Open(kX86);
  Search("entry");
  const Screen before = Read(dialog);
  for (const char* typed : {"", "0", "0x0", "g12", "   ", "10000000000000000"}) {
    LookUp(typed);
    SetBase(typed);
    EXPECT_EQ(Read(dialog), before) << '"' << typed << '"';
  }
  EXPECT_THAT(operations.messages, IsEmpty());
  Search("entry");  // the load address is unchanged
  EXPECT_THAT(Column(3), ElementsAre("0X00001000"));
}

TEST_F(CommandsTest, SettingABaseAddressWithNoFileOpenFails) {
  SetBase("400000");
  EXPECT_THAT(operations.messages, ElementsAre("设置失败."));
  Open("no-such.pdb");
  SetBase("400000");
  EXPECT_THAT(operations.messages, ElementsAre("设置失败.", "打开 PDB 文件失败!", "设置失败."));
  EXPECT_EQ(DiaSymbol::Instance().session, nullptr);
}

TEST_F(CommandsTest, ABaseAddressShiftsLaterRowsButNotTheRowsOnScreen) {
  Open(kX86);
  Search("entry");
  ChoosePage(0);
  SetBase("400000");
  EXPECT_THAT(operations.messages, ElementsAre("设置成功."));
  EXPECT_THAT(Column(3), ElementsAre("0X00001000"));  // not redrawn

  // Choosing the page already chosen, in the drop-down list, fills it anew.
  dialog.show();
  dialog.pageSelector->showPopup();
  QAbstractItemView* pages = dialog.pageSelector->view();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(pages->window()));
  QTest::mouseClick(pages->viewport(), Qt::LeftButton, {},
                    pages->visualRect(pages->model()->index(0, 0)).center());
  EXPECT_THAT(Column(3), ElementsAre("0X00401000"));
  LookUp("401000");
  EXPECT_THAT(Column(1), ElementsAre("entry"));
  LookUp("1000");
  EXPECT_EQ(Read(dialog), NothingFound());

  // A base that would push functions past 64 bits is refused.
  SetBase("-1");
  EXPECT_THAT(operations.messages, ElementsAre("设置成功.", "设置失败."));
  Search("entry");
  EXPECT_THAT(Column(3), ElementsAre("0X00401000"));
}

TEST_F(CommandsTest, BrowseFillsThePathWithTheChoiceOrEmptiesItAndOpensNothing) {
  dialog.pathEdit->setText("typed.pdb");
  QTest::mouseClick(dialog.browseButton, Qt::LeftButton);
  EXPECT_EQ(dialog.pathEdit->text(), "");
  ASSERT_EQ(operations.fileDialogs.size(), 1u);
  EXPECT_EQ(operations.fileDialogs[0].initialName, L"");
  EXPECT_EQ(operations.fileDialogs[0].defaultExtension, L".pdb");
  EXPECT_EQ(operations.fileDialogs[0].filter, L"*.pdb | *.pdb|");

  operations.choice = Utf8ToWide(kX64);
  QTest::mouseClick(dialog.browseButton, Qt::LeftButton);
  EXPECT_EQ(dialog.pathEdit->text().toStdString(), kX64);
  EXPECT_EQ(DiaSymbol::Instance().session, nullptr);
  EXPECT_THAT(operations.messages, IsEmpty());
}

std::string FunctionName(int i) {
  char name[8];
  std::snprintf(name, sizeof name, "f%03d", i);
  return name;
}

// 100 functions f000..f099, 16 bytes apart from 0x1000: three pages.
std::string WriteHundredFunctions(const testing::TempDir& dir) {
  testing::TestPdb pdb;
  pdb.sectionAddresses = {0x1000};
  testing::TestModule module;
  module.name = module.objectFile = "many.obj";
  constexpr std::uint16_t kGlobalProcedure = 0x1110;  // S_GPROC32
  for (int i = 0; i < 100; ++i) {
    module.symbols.BeginProc(kGlobalProcedure, FunctionName(i), 1, 0x10 * i, 0x10);
    module.symbols.EndProc();
  }
  pdb.modules.push_back(module);
  const std::string path = dir.File("many.pdb");
  EXPECT_TRUE(testing::WriteTestPdb(pdb, path));
  return path;
}

std::vector<std::string> Names(int from, int downTo) {
  std::vector<std::string> names;
  for (int i = from; i >= downTo; --i) names.push_back(FunctionName(i));
  return names;
}

TEST_F(CommandsTest, ALongResultIsPagedAndEveryPageCanBeChosen) {
  const testing::TempDir dir;
  Open(WriteHundredFunctions(dir));
  Search("");
  Screen s = Read(dialog);
  EXPECT_EQ(s.summary, "共 3 页 100 项");
  EXPECT_THAT(s.pages, ElementsAre("第 1 页", "第 2 页", "第 3 页"));
  EXPECT_EQ(Column(1), Names(44, 0));

  ChoosePage(2);
  EXPECT_EQ(Column(1), Names(99, 90));
  EXPECT_EQ(Column(3).front(), "0X00001630");  // f099 at 0x1000 + 99 * 16
  ChoosePage(1);
  EXPECT_EQ(Column(1), Names(89, 45));
  ChoosePage(0);
  EXPECT_EQ(Column(1), Names(44, 0));
  s = Read(dialog);
  EXPECT_EQ(s.summary, "共 3 页 100 项");  // paging leaves the summary alone
  EXPECT_EQ(s.pages.size(), 3u);
}

// Double-clicking rows runs nothing and changes nothing; several rows can
// be selected and copied in the order shown.
TEST_F(CommandsTest, DoubleClickDoesNothingAndSelectedRowsCopyAsShown) {
  Open(kX64);
  Search("");
  const Screen before = Read(dialog);
  QTableWidget& list = *dialog.resultList;
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, Qt::NoModifier,
                     list.visualRect(list.model()->index(1, 1)).center());
  EXPECT_EQ(Read(dialog), before);
  EXPECT_TRUE(list.findChildren<QLineEdit*>().isEmpty()) << "an editor opened";
  EXPECT_THAT(operations.messages, IsEmpty());
  EXPECT_THAT(operations.fileDialogs, IsEmpty());

  list.selectAll();
  std::string all;
  for (const auto& row : before.rows) {
    for (std::size_t c = 0; c < row.size(); ++c) all += (c > 0 ? "\t" : "") + row[c];
    all += "\n";
  }
  EXPECT_EQ(SelectedRowsText(list).toStdString(), all);
}

}  // namespace
}  // namespace sorvanta
