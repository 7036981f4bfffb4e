#include "CSorvantaApp.h"

#include <QApplication>

#include "CSorvantaDlg.h"
#include "OutOfMemory.h"
#include "QtWindowOperations.h"
#include "Resources.h"

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
