#pragma once

#include <memory>
#include <string>
#include <utility>

#include <QIcon>

#include "IDiaSymbol.h"
#include "OwnOrGiven.h"
#include "QtResultView.h"
#include "ResultList.h"
#include "ResizeLayoutDialog.h"
#include "WindowOperations.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace Ui {
class CSorvantaDlg;
}

namespace sorvanta {

// The program's only window: a file row (path, browse, open), a query row
// (base address, address look-up, symbol search), a paging row (page
// selector, page summary) and the result list. Each button runs one
// command; the symbol session they query is the process-wide DiaSymbol.
//
// The controls come from the form in res/CSorvantaDlg.ui and belong to the
// dialog through Qt's parent ownership; the members below only point at
// them. The window is ready to show when the constructor returns.
class CSorvantaDlg : public ResizeLayoutDialog {
  Q_OBJECT

 public:
  // The main window has no parent; message boxes and the file dialog are
  // Qt's own.
  CSorvantaDlg();
  // Runs the commands' window operations through operations, which must
  // outlive the dialog.
  explicit CSorvantaDlg(WindowOperations& operations);
  ~CSorvantaDlg() override;

  bool OnInitDialog() override;

  // The commands, one per button.
  void OnBrowse();
  void OnOpenFile();
  void OnSetBaseAddress();
  void OnLookUpAddress();
  void OnSearchSymbol();

  // Asks for a file to open; "" when the user cancels.
  std::wstring BrowseForFile(const std::wstring& initialName, const std::wstring& extension);

  // The result list operations on results and the three paging controls.
  void SetSingleResult(SymbolRef symbol) {
    sorvanta::SetSingleResult(results, *view, std::move(symbol));
    shownEntry = -1;
  }
  void RebuildResults() {
    sorvanta::RebuildResults(results, *view);
    shownEntry = -1;
  }
  void ShowMessageRow(const std::wstring& text) { sorvanta::ShowMessageRow(*view, text); }
  void ShowPage(int page) { sorvanta::ShowPage(results, *view, page); }
  // The user's choice of a page in the selector. A page that cannot be
  // shown (out of memory) puts the selector back on the entry whose page
  // the rows still show.
  void OnPageSelChange();

  QIcon icon;
  QLineEdit* pathEdit = nullptr;
  QPushButton* browseButton = nullptr;
  QPushButton* openButton = nullptr;
  QLineEdit* addressEdit = nullptr;
  QLineEdit* symbolEdit = nullptr;
  QPushButton* lookUpAddressButton = nullptr;
  QPushButton* searchSymbolButton = nullptr;
  QTableWidget* resultList = nullptr;
  QLineEdit* baseAddressEdit = nullptr;
  QPushButton* setBaseAddressButton = nullptr;
  QComboBox* pageSelector = nullptr;
  QLabel* pageSummary = nullptr;
  SymbolList results;

 private:
  // Uses given, or QtWindowOperations over this window when given is null.
  explicit CSorvantaDlg(WindowOperations* given);
  // Points the control members at the form's widgets.
  void DoDataExchange();

  std::unique_ptr<Ui::CSorvantaDlg> form;
  OwnOrGiven<WindowOperations> windowOperations;
  WindowOperations& operations;
  std::unique_ptr<QtResultView> view;
  int shownEntry = -1;  // the selector entry whose page the rows show; -1 after a rebuild
};

}  // namespace sorvanta
