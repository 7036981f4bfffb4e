#include <QApplication>
#include <gmock/gmock.h>

// The Qt view tests need a QApplication; the tests never need a screen, so
// the offscreen platform is the default (also for test discovery, which
// runs without the test's environment).
int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
