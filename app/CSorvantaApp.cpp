#include "CSorvantaApp.h"

#include <QApplication>
#include <QLocale>

#include "CSorvantaDlg.h"
#include "Resources.h"
#include "ScreenFit.h"
#include "ToolkitTranslations.h"

namespace sorvanta {

CSorvantaApp theApp;

int CSorvantaApp::Run(int& argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setApplicationVersion(ApplicationVersion());
  // Ties the window to its installed desktop entry (the Wayland app id).
  QGuiApplication::setDesktopFileName(QStringLiteral("invalid.example.sorvanta"));
  // Qt's own dialogs and menus speak the user's language; a missing
  // translation leaves them in English.
  InstallToolkitTranslations(application, QLocale());
  InitInstance();
  return 0;
}

bool CSorvantaApp::InitInstance() {
  CSorvantaDlg dialog;
  mainWindow = &dialog;
  FitFirstWindowToScreen(dialog);
  // The end code does not matter: closing the window is the only way out.
  dialog.exec();
  mainWindow = nullptr;
  return false;
}

}  // namespace sorvanta
