#include "QtResultView.h"

#include <memory>

#include <QAbstractItemView>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QStringList>
#include <QTableWidget>
#include <QTableWidgetItem>

namespace sorvanta {

namespace {

std::unique_ptr<QTableWidgetItem> CentredItem(const std::wstring& text) {
  auto item = std::make_unique<QTableWidgetItem>(QString::fromStdWString(text));
  item->setTextAlignment(Qt::AlignCenter);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

}  // namespace

void SetReportStyle(QTableWidget* table) {
  table->horizontalHeader()->setVisible(true);
  table->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  table->verticalHeader()->setVisible(false);
  table->setShowGrid(true);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSortingEnabled(false);
}

QtResultView::QtResultView(QTableWidget* list, QComboBox* selector, QLabel* summary)
    : list(list), selector(selector), summary(summary) {}

void QtResultView::DeleteAllRows() { list->setRowCount(0); }

int QtResultView::ColumnCount() const { return list->columnCount(); }

void QtResultView::DeleteColumn(int index) { list->removeColumn(index); }

void QtResultView::InsertColumn(int index, const std::wstring& title, int width) {
  list->insertColumn(index);
  // The table takes ownership of the header item.
  list->setHorizontalHeaderItem(index, CentredItem(title).release());
  list->setColumnWidth(index, width);
}

int QtResultView::InsertRowAtTop() {
  list->insertRow(0);
  return 0;
}

void QtResultView::SetCell(int row, int column, const std::wstring& text) {
  list->setItem(row, column, CentredItem(text).release());
}

int QtResultView::ListClientWidth() const { return list->viewport()->width(); }

void QtResultView::ClearSelector() { selector->clear(); }

void QtResultView::AddSelectorEntries(const std::vector<std::wstring>& entries) {
  QStringList texts;
  texts.reserve(static_cast<qsizetype>(entries.size()));
  for (const std::wstring& entry : entries) texts.push_back(QString::fromStdWString(entry));
  // One insertion into the model for all pages.
  selector->addItems(texts);
  // An empty QComboBox selects the first entry it gets; the selector starts
  // with none chosen, so that choosing any entry is a change.
  selector->setCurrentIndex(-1);
}

int QtResultView::SelectedEntry() const { return selector->currentIndex(); }

void QtResultView::SetSummary(const std::wstring& text) {
  summary->setText(QString::fromStdWString(text));
}

}  // namespace sorvanta
