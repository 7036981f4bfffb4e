#include "QtResultView.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeySequence>
#include <QLabel>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QToolTip>

#include "CopiedRows.h"

namespace sorvanta {

namespace {

std::unique_ptr<QTableWidgetItem> CentredItem(const std::wstring& text) {
  auto item = std::make_unique<QTableWidgetItem>(QString::fromStdWString(text));
  item->setTextAlignment(Qt::AlignCenter);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  return item;
}

// Shows a cell's whole text as its tooltip when the cell shows it cut short
// with "…"; a cell that shows its whole text gets none.
class CutTextToolTips final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event != nullptr && view != nullptr && event->type() == QEvent::ToolTip) {
      QStyleOptionViewItem item = option;
      initStyleOption(&item, index);
      if (IsCut(item, *view)) {
        QToolTip::showText(event->globalPos(), item.text, view->viewport(), option.rect);
        return true;
      }
    }
    // No tooltip text of its own: hides any tooltip still showing.
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  }

 private:
  // Measured as the style draws the text: inside the text rectangle, less
  // the text margin on either side.
  static bool IsCut(const QStyleOptionViewItem& item, const QAbstractItemView& view) {
    const QStyle* style = view.style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    const int width =
        style->subElementRect(QStyle::SE_ItemViewItemText, &item, &view).width() - 2 * margin;
    return item.fontMetrics.elidedText(item.text, Qt::ElideRight, width) != item.text;
  }
};

// One line of text (Chinese included, whose glyphs may come from a taller
// fallback font) as the style lays out a cell, its focus frame's margins
// above and below, and the grid line.
int OneLineRowHeight(const QTableWidget& table) {
  QStyleOptionViewItem option;
  option.initFrom(&table);
  option.features = QStyleOptionViewItem::HasDisplay;
  option.text = QStringLiteral("Ag未找");
  option.displayAlignment = Qt::AlignCenter;
  const QStyle* style = table.style();
  const int text =
      style->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), &table).height();
  const int padding = 2 * style->pixelMetric(QStyle::PM_FocusFrameVMargin, nullptr, &table);
  return text + padding + (table.showGrid() ? 1 : 0);
}

}  // namespace

void SetReportStyle(QTableWidget* table) {
  table->horizontalHeader()->setVisible(true);
  table->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
  table->verticalHeader()->setVisible(false);
  table->setShowGrid(true);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSortingEnabled(false);

  // One line per cell: no wrapping, a fixed row height of one line (the
  // default section size is about two), and "…" where a text is cut.
  table->setWordWrap(false);
  table->setTextElideMode(Qt::ElideRight);
  const int rowHeight = OneLineRowHeight(*table);
  QHeaderView* rows = table->verticalHeader();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(rowHeight);
  rows->setDefaultSectionSize(rowHeight);
  table->setItemDelegate(new CutTextToolTips(table));  // owned by the table

  // Item views copy only the current cell on the copy key; this action
  // takes the key first, for the list and anything inside it.
  auto* copy = new QAction(QStringLiteral("复制"), table);  // owned by the table
  copy->setShortcut(QKeySequence::Copy);
  copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  QObject::connect(copy, &QAction::triggered, table, [table] {
    const QString text = SelectedRowsText(*table);
    if (!text.isEmpty()) QApplication::clipboard()->setText(text);
  });
  table->addAction(copy);
  table->setContextMenuPolicy(Qt::ActionsContextMenu);
}

QString SelectedRowsText(const QTableWidget& table) {
  std::set<int> selected;
  for (const QModelIndex& index : table.selectionModel()->selectedIndexes()) {
    selected.insert(index.row());
  }
  // The width-0 columns (the row's own text, the message layout's edges)
  // are the untitled ones.
  std::vector<int> columns;
  for (int c = 0; c < table.columnCount(); ++c) {
    const QTableWidgetItem* title = table.horizontalHeaderItem(c);
    if (title != nullptr && !title->text().isEmpty()) columns.push_back(c);
  }
  std::vector<std::vector<std::wstring>> rows;
  for (const int r : selected) {
    std::vector<std::wstring>& row = rows.emplace_back();
    for (const int c : columns) {
      const QTableWidgetItem* cell = table.item(r, c);
      row.push_back(cell != nullptr ? cell->text().toStdWString() : std::wstring());
    }
  }
  return QString::fromStdWString(CopiedRowsText(rows));
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
