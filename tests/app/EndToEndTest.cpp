// Starts the built program on a virtual X display, waits for its window and
// closes it as a window manager would: the process must end by itself with
// exit code 0.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace sorvanta {
namespace {

TEST(EndToEnd, TheWindowAppearsAndClosingItEndsTheProgramCleanly) {
  if (QStandardPaths::findExecutable("xvfb-run").isEmpty()) {
    GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb); "
                    "the program cannot be started on a virtual display";
  }
  // Inside the virtual display: the program, the closer, then the
  // program's own exit code. The closer gives up after 30 s, and `timeout`
  // bounds the whole run, so the test cannot hang the suite.
  const QString script = QStringLiteral(
      "\"$1\" & app=$!\n"
      "\"$2\" 'Sorvanta V1.0' 30; closer=$?\n"
      "if [ $closer -ne 0 ]; then kill $app; fi\n"
      "wait $app; echo \"closer=$closer exit=$?\"\n");
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("QT_QPA_PLATFORM"));  // the tests' offscreen
  QProcess run;
  run.setProcessEnvironment(environment);
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.start(QStringLiteral("timeout"),
            {QStringLiteral("-k"), QStringLiteral("5"), QStringLiteral("90"),
             QStringLiteral("xvfb-run"), QStringLiteral("-a"), QStringLiteral("sh"),
             QStringLiteral("-c"), script, QStringLiteral("sh"),
             QStringLiteral(SORVANTA_EXECUTABLE), QStringLiteral(WINDOW_CLOSER)});
  ASSERT_TRUE(run.waitForFinished(120 * 1000));
  const QString output = QString::fromLocal8Bit(run.readAll());
  EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("found \"Sorvanta V1.0\"")))
      << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("closer=0 exit=0"))) << output.toStdString();
}

}  // namespace
}  // namespace sorvanta
