#include "app/over_write_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace roamgrid {

class OverWriteDlgTest : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  static T* Control(OverWriteDlg& dlg, int id) {
    return dlg.findChild<T*>(QString::number(id));
  }

 private slots:
  void ConstructedEmpty() {
    OverWriteDlg dlg;
    QCOMPARE(dlg.mergeFlag, false);
    QVERIFY(dlg.pathText.isEmpty());
  }

  void ShowsTemplateTextsAndThePath() {
    OverWriteDlg dlg;
    dlg.pathText = QStringLiteral("/home/me/N035.650-E139.7500-R0.050.bmp");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Export"));
    QCOMPARE(Control<QPushButton>(dlg, 1)->text(), QStringLiteral("OverWrite"));
    QCOMPARE(Control<QPushButton>(dlg, 2)->text(), QStringLiteral("Cancel"));
    QCOMPARE(Control<QPushButton>(dlg, 3)->text(), QStringLiteral("Marge"));
    QCOMPARE(Control<QLabel>(dlg, 1011)->text(),
             QStringLiteral("\"/home/me/N035.650-E139.7500-R0.050.bmp\" exists"));
    // Template positions at 7 x 12 base units: OverWrite at (7, 24, 50, 14).
    QCOMPARE(Control<QPushButton>(dlg, 1)->geometry(), QRect(12, 36, 87, 21));
    QCOMPARE(dlg.size(), QSize(325, 67));
  }

  void LongPathKeepsItsWholeTextAndIsNeverReadAsMarkup() {
    OverWriteDlg dlg;
    dlg.pathText = QStringLiteral("/home/<b>me</b>/") + QString(200, QChar('x')) +
                   QStringLiteral("/N035.650-E139.7500-R0.050.bmp");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QLabel* label = Control<QLabel>(dlg, 1011);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    // Only the drawing shortens it; the control's text is the whole line.
    const QString whole = QStringLiteral("\"%1\" exists").arg(dlg.pathText);
    QCOMPARE(label->text(), whole);
    QCOMPARE(label->toolTip(), whole);
    QCOMPARE(label->accessibleName(), whole);
    QVERIFY(!label->grab().isNull());
  }

  void FocusOnOverWriteAndEnterAnswersIt() {
    OverWriteDlg dlg;
    dlg.mergeFlag = true;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(dlg.focusWidget(), Control<QPushButton>(dlg, 1));
    QTest::keyClick(&dlg, Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.mergeFlag, false);
  }

  void ButtonsGiveTheirAnswers() {
    struct Case {
      int id;
      int result;
      bool mergeFlag;
    };
    for (const Case c : {Case{1, QDialog::Accepted, false}, Case{3, QDialog::Accepted, true},
                         Case{2, QDialog::Rejected, false}}) {
      OverWriteDlg dlg;
      dlg.show();
      QTest::mouseClick(Control<QPushButton>(dlg, c.id), Qt::LeftButton);
      QCOMPARE(dlg.result(), c.result);
      QCOMPARE(dlg.mergeFlag, c.mergeFlag);
      QVERIFY(!dlg.isVisible());
    }
  }

  void EscapeCancels() {
    OverWriteDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(!dlg.isVisible());
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::OverWriteDlgTest)
#include "over_write_dlg_test.moc"
