#pragma once

class QWidget;

namespace sorvanta {

// The application: creates Qt's application object, runs the main window
// modally, and returns when the user closes it. It keeps no settings, reads
// no options of its own and remembers nothing between runs.
class CSorvantaApp {
 public:
  // Runs the program; the result is the process's exit code. argc and argv
  // go to QApplication, which keeps referring to them.
  int Run(int& argc, char** argv);

  // Creates the main window, runs it until it closes and destroys it.
  // Returns false: there is nothing to run after the window.
  bool InitInstance();

  // The main window while it runs; null before and after.
  QWidget* mainWindow = nullptr;
};

// The one application object. It is a plain global: QApplication itself
// needs argc and argv, so it is made inside Run().
extern CSorvantaApp theApp;

}  // namespace sorvanta
