#pragma once

#include <string>

class QLineEdit;

namespace sorvanta {

// The four window operations the main window's commands need. Everything
// else a command does (the address rule, which query runs, which message is
// shown) is independent of them. The program uses QtWindowOperations; tests
// put one in that answers message boxes and file dialogs without blocking.
class WindowOperations {
 public:
  virtual ~WindowOperations() = default;

  // The whole text of an edit box, exactly as typed.
  virtual std::wstring ReadText(const QLineEdit& edit) = 0;
  // Replaces the whole text of an edit box.
  virtual void ReplaceText(QLineEdit& edit, const std::wstring& text) = 0;
  // A modal message over the main window with an OK button only; returns
  // once the user has closed it.
  virtual void ShowMessage(const std::wstring& text) = 0;
  // The open-file dialog over the main window. defaultExtension is added to
  // a typed name without one ("." + extension); filter is in the
  // "display|pattern|" form. Returns the chosen file's full path, or an
  // empty string when the user cancels.
  virtual std::wstring ShowOpenFileDialog(const std::wstring& initialName,
                                          const std::wstring& defaultExtension,
                                          const std::wstring& filter) = 0;
};

}  // namespace sorvanta
