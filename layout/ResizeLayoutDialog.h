#pragma once

#include <QDialog>

#include "LayoutItem.h"
#include "OwnOrGiven.h"
#include "WindowLayer.h"

class QEvent;
class QObject;
class QResizeEvent;

namespace sorvanta {

// A dialog that keeps its controls arranged by one layout tree: every resize
// runs a layout pass over the client area. It also keeps Enter and Escape
// from its controls, so no key closes it or presses a button.
//
// A derived dialog creates its controls and then runs OnInitDialog() once,
// before the dialog is first shown (the end of its constructor will do). Its
// override calls this base version first, then builds the tree of its
// controls and hands it to SetLayout().
class ResizeLayoutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit ResizeLayoutDialog(QWidget* parent = nullptr);
  // Places the controls through layer instead of moving the widgets
  // directly; layer must outlive the dialog.
  explicit ResizeLayoutDialog(WindowLayer& layer, QWidget* parent = nullptr);
  ~ResizeLayoutDialog() override;

  // Replaces the tree by a deep copy of item and lays it out at once.
  void SetLayout(const LayoutItem& item);

  // The layout pass over the client area, then a repaint of the whole
  // dialog. The arguments are not read: the pass always uses the dialog's
  // present rect(). Does nothing before OnInitDialog().
  void OnSize(unsigned int sizeType, int width, int height);

  // Marks the controls as ready to be laid out; returns true.
  virtual bool OnInitDialog();

  // Sees every event bound for this dialog's window (the dialog and its
  // child widgets, not other windows such as message boxes) before the
  // receiver does; returning true drops the event. Drops key presses of
  // Return, keypad Enter and Escape, whatever the modifiers.
  virtual bool PreTranslateMessage(QObject* receiver, QEvent* event);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // Installed on the application, so that key presses are caught before
  // the focused control or QDialog's default-button handling sees them.
  // An override must pass events on to this one.
  bool eventFilter(QObject* watched, QEvent* event) override;

  bool initialized = false;  // no pass runs while false
  LayoutItem root;           // the tree every pass lays out

 private:
  OwnOrGiven<WindowLayer> windows;  // a QtWindowLayer unless one is given
};

}  // namespace sorvanta
