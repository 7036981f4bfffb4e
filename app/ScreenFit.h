#pragma once

class QWidget;

namespace sorvanta {

// A width and a height in pixels.
struct Extent {
  int width = 0;
  int height = 0;
};

// The client size a window starts at: the size it asks for where that fits,
// otherwise, in each direction, the largest that fits the available
// geometry together with the window's frame (title bar and borders). Never
// less than 1 pixel.
Extent FitToAvailable(Extent wanted, Extent available, Extent frame);

// Before the first show: shrinks window to FitToAvailable for its screen's
// available geometry (the screen less panels and docks). The frame is the
// window's own once it has one, and before that the style's title bar and
// border widths. A window that fits is left alone.
void FitFirstWindowToScreen(QWidget& window);

}  // namespace sorvanta
