// Starts the built program on a virtual X display and uses it from outside,
// as a window manager, a file manager and a user would: the window must
// take a dropped file and copy its rows, and closing it must end the
// process by itself with exit code 0.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include "CopiedRows.h"
#include "DiaSymbol.h"
#include "RowTexts.h"
#include "TempDir.h"
#include "Utf8.h"

namespace sorvanta {
namespace {

// Runs `sh -c script` with the arguments inside a fresh virtual display
// large enough for the whole window; `timeout` bounds the run, so the test
// cannot hang the suite. The output, stdout and stderr merged.
QString OnVirtualDisplay(const QString& script, const QStringList& arguments, int* exitCode) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.remove(QStringLiteral("QT_QPA_PLATFORM"));  // the tests' offscreen
  QProcess run;
  run.setProcessEnvironment(environment);
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.start(QStringLiteral("timeout"),
            QStringList{QStringLiteral("-k"), QStringLiteral("5"), QStringLiteral("90"),
                        QStringLiteral("xvfb-run"), QStringLiteral("-a"), QStringLiteral("-s"),
                        QStringLiteral("-screen 0 1280x1024x24"), QStringLiteral("sh"),
                        QStringLiteral("-c"), script, QStringLiteral("sh")} +
                arguments);
  if (!run.waitForFinished(120 * 1000)) {
    run.kill();
    run.waitForFinished();
  }
  *exitCode = run.exitCode();
  return QString::fromLocal8Bit(run.readAll());
}

bool HaveVirtualDisplay() { return !QStandardPaths::findExecutable("xvfb-run").isEmpty(); }

TEST(EndToEnd, TheWindowAppearsAndClosingItEndsTheProgramCleanly) {
  if (!HaveVirtualDisplay()) {
    GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb); "
                    "the program cannot be started on a virtual display";
  }
  // The program, the closer (which gives up after 30 s), then the
  // program's own exit code.
  const QString script = QStringLiteral(
      "\"$1\" & app=$!\n"
      "\"$2\" 'Sorvanta V1.0' 30; closer=$?\n"
      "if [ $closer -ne 0 ]; then kill $app; fi\n"
      "wait $app; echo \"closer=$closer exit=$?\"\n");
  int exitCode = -1;
  const QString output = OnVirtualDisplay(
      script, {QStringLiteral(SORVANTA_EXECUTABLE), QStringLiteral(WINDOW_CLOSER)}, &exitCode);
  EXPECT_EQ(exitCode, 0) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("found \"Sorvanta V1.0\""))) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("closer=0 exit=0"))) << output.toStdString();
}

// The rows an empty search of path shows, copied: the last function on top.
std::string ListedRowsCopied(const std::string& path) {
  std::vector<std::vector<std::wstring>> rows;
  if (DiaSymbol::Instance().Open(Utf8ToWide(path))) {
    for (const SymbolRef& symbol : DiaSymbol::Instance().FindFunctionsByName(L"")) {
      const RowTexts t = ReadRowTexts(symbol.get());
      rows.push_back({t.name, t.tag, t.address, t.length, t.sourceFile, t.objectFile});
    }
  }
  DiaSymbol::Instance().Open(L"");
  std::reverse(rows.begin(), rows.end());
  return WideToUtf8(CopiedRowsText(rows));
}

// A PDB dragged from a file manager onto the list opens; 搜符号 lists it;
// Ctrl+A and Ctrl+C put every row on the clipboard.
TEST(EndToEnd, ADroppedPdbOpensAndItsListedRowsCopyToTheClipboard) {
  if (!HaveVirtualDisplay()) {
    GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb)";
  }
  // A name that its file:// URI spells with escapes.
  const testing::TempDir dir;
  const std::string pdb = dir.File("样本 x64#1.pdb");
  testing::WriteBytes(pdb, testing::ReadBytes(std::string(SORVANTA_FIXTURES_DIR) + "/sample-x64.pdb"));
  const std::string copied = dir.File("copied.txt");
  const std::string expected = ListedRowsCopied(pdb);
  ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 17) << expected;

  const QString script = QStringLiteral(
      "\"$1\" & app=$!\n"
      "\"$2\" 'Sorvanta V1.0' 30 \"$3\" \"$4\"; driver=$?\n"
      "if [ $driver -ne 0 ]; then sleep 2; kill $app; fi\n"
      "wait $app; echo \"driver=$driver exit=$?\"\n");
  int exitCode = -1;
  const QString output =
      OnVirtualDisplay(script,
                       {QStringLiteral(SORVANTA_EXECUTABLE), QStringLiteral(WINDOW_DRIVER),
                        QString::fromStdString(pdb), QString::fromStdString(copied)},
                       &exitCode);
  EXPECT_EQ(exitCode, 0) << output.toStdString();
  EXPECT_TRUE(output.contains(QStringLiteral("driver=0 exit=0"))) << output.toStdString();
  const std::vector<char> clipboard = testing::ReadBytes(copied);
  EXPECT_EQ(std::string(clipboard.begin(), clipboard.end()), expected);
}

}  // namespace
}  // namespace sorvanta
