#pragma once

#include "LayoutItem.h"

class QWidget;

namespace sorvanta {

// The main window's twelve controls, as the tree needs them, set by name:
// the constructor makes this no aggregate, so a list of twelve pointers in
// some order cannot fill it.
struct MainWindowControls {
  MainWindowControls() {}

  QWidget* pathEdit = nullptr;
  QWidget* browseButton = nullptr;
  QWidget* openButton = nullptr;
  QWidget* baseAddressEdit = nullptr;
  QWidget* setBaseAddressButton = nullptr;
  QWidget* addressEdit = nullptr;
  QWidget* lookUpAddressButton = nullptr;
  QWidget* symbolEdit = nullptr;
  QWidget* searchSymbolButton = nullptr;
  QWidget* pageSelector = nullptr;
  QWidget* pageSummary = nullptr;
  QWidget* resultList = nullptr;
};

// The main window's layout: a file row (path, browse, open) with 5-pixel
// margins, a query row and a paging row each centred by a stretch gap at
// both ends, and the result list taking all the height that is left.
// Header-only so that it needs no build change of the layout library.
inline LayoutItem MainWindowTree(const MainWindowControls& c) {
  return VBox(0, {
      ControlItem(5),
      HBox(25, {ControlItem(5), ControlItem(c.pathEdit), ControlItem(5),
                ControlItem(c.browseButton, 50), ControlItem(5),
                ControlItem(c.openButton, 100), ControlItem(5)}),
      ControlItem(5),
      HBox(25, {ControlItem(0),
                ControlItem(c.baseAddressEdit, 200), ControlItem(5),
                ControlItem(c.setBaseAddressButton, 100), ControlItem(10),
                ControlItem(c.addressEdit, 200), ControlItem(5),
                ControlItem(c.lookUpAddressButton, 100), ControlItem(10),
                ControlItem(c.symbolEdit, 200), ControlItem(5),
                ControlItem(c.searchSymbolButton, 100),
                ControlItem(0)}),
      ControlItem(5),
      VBox(0, {HBox(25, {ControlItem(0), ControlItem(100, c.pageSelector), ControlItem(5),
                         ControlItem(150, c.pageSummary), ControlItem(0)}),
               ControlItem(c.resultList)}),
  });
}

}  // namespace sorvanta
