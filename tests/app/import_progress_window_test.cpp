// The progress window of the desktop program's import, shown at once
// (no half-second wait): what it says, its Cancel, and the main dialog's
// input held back while it lives.
#include "app/import_progress_window.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace roamgrid {

class ImportProgressWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheLogAndTheBytesAndStopsOnCancel() {
    QWidget owner;
    auto* button = new QPushButton("N", &owner);
    int clicks = 0;
    connect(button, &QPushButton::clicked, [&] { ++clicks; });
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    {
      ImportProgressWindow progress(&owner, 3'000'000, 0);
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
      progress.BeginLog(0, 2, "/logs/one.log");
      progress.Advance(1'000'000);
      progress.BeginLog(1, 2, "/logs/two.log");
      progress.Advance(500'000);
      QCOMPARE(progress.LabelText(), QStringLiteral("2 of 2: two.log\n1.5 of 3.0 MB"));
      QProgressDialog* window = progress.window();
      QVERIFY(window && window->isVisible() && window->isModal());

      QTest::mouseClick(button, Qt::LeftButton);  // the main dialog takes no input
      QCOMPARE(clicks, 0);
      QVERIFY(!progress.Cancelled());
      auto* cancel = window->findChild<QPushButton*>();
      QTest::keyClick(cancel, Qt::Key_Return);  // Return does not cancel
      QTest::keyClick(window, Qt::Key_Return);
      QVERIFY(!progress.Cancelled());
      QTest::mouseClick(cancel, Qt::LeftButton);
      QVERIFY(progress.Cancelled());
    }
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks, 1);
  }

  // A wait for the store lock shows the window at once (before its usual
  // delay) and says so there until the wait is over.
  void ShowsAWaitForTheStoreLock() {
    QWidget owner;
    owner.show();
    ImportProgressWindow progress(&owner, 1'000'000, 60'000);
    progress.BeginLog(0, 1, "one.log");
    QVERIFY(!progress.window());
    progress.WaitingForStoreLock(true);
    QVERIFY(progress.window() && progress.window()->isVisible());
    QCOMPARE(progress.window()->labelText(), QStringLiteral("1 of 1: one.log\n0.0 of 1.0 MB\n") +
                                                 ImportProgressWindow::kWaitingForLockText);
    progress.WaitingForStoreLock(false);
    QCOMPARE(progress.window()->labelText(), QStringLiteral("1 of 1: one.log\n0.0 of 1.0 MB"));
  }

  // Another long task (an export, a fold) shows the same window with its
  // own title and text, its share done on the bar.
  void TaskWindowShowsItsTextAndShareAndStopsOnCancel() {
    QWidget owner;
    owner.show();
    TaskProgressWindow progress(&owner, "Export region", "Writing all-marks.tif", 0);
    progress.Advance(1, 4);
    QProgressDialog* window = progress.window();
    QVERIFY(window && window->isVisible() && window->isModal());
    QCOMPARE(window->windowTitle(), QStringLiteral("Export region"));
    QCOMPARE(window->labelText(), QStringLiteral("Writing all-marks.tif"));
    QCOMPARE(window->value(), window->maximum() / 4);
    progress.WaitingForStoreLock(true);
    QCOMPARE(window->labelText(),
             QStringLiteral("Writing all-marks.tif\n") + TaskProgressWindow::kWaitingForLockText);
    QVERIFY(!progress.Cancelled());
    QTest::mouseClick(window->findChild<QPushButton*>(), Qt::LeftButton);
    QVERIFY(progress.Cancelled());
  }

  // Escape in the window stops the task as Cancel does.
  void EscapeCancels() {
    QWidget owner;
    owner.show();
    TaskProgressWindow progress(&owner, "Export region", "Writing all-marks.tif", 0);
    progress.Advance(1, 4);
    QVERIFY(!progress.Cancelled());
    QTest::keyClick(progress.window(), Qt::Key_Escape);
    QVERIFY(progress.Cancelled());
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::ImportProgressWindowTest)
#include "import_progress_window_test.moc"
