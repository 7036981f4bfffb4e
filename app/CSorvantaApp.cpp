#include "CSorvantaApp.h"

#include <QApplication>

#include "CSorvantaDlg.h"
#include "Resources.h"

namespace sorvanta {

CSorvantaApp theApp;

int CSorvantaApp::Run(int& argc, char** argv) {
  QApplication application(argc, argv);
  QCoreApplication::setApplicationVersion(ApplicationVersion());
  InitInstance();
  return 0;
}

bool CSorvantaApp::InitInstance() {
  CSorvantaDlg dialog;
  mainWindow = &dialog;
  // The end code does not matter: closing the window is the only way out.
  dialog.exec();
  mainWindow = nullptr;
  return false;
}

}  // namespace sorvanta
