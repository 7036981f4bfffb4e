#pragma once

#include <string>
#include <vector>

#include "ResultView.h"

class QComboBox;
class QLabel;
class QString;
class QTableWidget;

namespace sorvanta {

// Puts a table into the result list's report style: column titles shown, no
// row header, grid lines, whole-row selection of one or several rows,
// nothing editable, no sorting (rows must stay where they are inserted).
// Every cell is one line: rows are one text line high, a text too long for
// its column ends in "…" and shows whole as the cell's tooltip. The copy key
// and the context menu's "复制" put the selected rows on the clipboard
// (SelectedRowsText). The main window calls it once.
void SetReportStyle(QTableWidget* table);

// The selected rows, top to bottom, as CopiedRowsText makes them: the cells
// of every titled column (the six result columns, or the message alone).
// "" when no row is selected.
QString SelectedRowsText(const QTableWidget& table);

// The result view on the main window's widgets, which it does not own:
// a QTableWidget in report style, a non-editable QComboBox as page selector
// and a QLabel as summary. The user's choice of a page is the combo box's
// `activated` signal, which the main window connects to OnPageSelChange.
class QtResultView final : public ResultView {
 public:
  QtResultView(QTableWidget* list, QComboBox* selector, QLabel* summary);

  void DeleteAllRows() override;
  int ColumnCount() const override;
  void DeleteColumn(int index) override;
  void InsertColumn(int index, const std::wstring& title, int width) override;
  int InsertRowAtTop() override;
  void SetCell(int row, int column, const std::wstring& text) override;
  int ListClientWidth() const override;

  void ClearSelector() override;
  void AddSelectorEntries(const std::vector<std::wstring>& entries) override;
  int SelectedEntry() const override;

  void SetSummary(const std::wstring& text) override;

 private:
  QTableWidget* list;
  QComboBox* selector;
  QLabel* summary;
};

}  // namespace sorvanta
