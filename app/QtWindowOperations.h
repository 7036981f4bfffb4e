#pragma once

#include <string>

#include <QStringList>

#include "WindowOperations.h"

class QWidget;

namespace sorvanta {

// Turns a "display|pattern|display|pattern|" filter into Qt name filters,
// "display (pattern)" with the spaces around both trimmed; reading ends at
// an empty display text or a display without a pattern. "*.pdb | *.pdb|"
// gives the one entry "*.pdb (*.pdb)".
QStringList NameFilters(const std::wstring& filter);

// The window operations on Qt widgets. Message boxes and the file dialog are
// owned by owner (the main window), or by none when it is null.
class QtWindowOperations final : public WindowOperations {
 public:
  explicit QtWindowOperations(QWidget* owner = nullptr) : owner(owner) {}

  std::wstring ReadText(const QLineEdit& edit) override;
  void ReplaceText(QLineEdit& edit, const std::wstring& text) override;
  // A warning-icon message box titled with the application name.
  void ShowMessage(const std::wstring& text) override;
  std::wstring ShowOpenFileDialog(const std::wstring& initialName,
                                  const std::wstring& defaultExtension,
                                  const std::wstring& filter) override;

 private:
  QWidget* owner;
};

}  // namespace sorvanta
