// Files dragged onto the main window: a local file opens as if its path
// were typed and 打开文件 pressed; anything else is left to the controls.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QList>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "DialogProbe.h"
#include "FileDrop.h"
#include "TempDir.h"

namespace sorvanta {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::FakeWindowOperations;

// As file managers drag files: the URLs, and the same as plain text, which
// an edit box would take as text.
QMimeData* Files(const QList<QUrl>& urls) {
  auto* data = new QMimeData;
  data->setUrls(urls);
  QStringList lines;
  for (const QUrl& url : urls) lines << url.toString();
  data->setText(lines.join('\n'));
  return data;
}

class FileDropTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::DropSession(); }

  // Drags data over target and drops it there, as Qt delivers a drag that
  // ends on that widget; returns whether the drop was taken. Runs the
  // events the drop posted.
  bool Drop(QWidget* target, QMimeData* owned) {
    const std::unique_ptr<QMimeData> data(owned);
    const QPointF at = QRectF(target->rect()).center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    if (!move.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QCoreApplication::processEvents();
    return drop.isAccepted();
  }

  FakeWindowOperations operations;
  CSorvantaDlg dialog{operations};
};

TEST_F(FileDropTest, ALocalFileOnTheWindowOrAnEditBoxOpensWithItsPlainPath) {
  // A name that a URI would spell with escapes.
  const testing::TempDir dir;
  const std::string path = dir.File("x y 符号#1.pdb");
  testing::WriteBytes(path, testing::ReadBytes(testing::kX64));
  const QString local = QString::fromStdString(path);

  for (QWidget* target : {static_cast<QWidget*>(&dialog), static_cast<QWidget*>(dialog.pathEdit),
                          static_cast<QWidget*>(dialog.symbolEdit)}) {
    testing::DropSession();
    dialog.pathEdit->setText(QStringLiteral("typed before"));
    EXPECT_TRUE(Drop(target, Files({QUrl::fromLocalFile(local)}))) << target->objectName().toStdString();
    EXPECT_EQ(dialog.pathEdit->text(), local);
    EXPECT_NE(DiaSymbol::Instance().session, nullptr);
    EXPECT_EQ(dialog.symbolEdit->text(), "");
  }
  EXPECT_THAT(operations.messages, IsEmpty());
  // Like a typed path: opening shows nothing by itself.
  EXPECT_TRUE(dialog.results.empty());
  EXPECT_EQ(dialog.resultList->rowCount(), 0);
}

TEST_F(FileDropTest, AFileThatIsNoPdbGivesTheOpenCommandsMessage) {
  const testing::TempDir dir;
  const std::string path = dir.File("notes.txt");
  testing::WriteBytes(path, {'n', 'o'});
  EXPECT_TRUE(Drop(dialog.pathEdit, Files({QUrl::fromLocalFile(QString::fromStdString(path))})));
  EXPECT_EQ(dialog.pathEdit->text().toStdString(), path);
  EXPECT_THAT(operations.messages, ElementsAre("打开 PDB 文件失败!"));
  EXPECT_EQ(DiaSymbol::Instance().session, nullptr);
}

TEST_F(FileDropTest, OfSeveralUrlsTheFirstLocalFileIsTaken) {
  const QString x86 = QString::fromStdString(testing::kX86);
  const QString x64 = QString::fromStdString(testing::kX64);
  EXPECT_TRUE(Drop(&dialog, Files({QUrl(QStringLiteral("https://example.com/a.pdb")),
                                   QUrl::fromLocalFile(x86), QUrl::fromLocalFile(x64)})));
  EXPECT_EQ(dialog.pathEdit->text(), x86);
  EXPECT_THAT(operations.messages, IsEmpty());
}

TEST_F(FileDropTest, RemoteUrlsAndTextAreRefusedByTheWindowAndLeftToEditBoxes) {
  dialog.pathEdit->setText(QStringLiteral("kept"));
  auto* remote = Files({QUrl(QStringLiteral("https://example.com/a.pdb"))});
  EXPECT_FALSE(Drop(&dialog, remote));
  auto* text = new QMimeData;
  text->setText(QStringLiteral("main"));
  EXPECT_FALSE(Drop(&dialog, text));
  EXPECT_EQ(dialog.pathEdit->text(), "kept");

  // Plain text on an edit box goes in as text, and nothing opens.
  auto* name = new QMimeData;
  name->setText(QStringLiteral("main"));
  EXPECT_TRUE(Drop(dialog.symbolEdit, name));
  EXPECT_EQ(dialog.symbolEdit->text(), "main");
  EXPECT_EQ(DiaSymbol::Instance().session, nullptr);
  EXPECT_THAT(operations.messages, IsEmpty());
}

TEST(FirstLocalFile, IsThePathOfTheFirstFileUrlOrNothing) {
  QMimeData data;
  EXPECT_EQ(FirstLocalFile(data), "");
  data.setText(QStringLiteral("/tmp/a.pdb"));
  EXPECT_EQ(FirstLocalFile(data), "");
  data.setUrls({QUrl(QStringLiteral("file:///tmp/a%20b.pdb")), QUrl(QStringLiteral("file:///tmp/c.pdb"))});
  EXPECT_EQ(FirstLocalFile(data), "/tmp/a b.pdb");
  data.setUrls({QUrl(QStringLiteral("sftp://host/tmp/a.pdb"))});
  EXPECT_EQ(FirstLocalFile(data), "");
}

}  // namespace
}  // namespace sorvanta
