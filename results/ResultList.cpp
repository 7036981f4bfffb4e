#include "ResultList.h"

#include <utility>
#include <vector>

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

// The texts of a page's rows, in item order. Read in full before the list
// is touched: a symbol that throws, or memory that runs out, part-way
// through leaves the rows on screen as they were.
std::vector<RowTexts> ReadPage(const SymbolList& results, int page) {
  const PageRange range = PageItems(results.size(), page);
  std::vector<RowTexts> rows;
  rows.reserve(range.end - range.first);
  for (std::size_t i = range.first; i < range.end; ++i) rows.push_back(ReadRowTexts(results[i].get()));
  return rows;
}

void ShowRows(ResultView& view, const std::vector<RowTexts>& rows) {
  view.DeleteAllRows();
  // Each row goes in at the top, so the page's last item ends up first.
  for (const RowTexts& texts : rows) {
    const int row = view.InsertRowAtTop();
    view.SetCell(row, 1, texts.name);
    view.SetCell(row, 2, texts.tag);
    view.SetCell(row, 3, texts.address);
    view.SetCell(row, 4, texts.length);
    view.SetCell(row, 5, texts.sourceFile);
    view.SetCell(row, 6, texts.objectFile);
  }
}

}  // namespace

void RebuildResults(const SymbolList& results, ResultView& view) {
  // Everything the rebuild shows is made before the first control changes,
  // so that a failure on the way leaves the old rows, summary and selector
  // together.
  const std::size_t pages = PageCount(results.size());
  const std::wstring summary = SummaryText(pages, results.size());
  const std::vector<std::wstring> entries = PageEntryTexts(pages);
  const std::vector<RowTexts> rows = ReadPage(results, 0);

  view.DeleteAllRows();
  // Removing column 0 once per counted column removes them all.
  for (int columns = view.ColumnCount(); columns > 0; --columns) view.DeleteColumn(0);
  view.ClearSelector();

  if (results.empty()) {
    ShowMessageRow(view, kNoResultsText);
    return;
  }

  InsertColumns(view, kResultColumns);
  view.SetSummary(summary);
  view.AddSelectorEntries(entries);
  ShowRows(view, rows);
}

void ShowPage(const SymbolList& results, ResultView& view, int page) {
  // Read now, while the page is filled: nothing is kept between pages.
  ShowRows(view, ReadPage(results, page));
}

void ShowMessageRow(ResultView& view, const std::wstring& text) {
  InsertColumns(view, MessageColumns(view.ListClientWidth()));
  const int row = view.InsertRowAtTop();
  view.SetCell(row, kMessageColumn, text);
  view.SetSummary(L"");
}

void ReplaceResults(SymbolList& results, ResultView& view, SymbolList found) {
  // The view first: if it cannot be rebuilt, the old set stays with the old
  // view. Then the old references go before the new list moves in.
  RebuildResults(found, view);
  results.clear();
  results = std::move(found);
}

void SetSingleResult(SymbolList& results, ResultView& view, SymbolRef symbol) {
  SymbolList found;
  if (symbol) found.push_back(std::move(symbol));
  ReplaceResults(results, view, std::move(found));
}

void OnPageSelChange(const SymbolList& results, ResultView& view) {
  ShowPage(results, view, view.SelectedEntry());
}

}  // namespace sorvanta
