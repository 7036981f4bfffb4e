#include "CSorvantaDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "AddressText.h"
#include "DiaSymbol.h"
#include "FileDrop.h"
#include "MainWindowLayout.h"
#include "OutOfMemory.h"
#include "QtWindowOperations.h"
#include "Resources.h"
#include "ui_CSorvantaDlg.h"

namespace sorvanta {

CSorvantaDlg::CSorvantaDlg() : CSorvantaDlg(nullptr) {}

CSorvantaDlg::CSorvantaDlg(WindowOperations& operations) : CSorvantaDlg(&operations) {}

CSorvantaDlg::CSorvantaDlg(WindowOperations* given)
    : icon(ApplicationIcon()),
      form(std::make_unique<Ui::CSorvantaDlg>()),
      // The dialog base exists by now, so this window can own the boxes.
      windowOperations(given != nullptr
                           ? OwnOrGiven<WindowOperations>(*given)
                           : OwnOrGiven<WindowOperations>(std::make_unique<QtWindowOperations>(this))),
      operations(*windowOperations) {
  form->setupUi(this);
  // A resizable top-level window with minimize and maximize buttons and no
  // context-help button.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  DoDataExchange();
  view = std::make_unique<QtResultView>(resultList, pageSelector, pageSummary);

  // Each command's slot reports running out of memory where it begins.
  auto command = [this](void (CSorvantaDlg::*run)()) {
    return [this, run] { RunReportingOutOfMemory([this, run] { (this->*run)(); }, operations); };
  };
  connect(browseButton, &QPushButton::clicked, this, command(&CSorvantaDlg::OnBrowse));
  connect(openButton, &QPushButton::clicked, this, command(&CSorvantaDlg::OnOpenFile));
  connect(setBaseAddressButton, &QPushButton::clicked, this, command(&CSorvantaDlg::OnSetBaseAddress));
  connect(lookUpAddressButton, &QPushButton::clicked, this, command(&CSorvantaDlg::OnLookUpAddress));
  connect(searchSymbolButton, &QPushButton::clicked, this, command(&CSorvantaDlg::OnSearchSymbol));
  // activated is the user's choice only; filling the selector emits none.
  connect(pageSelector, &QComboBox::activated, this, command(&CSorvantaDlg::OnPageSelChange));
  // A file dropped on the window is opened as if typed and opened by hand.
  new FileDrop(*this, {pathEdit, addressEdit, symbolEdit, baseAddressEdit},
               [this](const std::wstring& path) {
                 RunReportingOutOfMemory(
                     [this, &path] {
                       operations.ReplaceText(*pathEdit, path);
                       OnOpenFile();
                     },
                     operations);
               });

  CSorvantaDlg::OnInitDialog();
}

// Out of line, where Ui::CSorvantaDlg is complete.
CSorvantaDlg::~CSorvantaDlg() = default;

void CSorvantaDlg::DoDataExchange() {
  pathEdit = form->pathEdit;
  browseButton = form->browseButton;
  openButton = form->openButton;
  addressEdit = form->addressEdit;
  symbolEdit = form->symbolEdit;
  lookUpAddressButton = form->lookUpAddressButton;
  searchSymbolButton = form->searchSymbolButton;
  resultList = form->resultList;
  baseAddressEdit = form->baseAddressEdit;
  setBaseAddressButton = form->setBaseAddressButton;
  pageSelector = form->pageSelector;
  pageSummary = form->pageSummary;
}

bool CSorvantaDlg::OnInitDialog() {
  ResizeLayoutDialog::OnInitDialog();
  // The window manager draws the minimized window and the task switcher
  // entry from this icon.
  setWindowIcon(icon);
  MainWindowControls controls;
  controls.pathEdit = pathEdit;
  controls.browseButton = browseButton;
  controls.openButton = openButton;
  controls.baseAddressEdit = baseAddressEdit;
  controls.setBaseAddressButton = setBaseAddressButton;
  controls.addressEdit = addressEdit;
  controls.lookUpAddressButton = lookUpAddressButton;
  controls.symbolEdit = symbolEdit;
  controls.searchSymbolButton = searchSymbolButton;
  controls.pageSelector = pageSelector;
  controls.pageSummary = pageSummary;
  controls.resultList = resultList;
  SetLayout(MainWindowTree(controls));
  SetReportStyle(resultList);
  // The first control of the tab order starts with the focus.
  resultList->setFocus();
  return true;
}

std::wstring CSorvantaDlg::BrowseForFile(const std::wstring& initialName,
                                         const std::wstring& extension) {
  const std::wstring pattern = L"*." + extension;
  return operations.ShowOpenFileDialog(initialName, L"." + extension,
                                       pattern + L" | " + pattern + L"|");
}

void CSorvantaDlg::OnBrowse() {
  // A cancelled dialog gives "", which empties the path box.
  operations.ReplaceText(*pathEdit, BrowseForFile(L"", L"pdb"));
}

void CSorvantaDlg::OnOpenFile() {
  // The path goes to the session exactly as typed. The results on screen
  // stay, whatever the outcome.
  if (!DiaSymbol::Instance().Open(operations.ReadText(*pathEdit))) {
    operations.ShowMessage(L"打开 PDB 文件失败!");
  }
}

void CSorvantaDlg::OnSetBaseAddress() {
  const std::uint64_t address = ReadAddress(operations.ReadText(*baseAddressEdit));
  if (address == 0) return;
  // With no file open there is no session to take the address: that is a
  // failure to set it, not something to call into.
  const DiaRef<IDiaSession> session = DiaSymbol::Instance().session;
  const bool set = session != nullptr && Succeeded(session->put_loadAddress(address));
  // Rows already shown keep their addresses; later pages read the new ones.
  operations.ShowMessage(set ? L"设置成功." : L"设置失败.");
}

void CSorvantaDlg::OnLookUpAddress() {
  const std::uint64_t address = ReadAddress(operations.ReadText(*addressEdit));
  if (address == 0) return;
  SetSingleResult(DiaSymbol::Instance().FindFunctionByVA(address));
}

void CSorvantaDlg::OnSearchSymbol() {
  SymbolList found = DiaSymbol::Instance().FindFunctionsByName(operations.ReadText(*symbolEdit));
  // The old references go before the new list moves in, once the list has
  // been rebuilt from it.
  ReplaceResults(results, *view, std::move(found));
  shownEntry = -1;
}

void CSorvantaDlg::OnPageSelChange() {
  try {
    sorvanta::OnPageSelChange(results, *view);
  } catch (...) {
    pageSelector->setCurrentIndex(shownEntry);
    throw;
  }
  shownEntry = pageSelector->currentIndex();
}

}  // namespace sorvanta
