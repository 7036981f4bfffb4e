#include "CSorvantaDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "AddressRule.h"
#include "DiaSymbol.h"
#include "FileDrop.h"
#include "MainWindowLayout.h"
#include "QtWindowOperations.h"
#include "Resources.h"
#include "ui_CSorvantaDlg.h"

namespace sorvanta {

CSorvantaDlg::CSorvantaDlg() : CSorvantaDlg(std::make_unique<QtWindowOperations>(), nullptr) {}

CSorvantaDlg::CSorvantaDlg(WindowOperations& operations) : CSorvantaDlg(nullptr, &operations) {}

CSorvantaDlg::CSorvantaDlg(std::unique_ptr<WindowOperations> own, WindowOperations* given)
    : icon(ApplicationIcon()),
      form(std::make_unique<Ui::CSorvantaDlg>()),
      ownOperations(std::move(own)),
      operations(given != nullptr ? *given : *ownOperations) {
  form->setupUi(this);
  // A resizable top-level window with minimize and maximize buttons and no
  // context-help button.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  DoDataExchange();
  view = std::make_unique<QtResultView>(resultList, pageSelector, pageSummary);

  connect(browseButton, &QPushButton::clicked, this, &CSorvantaDlg::OnBrowse);
  connect(openButton, &QPushButton::clicked, this, &CSorvantaDlg::OnOpenFile);
  connect(setBaseAddressButton, &QPushButton::clicked, this, &CSorvantaDlg::OnSetBaseAddress);
  connect(lookUpAddressButton, &QPushButton::clicked, this, &CSorvantaDlg::OnLookUpAddress);
  connect(searchSymbolButton, &QPushButton::clicked, this, &CSorvantaDlg::OnSearchSymbol);
  // activated is the user's choice only; filling the selector emits none.
  connect(pageSelector, &QComboBox::activated, this, &CSorvantaDlg::OnPageSelChange);
  // A file dropped on the window is opened as if typed and opened by hand.
  new FileDrop(*this, {pathEdit, addressEdit, symbolEdit, baseAddressEdit},
               [this](const std::wstring& path) {
                 operations.ReplaceText(*pathEdit, path);
                 OnOpenFile();
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
  SetLayout(MainWindowTree({pathEdit, browseButton, openButton, baseAddressEdit,
                            setBaseAddressButton, addressEdit, lookUpAddressButton, symbolEdit,
                            searchSymbolButton, pageSelector, pageSummary, resultList}));
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
  // The old references go before the new list moves in.
  results.clear();
  results = std::move(found);
  RebuildResults();
}

}  // namespace sorvanta
