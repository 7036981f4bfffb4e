#include "ScreenFit.h"

#include <algorithm>

#include <QRect>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace sorvanta {

Extent FitToAvailable(Extent wanted, Extent available, Extent frame) {
  return {std::max(1, std::min(wanted.width, available.width - frame.width)),
          std::max(1, std::min(wanted.height, available.height - frame.height))};
}

void FitFirstWindowToScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  Extent frame{window.frameGeometry().width() - window.width(),
               window.frameGeometry().height() - window.height()};
  if (frame.width == 0 && frame.height == 0) {
    // Not yet framed by the window manager: the style's idea of a frame.
    const QStyle* style = window.style();
    const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &window);
    const int title = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
    frame = {2 * border, title + 2 * border};
  }
  const Extent fitted =
      FitToAvailable({window.width(), window.height()}, {available.width(), available.height()}, frame);
  if (fitted.width != window.width() || fitted.height != window.height()) {
    window.resize(fitted.width, fitted.height);
  }
}

}  // namespace sorvanta
