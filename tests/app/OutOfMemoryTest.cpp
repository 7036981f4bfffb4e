// Running out of memory inside a command, through the buttons' and the
// selector's real signals, with fake symbols behind the process-wide
// session whose getters throw std::bad_alloc.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "DialogProbe.h"
#include "FakeDia.h"

namespace sorvanta::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class OutOfMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DropSession();
    session->globalScope = scope;
    DiaSymbol::Instance().session = session;
  }
  void TearDown() override { DiaSymbol::Instance().session.reset(); }

  // A search whose session lists symbols.
  void Search(const std::vector<std::shared_ptr<FakeSymbol>>& symbols) {
    scope->children = std::make_shared<FakeEnumSymbols>(std::vector<SymbolRef>(symbols.begin(), symbols.end()));
    QTest::mouseClick(dialog.searchSymbolButton, Qt::LeftButton);
  }
  static std::vector<std::shared_ptr<FakeSymbol>> Functions(int n) {
    std::vector<std::shared_ptr<FakeSymbol>> symbols;
    for (int i = 0; i < n; ++i) symbols.push_back(FakeSymbol::Function(L"f" + std::to_wstring(i), 0x1000, 16));
    return symbols;
  }

  std::shared_ptr<FakeSymbol> scope = std::make_shared<FakeSymbol>();
  std::shared_ptr<FakeSession> session = std::make_shared<FakeSession>();
  FakeWindowOperations operations;
  CSorvantaDlg dialog{operations};
};

TEST_F(OutOfMemoryTest, ACommandThatRunsOutOfMemoryIsReportedAndLeavesTheWindowAsItWas) {
  const auto shown = Functions(50);
  Search(shown);
  const Screen before = Read(dialog);
  ASSERT_EQ(before.summary, "共 2 页 50 项");
  ASSERT_THAT(operations.messages, IsEmpty());

  // A search whose first page runs out of memory half-way.
  auto next = Functions(60);
  next[20]->outOfMemory = true;
  Search(next);
  EXPECT_THAT(operations.messages, ElementsAre("Out of memory."));
  EXPECT_EQ(Read(dialog), before);
  EXPECT_EQ(dialog.results.size(), 50u);

  // A look-up that finds such a symbol.
  session->symbolAtVA = next[20];
  dialog.addressEdit->setText("1000");
  QTest::mouseClick(dialog.lookUpAddressButton, Qt::LeftButton);
  EXPECT_THAT(operations.messages, ElementsAre("Out of memory.", "Out of memory."));
  EXPECT_EQ(Read(dialog), before);

  // A page that runs out of memory keeps the rows of the page shown
  // before, and the selector goes back to that page's entry.
  shown[47]->outOfMemory = true;
  QTest::keyClick(dialog.pageSelector, Qt::Key_Down);  // "第 1 页"
  QTest::keyClick(dialog.pageSelector, Qt::Key_Down);  // "第 2 页"
  EXPECT_EQ(operations.messages.size(), 3u);
  Screen pageKept = before;
  pageKept.selectedPage = 0;
  EXPECT_EQ(Read(dialog), pageKept);

  // The program goes on: the next search works.
  Search(Functions(3));
  EXPECT_EQ(Read(dialog).summary, "共 1 页 3 项");
  EXPECT_EQ(operations.messages.size(), 3u);
}

}  // namespace
}  // namespace sorvanta::testing
