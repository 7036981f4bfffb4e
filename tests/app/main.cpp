#include <gmock/gmock.h>

#include <QApplication>

// The main window's tests need a QApplication but never a screen, so the
// platform defaults to offscreen, also for test discovery, which runs
// without the tests' environment.
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
