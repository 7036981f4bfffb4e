#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>

// The dialog tests need a QApplication. Test discovery runs this binary
// outside the test environment too, so the platform defaults to offscreen
// here rather than relying on QT_QPA_PLATFORM being set.
int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
