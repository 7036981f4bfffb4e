#include "FileDrop.h"

#include <utility>

#include <QDropEvent>
#include <QEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

namespace sorvanta {

QString FirstLocalFile(const QMimeData& data) {
  if (!data.hasUrls()) return {};
  for (const QUrl& url : data.urls()) {
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) return url.toLocalFile();
  }
  return {};
}

FileDrop::FileDrop(QWidget& window, const std::vector<QWidget*>& controls,
                   std::function<void(const std::wstring&)> open)
    : QObject(&window), open(std::move(open)) {
  window.setAcceptDrops(true);
  window.installEventFilter(this);
  for (QWidget* control : controls) control->installEventFilter(this);
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
    return QObject::eventFilter(watched, event);
  }
  // DragEnter and DragMove events are drop events too.
  auto* drag = static_cast<QDropEvent*>(event);
  const QString path = drag->mimeData() != nullptr ? FirstLocalFile(*drag->mimeData()) : QString();
  if (path.isEmpty()) return QObject::eventFilter(watched, event);
  drag->setDropAction(Qt::CopyAction);
  drag->accept();
  if (type == QEvent::Drop) {
    QTimer::singleShot(0, this, [this, file = path.toStdWString()] { open(file); });
  }
  return true;
}

}  // namespace sorvanta
