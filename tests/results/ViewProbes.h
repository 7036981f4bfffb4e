#pragma once

// What the result operations left on screen, seen two ways: a fake view that
// keeps what the controls would show, and the real Qt widgets read back.
// Both give a Snapshot(), so one typed suite runs on either.

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QTableWidget>

#include "QtResultView.h"

namespace sorvanta::testing {

struct Shown {
  std::vector<std::pair<std::wstring, int>> columns;  // title, width
  std::vector<std::vector<std::wstring>> rows;       // top to bottom
  std::vector<std::wstring> entries;
  int selected = -1;
  std::wstring summary;
};

// Throws, failing the test, on an index no real control would accept.
class FakeResultView : public ResultView {
 public:
  void DeleteAllRows() override { s.rows.clear(); }
  int ColumnCount() const override { return static_cast<int>(s.columns.size()); }
  void DeleteColumn(int i) override {
    if (i < 0 || i >= ColumnCount()) throw std::out_of_range("column");
    s.columns.erase(s.columns.begin() + i);
    for (auto& row : s.rows) row.erase(row.begin() + i);
  }
  void InsertColumn(int i, const std::wstring& title, int width) override {
    if (i < 0 || i > ColumnCount()) throw std::out_of_range("column");
    s.columns.insert(s.columns.begin() + i, {title, width});
    for (auto& row : s.rows) row.insert(row.begin() + i, L"");
  }
  int InsertRowAtTop() override {
    s.rows.insert(s.rows.begin(), std::vector<std::wstring>(s.columns.size()));
    return 0;
  }
  void SetCell(int row, int column, const std::wstring& text) override { s.rows.at(row).at(column) = text; }
  int ListClientWidth() const override { return 731; }
  void ClearSelector() override { s.entries.clear(); s.selected = -1; }
  void AddSelectorEntries(const std::vector<std::wstring>& more) override {
    ++entryBatches;
    s.entries.insert(s.entries.end(), more.begin(), more.end());
  }
  int SelectedEntry() const override { return s.selected; }
  void SetSummary(const std::wstring& text) override { s.summary = text; }

  ResultView& View() { return *this; }
  Shown Snapshot() const { return s; }
  int ListWidth() const { return ListClientWidth(); }
  void Choose(int entry) { s.selected = entry; }

  Shown s;
  int entryBatches = 0;
};

// The real widgets in a shown window (offscreen platform). Titles are read
// from the model, so a missing title shows as Qt's default column number.
class QtProbe {
 public:
  QtProbe() {
    SetReportStyle(table);
    table->setGeometry(0, 40, 900, 400);
    window.resize(900, 440);
    window.show();
  }
  ResultView& View() { return view; }
  Shown Snapshot() const {
    Shown s;
    for (int c = 0; c < table->columnCount(); ++c)
      s.columns.emplace_back(table->model()->headerData(c, Qt::Horizontal).toString().toStdWString(),
                             table->columnWidth(c));
    s.rows.resize(static_cast<std::size_t>(table->rowCount()));
    for (int r = 0; r < table->rowCount(); ++r)
      for (int c = 0; c < table->columnCount(); ++c)
        s.rows[r].push_back(table->item(r, c) ? table->item(r, c)->text().toStdWString() : L"");
    for (int i = 0; i < selector->count(); ++i) s.entries.push_back(selector->itemText(i).toStdWString());
    s.selected = selector->currentIndex();
    s.summary = summary->text().toStdWString();
    return s;
  }
  // Inside the frame; no row header and no scroll bar take room here.
  int ListWidth() const { return table->contentsRect().width(); }
  void Choose(int entry) { selector->setCurrentIndex(entry); }

  QWidget window;  // owns the three controls
  QTableWidget* table = new QTableWidget(&window);
  QComboBox* selector = new QComboBox(&window);
  QLabel* summary = new QLabel(&window);
  QtResultView view{table, selector, summary};
};

}  // namespace sorvanta::testing
