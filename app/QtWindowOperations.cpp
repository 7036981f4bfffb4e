#include "QtWindowOperations.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>

namespace sorvanta {

QStringList NameFilters(const std::wstring& filter) {
  const QStringList parts = QString::fromStdWString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString display = parts[i].trimmed();
    const QString pattern = parts[i + 1].trimmed();
    if (display.isEmpty() || pattern.isEmpty()) break;
    filters.push_back(display + QStringLiteral(" (") + pattern + QLatin1Char(')'));
  }
  return filters;
}

std::wstring QtWindowOperations::ReadText(const QLineEdit& edit) {
  return edit.text().toStdWString();
}

void QtWindowOperations::ReplaceText(QLineEdit& edit, const std::wstring& text) {
  edit.setText(QString::fromStdWString(text));
}

void QtWindowOperations::ShowMessage(const std::wstring& text) {
  // Qt names the application after the executable's file name by default.
  QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(),
                  QString::fromStdWString(text), QMessageBox::Ok, owner);
  box.exec();
}

std::wstring QtWindowOperations::ShowOpenFileDialog(const std::wstring& initialName,
                                                    const std::wstring& defaultExtension,
                                                    const std::wstring& filter) {
  QFileDialog dialog(owner);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Qt drops the leading dot of the extension itself.
  dialog.setDefaultSuffix(QString::fromStdWString(defaultExtension));
  dialog.setNameFilters(NameFilters(filter));
  if (!initialName.empty()) dialog.selectFile(QString::fromStdWString(initialName));
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? std::wstring() : chosen.front().toStdWString();
}

}  // namespace sorvanta
