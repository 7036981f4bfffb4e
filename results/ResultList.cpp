#include "ResultList.h"

#include <utility>

#include "ResultSet.h"
#include "RowTexts.h"

namespace sorvanta {

namespace {

constexpr const wchar_t* kNoResultsText = L"未找到相关符号";

template <std::size_t N>
void InsertColumns(ResultView& view, const std::array<ColumnDef, N>& columns) {
  for (std::size_t i = 0; i < N; ++i)
    view.InsertColumn(static_cast<int>(i), columns[i].title, columns[i].width);
}

}  // namespace

void RebuildResults(const SymbolList& results, ResultView& view) {
  view.DeleteAllRows();
  // Removing column 0 once per counted column removes them all.
  for (int columns = view.ColumnCount(); columns > 0; --columns) view.DeleteColumn(0);
  view.ClearSelector();

  if (results.empty()) {
    ShowMessageRow(view, kNoResultsText);
    return;
  }

  InsertColumns(view, kResultColumns);
  const std::size_t pages = PageCount(results.size());
  view.SetSummary(SummaryText(pages, results.size()));
  view.AddSelectorEntries(PageEntryTexts(pages));
  ShowPage(results, view, 0);
}

void ShowPage(const SymbolList& results, ResultView& view, int page) {
  view.DeleteAllRows();
  const PageRange range = PageItems(results.size(), page);
  // Each row goes in at the top, so the page's last item ends up first.
  for (std::size_t i = range.first; i < range.end; ++i) {
    const int row = view.InsertRowAtTop();
    // Read now, while the row is filled: nothing is kept between pages.
    const RowTexts texts = ReadRowTexts(results[i].get());
    view.SetCell(row, 1, texts.name);
    view.SetCell(row, 2, texts.tag);
    view.SetCell(row, 3, texts.address);
    view.SetCell(row, 4, texts.length);
    view.SetCell(row, 5, texts.sourceFile);
    view.SetCell(row, 6, texts.objectFile);
  }
}

void ShowMessageRow(ResultView& view, const std::wstring& text) {
  InsertColumns(view, MessageColumns(view.ListClientWidth()));
  const int row = view.InsertRowAtTop();
  view.SetCell(row, kMessageColumn, text);
  view.SetSummary(L"");
}

void SetSingleResult(SymbolList& results, ResultView& view, SymbolRef symbol) {
  results.clear();
  if (symbol) results.push_back(std::move(symbol));
  RebuildResults(results, view);
}

void OnPageSelChange(const SymbolList& results, ResultView& view) {
  ShowPage(results, view, view.SelectedEntry());
}

}  // namespace sorvanta
