#pragma once

// A fake of the main window's window operations that answers message boxes
// and file dialogs at once, and readers of what the window shows.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QString>
#include <QTableWidget>

#include "CSorvantaDlg.h"
#include "DiaSymbol.h"
#include "QtWindowOperations.h"
#include "Utf8.h"

namespace sorvanta::testing {

inline const std::string kFixtures = SORVANTA_FIXTURES_DIR;
inline const std::string kX86 = kFixtures + "/sample-x86.pdb";
inline const std::string kX64 = kFixtures + "/sample-x64.pdb";

// Edit boxes are the real ones; a message is recorded, and the file dialog
// records how it was asked and gives `choice`.
class FakeWindowOperations : public WindowOperations {
 public:
  struct FileDialogCall {
    std::wstring initialName;
    std::wstring defaultExtension;
    std::wstring filter;
  };

  std::wstring ReadText(const QLineEdit& edit) override { return real.ReadText(edit); }
  void ReplaceText(QLineEdit& edit, const std::wstring& text) override {
    real.ReplaceText(edit, text);
  }
  void ShowMessage(const std::wstring& text) override { messages.push_back(WideToUtf8(text)); }
  std::wstring ShowOpenFileDialog(const std::wstring& initialName,
                                  const std::wstring& defaultExtension,
                                  const std::wstring& filter) override {
    fileDialogs.push_back({initialName, defaultExtension, filter});
    return choice;
  }

  std::vector<std::string> messages;  // UTF-8, for readable failures
  std::vector<FileDialogCall> fileDialogs;
  std::wstring choice;

 private:
  QtWindowOperations real;
};

// Every test starts with no file open, whatever the tests before it left.
inline void DropSession() {
  DiaSymbol::Instance().Open(L"");
  ASSERT_EQ(DiaSymbol::Instance().session, nullptr);
}

// What the result list, the selector and the summary show.
struct Screen {
  std::vector<std::string> headers;
  std::vector<std::vector<std::string>> rows;  // columns 1 onwards, top row first
  std::vector<std::string> pages;
  int selectedPage = -1;
  std::string summary;
};

inline Screen Read(const CSorvantaDlg& dialog) {
  Screen s;
  const QTableWidget& list = *dialog.resultList;
  for (int c = 0; c < list.columnCount(); ++c) {
    const QTableWidgetItem* item = list.horizontalHeaderItem(c);
    s.headers.push_back(item ? item->text().toStdString() : "");
  }
  for (int r = 0; r < list.rowCount(); ++r) {
    std::vector<std::string> row;
    for (int c = 1; c < list.columnCount(); ++c) {
      const QTableWidgetItem* item = list.item(r, c);
      row.push_back(item ? item->text().toStdString() : "");
    }
    s.rows.push_back(row);
  }
  for (int i = 0; i < dialog.pageSelector->count(); ++i) {
    s.pages.push_back(dialog.pageSelector->itemText(i).toStdString());
  }
  s.selectedPage = dialog.pageSelector->currentIndex();
  s.summary = dialog.pageSummary->text().toStdString();
  return s;
}

inline bool operator==(const Screen& a, const Screen& b) {
  return a.headers == b.headers && a.rows == b.rows && a.pages == b.pages &&
         a.selectedPage == b.selectedPage && a.summary == b.summary;
}

inline void PrintTo(const Screen& s, std::ostream* os) {
  *os << "{" << s.headers.size() << " columns, " << s.rows.size() << " rows";
  if (!s.rows.empty() && !s.rows.front().empty()) {
    *os << ", top \"" << s.rows.front().front() << "\"";
  }
  *os << ", " << s.pages.size() << " pages (selected " << s.selectedPage << "), summary \""
      << s.summary << "\"}";
}

}  // namespace sorvanta::testing
