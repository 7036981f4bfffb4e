#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QObject>
#include <QString>

class QEvent;
class QMimeData;
class QWidget;

namespace sorvanta {

// The local path of the first local file among the dropped URLs; "" when
// there is none (no URLs, or only remote ones).
QString FirstLocalFile(const QMimeData& data);

// Lets files be dropped on a window: a drag that carries a local file is
// accepted over the window and over the given controls inside it, and its
// drop calls `open` with the first file's local path, once the drop itself
// has ended (so the drag source is not kept waiting on a message box).
// Anything else dragged over the controls gets their own handling (an edit
// box takes plain text as usual); over the rest of the window it is refused.
class FileDrop final : public QObject {
 public:
  // Owned by window.
  FileDrop(QWidget& window, const std::vector<QWidget*>& controls,
           std::function<void(const std::wstring&)> open);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void(const std::wstring&)> open;
};

}  // namespace sorvanta
