#pragma once

#include <string>
#include <vector>

namespace sorvanta {

// What the result operations need of the three controls: the result list,
// the page selector and the page summary. The real one sits on Qt widgets
// (QtResultView); tests use a recording fake, so the paging rules run
// without a display.
class ResultView {
 public:
  virtual ~ResultView() = default;

  // Result list.
  virtual void DeleteAllRows() = 0;
  virtual int ColumnCount() const = 0;
  virtual void DeleteColumn(int index) = 0;
  // Every column is centred, header and cells alike; a width of 0 is set too.
  virtual void InsertColumn(int index, const std::wstring& title, int width) = 0;
  // Inserts an empty row above all others and returns its index.
  virtual int InsertRowAtTop() = 0;
  virtual void SetCell(int row, int column, const std::wstring& text) = 0;
  // Width of the list's client area, in pixels.
  virtual int ListClientWidth() const = 0;

  // Page selector. Entries come in one batch so that a set of a million
  // symbols (22,223 pages) costs one model update, not one per page. After
  // the batch no entry is selected.
  virtual void ClearSelector() = 0;
  virtual void AddSelectorEntries(const std::vector<std::wstring>& entries) = 0;
  // Index of the chosen entry, -1 when none is.
  virtual int SelectedEntry() const = 0;

  // Page summary.
  virtual void SetSummary(const std::wstring& text) = 0;
};

}  // namespace sorvanta
