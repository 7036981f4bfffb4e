#include "ResizeLayoutDialog.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QResizeEvent>

#include <new>

#include "Layout.h"
#include "QtWindowLayer.h"

namespace sorvanta {

ResizeLayoutDialog::ResizeLayoutDialog(QWidget* parent)
    : QDialog(parent), windows(std::make_unique<QtWindowLayer>()) {
  QCoreApplication::instance()->installEventFilter(this);
}

ResizeLayoutDialog::ResizeLayoutDialog(WindowLayer& layer, QWidget* parent)
    : QDialog(parent), windows(layer) {
  QCoreApplication::instance()->installEventFilter(this);
}

ResizeLayoutDialog::~ResizeLayoutDialog() {
  QCoreApplication::instance()->removeEventFilter(this);
}

void ResizeLayoutDialog::SetLayout(const LayoutItem& item) {
  root = item;
  OnSize(0, 0, 0);
}

void ResizeLayoutDialog::OnSize(unsigned int, int, int) {
  if (!initialized) {
    return;
  }
  Layout(RECT{0, 0, width(), height()}, *windows).Apply(root);
  // Moved controls leave stale pixels behind. Repainting the whole dialog
  // after every pass, moved or not, is cheap and never misses any.
  update();
}

bool ResizeLayoutDialog::OnInitDialog() {
  // Qt has created and attached the controls by now (in the derived
  // constructor), so all that is left is to allow the passes.
  initialized = true;
  return true;
}

bool ResizeLayoutDialog::PreTranslateMessage(QObject*, QEvent* event) {
  if (event->type() != QEvent::KeyPress) {
    return false;
  }
  const int key = static_cast<QKeyEvent*>(event)->key();
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

void ResizeLayoutDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // Qt lets no exception out of an event handler. A pass that runs out of
  // memory leaves the controls where they stand; the next resize lays them
  // out again.
  try {
    OnSize(0, event->size().width(), event->size().height());
  } catch (const std::bad_alloc&) {
  }
}

bool ResizeLayoutDialog::eventFilter(QObject* watched, QEvent* event) {
  // The filter sees the whole application's events; isAncestorOf() stops at
  // window boundaries, so a message box over the dialog is left alone.
  if (watched->isWidgetType() && isAncestorOf(static_cast<QWidget*>(watched)) &&
      PreTranslateMessage(watched, event)) {
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace sorvanta
