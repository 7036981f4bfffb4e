#include "ResultList.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QTest>
#include <QToolTip>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CopiedRows.h"
#include "DiaSymbol.h"
#include "FakeDia.h"
#include "ViewProbes.h"

namespace sorvanta::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Columns = decltype(Shown::columns);
using Rows = decltype(Shown::rows);

const Columns kResultColumns = {{L"", 0},       {L"符号名称", 300}, {L"类型", 100},
                                {L"地址", 100}, {L"长度", 100},     {L"源文件", 200},
                                {L"目标文件", 200}};
const Rows kMessageRows = {{L"", L"未找到相关符号", L""}};

template <class Probe>
class ResultListTest : public ::testing::Test {
 protected:
  // results = n functions "f0", "f1", ... in query order.
  void MakeFunctions(std::size_t n) {
    symbols.clear();
    results.clear();
    for (std::size_t i = 0; i < n; ++i) Add(FakeSymbol::Function(L"f" + std::to_wstring(i), 0, 16));
  }
  void Add(std::shared_ptr<FakeSymbol> symbol) {
    symbols.push_back(symbol);
    results.push_back(symbol);
  }
  void Rebuild() { RebuildResults(results, probe.View()); }
  void Show(int page) { ShowPage(results, probe.View(), page); }
  // Column 1 of the shown rows, top to bottom.
  std::vector<std::wstring> ShownNames() const {
    std::vector<std::wstring> names;
    for (const auto& row : probe.Snapshot().rows) names.push_back(row.at(1));
    return names;
  }
  // The names items [first, end) must show: the last one on top.
  static std::vector<std::wstring> Names(std::size_t first, std::size_t end) {
    std::vector<std::wstring> names;
    for (std::size_t i = end; i > first; --i) names.push_back(L"f" + std::to_wstring(i - 1));
    return names;
  }
  // Whether each symbol was read since the last call.
  std::vector<bool> TakeReads() {
    std::vector<bool> read;
    for (auto& s : symbols) read.push_back(std::exchange(s->reads, 0) != 0);
    return read;
  }
  std::vector<bool> Only(std::size_t first, std::size_t end) const {
    std::vector<bool> read(symbols.size());
    std::fill(read.begin() + first, read.begin() + end, true);
    return read;
  }

  Probe probe;
  SymbolList results;
  std::vector<std::shared_ptr<FakeSymbol>> symbols;
};

using Probes = ::testing::Types<FakeResultView, QtProbe>;
TYPED_TEST_SUITE(ResultListTest, Probes);

TYPED_TEST(ResultListTest, RebuildShowsPageZeroWithNothingLeftOfTheLastOne) {
  struct Case {
    std::size_t items;
    int pages;
  };
  for (const Case c : {Case{3, 1}, Case{44, 1}, Case{45, 1}, Case{46, 2}, Case{90, 2}, Case{91, 3}}) {
    SCOPED_TRACE(c.items);
    this->MakeFunctions(c.items);
    this->Rebuild();
    const Shown shown = this->probe.Snapshot();
    EXPECT_EQ(shown.columns, kResultColumns);
    EXPECT_EQ(shown.summary, L"共 " + std::to_wstring(c.pages) + L" 页 " + std::to_wstring(c.items) + L" 项");
    std::vector<std::wstring> entries;
    for (int p = 1; p <= c.pages; ++p) entries.push_back(L"第 " + std::to_wstring(p) + L" 页");
    EXPECT_EQ(shown.entries, entries);
    EXPECT_EQ(shown.selected, -1);
    EXPECT_EQ(this->ShownNames(), this->Names(0, std::min<std::size_t>(c.items, 45)));
  }
}

TYPED_TEST(ResultListTest, EmptySetShowsOnlyTheMessageRow) {
  this->MakeFunctions(50);
  this->Rebuild();
  this->results.clear();
  this->Rebuild();
  const Shown shown = this->probe.Snapshot();
  const int width = this->probe.ListWidth();
  EXPECT_GT(width, 600);  // the real list's inside, not some default
  EXPECT_EQ(shown.columns, (Columns{{L"", 0}, {L"搜索结果", width}, {L"", 0}}));
  EXPECT_EQ(shown.rows, kMessageRows);
  EXPECT_EQ(shown.summary, L"");
  EXPECT_THAT(shown.entries, IsEmpty());
}

TYPED_TEST(ResultListTest, RowTextsOfEachProperty) {
  auto wide = FakeSymbol::Function(L"wide", std::uint64_t{1} << 36, UINT64_MAX);
  wide->symTag = SymTagData;
  this->Add(FakeSymbol::Function(L"plain", 4096, 16));
  this->Add(FakeSymbol::Function(L"hex", 0xABCDEF, 0));
  this->Add(wide);
  this->Add(std::make_shared<FakeSymbol>());  // supplies nothing
  this->results.push_back(nullptr);           // must show like the one above
  this->Rebuild();
  const std::vector<std::wstring> nothing = {L"", L"", L"NULL", L"0X00000000", L"0", L"", L""};
  EXPECT_EQ(this->probe.Snapshot().rows,
            (Rows{nothing, nothing,
                  {L"", L"wide", L"Data", L"0X1000000000", L"-1", L"src.cpp", L"obj.obj"},
                  {L"", L"hex", L"Function", L"0X00ABCDEF", L"0", L"src.cpp", L"obj.obj"},
                  {L"", L"plain", L"Function", L"0X00001000", L"16", L"src.cpp", L"obj.obj"}}));
}

TYPED_TEST(ResultListTest, ShowPageReadsOnlyItsOwnItemsEveryTime) {
  this->MakeFunctions(91);
  this->Rebuild();
  EXPECT_EQ(this->TakeReads(), this->Only(0, 45));
  this->Show(2);
  EXPECT_EQ(this->ShownNames(), this->Names(90, 91));
  EXPECT_EQ(this->TakeReads(), this->Only(90, 91));
  this->Show(1);
  EXPECT_EQ(this->ShownNames(), this->Names(45, 90));
  EXPECT_EQ(this->TakeReads(), this->Only(45, 90));
  this->symbols[90]->name = L"renamed";  // nothing may be kept between pages
  this->Show(2);
  EXPECT_THAT(this->ShownNames(), ElementsAre(L"renamed"));
  EXPECT_EQ(this->probe.Snapshot().summary, L"共 3 页 91 项");
  EXPECT_EQ(this->probe.Snapshot().entries.size(), 3u);
}

TYPED_TEST(ResultListTest, PagesOutsideTheSetShowAndReadNothing) {
  this->MakeFunctions(46);
  this->Rebuild();
  for (int page : {2, 3, INT_MAX, -1, INT_MIN}) {
    SCOPED_TRACE(page);
    this->Show(0);
    this->TakeReads();
    this->Show(page);
    EXPECT_THAT(this->probe.Snapshot().rows, IsEmpty());
    EXPECT_EQ(this->TakeReads(), this->Only(0, 0));
  }
  EXPECT_EQ(this->probe.Snapshot().columns, kResultColumns);
}

TYPED_TEST(ResultListTest, SelectorChoiceShowsThatPage) {
  this->MakeFunctions(100);
  this->Rebuild();
  OnPageSelChange(this->results, this->probe.View());  // nothing chosen yet
  EXPECT_THAT(this->probe.Snapshot().rows, IsEmpty());
  this->probe.Choose(2);
  OnPageSelChange(this->results, this->probe.View());
  EXPECT_EQ(this->ShownNames(), this->Names(90, 100));
  this->Rebuild();
  this->probe.Choose(0);
  OnPageSelChange(this->results, this->probe.View());
  EXPECT_EQ(this->ShownNames(), this->Names(0, 45));
}

TYPED_TEST(ResultListTest, SetSingleResultReplacesTheSet) {
  this->MakeFunctions(3);
  auto found = FakeSymbol::Function(L"found", 4096, 16);
  SetSingleResult(this->results, this->probe.View(), found);
  EXPECT_THAT(this->results, ElementsAre(found));
  EXPECT_EQ(this->probe.Snapshot().summary, L"共 1 页 1 项");
  EXPECT_THAT(this->probe.Snapshot().entries, ElementsAre(L"第 1 页"));
  EXPECT_THAT(this->ShownNames(), ElementsAre(L"found"));
  SetSingleResult(this->results, this->probe.View(), nullptr);
  EXPECT_THAT(this->results, IsEmpty());
  EXPECT_EQ(this->probe.Snapshot().rows, kMessageRows);
}

TYPED_TEST(ResultListTest, RowsOfARealPdbStayTheSameAfterItsFileWasReplaced) {
  DiaSymbol dia;
  ASSERT_TRUE(dia.Open(L"" SORVANTA_FIXTURES_DIR "/sample-x64.pdb"));
  this->results = dia.FindFunctionsByName(L"");
  this->Rebuild();
  const Shown first = this->probe.Snapshot();
  EXPECT_EQ(first.summary, L"共 1 页 17 项");
  ASSERT_EQ(first.rows.size(), 17u);
  // The last function on top, the first at the bottom.
  EXPECT_THAT(first.rows.front(), ElementsAre(L"", L"LibraryHelper", L"Function", L"0X000012F0", L"25",
                                              L"C:\\src\\libpart.cpp", L"libpart.obj"));
  EXPECT_THAT(first.rows.back(), ElementsAre(L"", L"entry", L"Function", L"0X00001000", L"258",
                                             L"C:\\src\\main.cpp", L"C:\\src\\main.obj"));

  // Another file opened, then none: the shown symbols still read the same.
  ASSERT_TRUE(dia.Open(L"" SORVANTA_FIXTURES_DIR "/sample-x86.pdb"));
  this->Show(0);
  EXPECT_EQ(this->probe.Snapshot().rows, first.rows);
  EXPECT_FALSE(dia.Open(L"" SORVANTA_FIXTURES_DIR "/missing.pdb"));
  this->Show(0);
  EXPECT_EQ(this->probe.Snapshot().rows, first.rows);
}

TEST(ResultListLargeSet, MillionItemsReadOnePageAndAddEntriesInOneBatch) {
  auto symbol = FakeSymbol::Function(L"f", 0, 0);
  FakeResultView view;
  RebuildResults(SymbolList(1000000, symbol), view);
  EXPECT_EQ(view.entryBatches, 1);
  ASSERT_EQ(view.s.entries.size(), 22223u);
  EXPECT_EQ(view.s.entries.back(), L"第 22223 页");
  EXPECT_EQ(view.s.summary, L"共 22223 页 1000000 项");
  EXPECT_EQ(view.s.rows.size(), 45u);
  EXPECT_EQ(symbol->reads, 45 * 6);
}

TEST(QtResultView, ReportStyleWithCentredReadOnlyCells) {
  QtProbe probe;
  QTableWidget* table = probe.table;
  EXPECT_TRUE(table->horizontalHeader()->isVisible());
  EXPECT_FALSE(table->verticalHeader()->isVisible());
  EXPECT_TRUE(table->showGrid());
  EXPECT_EQ(table->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(table->editTriggers(), QAbstractItemView::NoEditTriggers);
  RebuildResults({FakeSymbol::Function(L"a", 0, 0)}, probe.view);
  for (int c = 0; c < table->columnCount(); ++c) {
    EXPECT_EQ(table->horizontalHeaderItem(c)->textAlignment(), Qt::AlignCenter);
    if (c == 0) continue;  // the row's own text is never set
    EXPECT_EQ(table->item(0, c)->textAlignment(), Qt::AlignCenter);
    EXPECT_FALSE(table->item(0, c)->flags() & Qt::ItemIsEditable);
  }
}

// The main window connects `activated` to OnPageSelChange: a user stepping
// through the selector with the keyboard gets each entry's page.
TEST(QtResultView, UserChoiceThroughActivatedShowsThatPage) {
  QtProbe probe;
  const SymbolList results(100, FakeSymbol::Function(L"f", 0, 0));
  QObject::connect(probe.selector, &QComboBox::activated, [&] { OnPageSelChange(results, probe.view); });
  RebuildResults(results, probe.view);
  for (const int rows : {45, 45, 10}) {
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(probe.selector, &down);
    EXPECT_EQ(probe.table->rowCount(), rows);
  }
}

// A release build's object path and a template name with spaces, the texts
// that used to wrap at "d:" and at the spaces.
const std::wstring kLongPath =
    L"d:\\os\\obj\\x86fre\\minkernel\\crts\\ucrt\\src\\appcrt\\startup\\mt\\objfre\\i386\\"
    L"onexit.obj";
const std::wstring kLongName =
    L"std::basic_string<char, std::char_traits<char>, std::allocator<char> >::_Reallocate_grow_by";

std::shared_ptr<FakeSymbol> LongFunction() {
  auto s = FakeSymbol::Function(kLongName, 0x401000, 16);
  s->objectFileName = kLongPath;
  return s;
}

// Sends the tooltip request a user's hovering makes over cell (row, column)
// and returns the tooltip then shown, "" for none.
QString HoverToolTip(QTableWidget& table, int row, int column) {
  QToolTip::hideText();  // hides after a short delay
  if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000)) return QStringLiteral("stuck");
  const QPoint at = table.visualRect(table.model()->index(row, column)).center();
  QHelpEvent hover(QEvent::ToolTip, at, table.viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(table.viewport(), &hover);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

TEST(QtResultView, EachCellIsOneLineEndingInAnEllipsisWhenCut) {
  QtProbe probe;
  QTableWidget& table = *probe.table;
  RebuildResults({LongFunction()}, probe.view);
  const QFontMetrics metrics = table.fontMetrics();
  // One line plus a few pixels of padding, not the two lines of Qt's
  // default row, and never less than the text itself.
  EXPECT_GE(table.rowHeight(0), metrics.height());
  EXPECT_LE(table.rowHeight(0), metrics.lineSpacing() + 8);
  // Fitted to what its cells need as they are drawn: with wrapping, the
  // path and the name in their 200 and 300 pixels would need several lines.
  const int oneLine = table.rowHeight(0);
  table.resizeRowToContents(0);
  EXPECT_LE(table.rowHeight(0), oneLine);
  EXPECT_FALSE(table.wordWrap());
  EXPECT_EQ(table.textElideMode(), Qt::ElideRight);
  EXPECT_FALSE(table.verticalHeader()->isVisible());
  // The message row too.
  RebuildResults({}, probe.view);
  EXPECT_LE(table.rowHeight(0), metrics.lineSpacing() + 8);
}

TEST(QtResultView, ACutCellShowsItsWholeTextAsTooltipAndAWholeOneNone) {
  QtProbe probe;
  QTableWidget& table = *probe.table;
  RebuildResults({LongFunction()}, probe.view);
  EXPECT_EQ(HoverToolTip(table, 0, 6).toStdWString(), kLongPath);
  EXPECT_EQ(HoverToolTip(table, 0, 1).toStdWString(), kLongName);
  EXPECT_EQ(HoverToolTip(table, 0, 2), "");  // "Function"
  EXPECT_EQ(HoverToolTip(table, 0, 3), "");  // "0X00401000"
  // Widened until the path fits: no tooltip any more.
  table.setColumnWidth(6, table.fontMetrics().horizontalAdvance(QString::fromStdWString(kLongPath)) + 40);
  EXPECT_EQ(HoverToolTip(table, 0, 6), "");
  QToolTip::hideText();
}

// Rows a, b, c show as c, b, a; the copy is in that order, whatever order
// the rows were selected in.
TEST(QtResultView, CopyKeyAndMenuCopyTheSelectedRowsAsTabSeparatedLines) {
  QtProbe probe;
  QTableWidget& table = *probe.table;
  probe.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&probe.window));
  table.setFocus();
  RebuildResults({FakeSymbol::Function(L"a", 0x1000, 1), FakeSymbol::Function(L"b", 0x2000, 2),
                  FakeSymbol::Function(L"c", 0x3000, 3)},
                 probe.view);
  EXPECT_EQ(table.selectionMode(), QAbstractItemView::ExtendedSelection);
  QClipboard& clipboard = *QApplication::clipboard();
  clipboard.setText(QStringLiteral("before"));
  table.clearSelection();
  QTest::keySequence(&table, QKeySequence::Copy);
  EXPECT_EQ(clipboard.text(), "before") << "nothing selected, nothing copied";

  table.selectRow(2);
  QTest::mouseClick(table.viewport(), Qt::LeftButton, Qt::ControlModifier,
                    table.visualRect(table.model()->index(0, 3)).center());
  ASSERT_EQ(table.selectionModel()->selectedRows().size(), 2);
  QTest::keySequence(&table, QKeySequence::Copy);
  const QString both = QStringLiteral(
      "c\tFunction\t0X00003000\t3\tsrc.cpp\tobj.obj\n"
      "a\tFunction\t0X00001000\t1\tsrc.cpp\tobj.obj\n");
  EXPECT_EQ(clipboard.text(), both);

  clipboard.clear();
  const QList<QAction*> actions = table.actions();
  ASSERT_EQ(actions.size(), 1);
  EXPECT_EQ(actions.front()->text(), "复制");
  EXPECT_EQ(table.contextMenuPolicy(), Qt::ActionsContextMenu);
  actions.front()->trigger();
  EXPECT_EQ(clipboard.text(), both);

  RebuildResults({}, probe.view);
  table.selectRow(0);
  actions.front()->trigger();
  EXPECT_EQ(clipboard.text(), "未找到相关符号\n");
}

TEST(CopiedRowsText, TabsAndLineBreaksInsideACellBecomeSpaces) {
  EXPECT_EQ(CopiedRowsText({{L"a\tb", L"c\r\nd"}, {L"", L"e"}}), L"a b\tc  d\n\te\n");
  EXPECT_EQ(CopiedRowsText({}), L"");
}

}  // namespace
}  // namespace sorvanta::testing
