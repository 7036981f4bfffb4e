#include "CSorvantaApp.h"

#include <QApplication>
#include <QLocale>

#include "CSorvantaDlg.h"
#include "OutOfMemory.h"
#include "QtWindowOperations.h"
#include "Resources.h"
#include "ScreenFit.h"
#include "ToolkitTranslations.h"

namespace sorvanta {

namespace {

// Qt lets no exception pass through its event loop. A command that runs out
// of memory is ended here, at the edge of the loop, and the user is told,
// instead of the whole program being torn down.
class Application final : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    return DeliverReportingOutOfMemory(
        [&] { return QApplication::notify(receiver, event); }, messages);
  }

 private:
  QtWindowOperations messages;
};

}  // namespace

CSorvantaApp theApp;

int CSorvantaApp::Run(int& argc, char** argv) {
  Application application(argc, argv);
  QCoreApplication::setApplicationVersion(ApplicationVersion());
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
