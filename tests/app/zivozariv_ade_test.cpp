// The main dialog built from its template, driven as a user would: clicks,
// typed text and keys, with a scripted platform answering its questions.
// Each test runs in a fresh temporary working directory.
#include "app/zivozariv_ade.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QWheelEvent>
#include <memory>

#include "app/settings_dialog.h"
#include "support/red_pixels.h"
#include "support/scratch_working_dir.h"
#include "support/scripted_platform.h"
#include "support/temp_dir.h"
#include "tiles/track_recorder.h"
#include "view/view_state.h"

namespace roamgrid {

using testing::RedPixels;
using testing::ScriptedPlatform;

namespace {

// A fix in the south-west corner cell of the default home view's one tile.
constexpr double kFixLat = 35.65 + 0.5 / 17920;
constexpr double kFixLon = 139.75 + 0.5 / 17920;

void RecordFix(double lat, double lon) {
  TrackRecorder recorder;
  AddPoint(recorder, lat, lon);
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

class ZIvozarivAdeTest : public QObject {
  Q_OBJECT

 private:
  testing::ScratchWorkingDir workingDir_;
  ScriptedPlatform platform_;

  QLineEdit* Edit(ZIvozarivAde& dialog, int id) {
    return qobject_cast<QLineEdit*>(dialog.GetDlgItem(id));
  }
  QPushButton* Button(ZIvozarivAde& dialog, int id) {
    return qobject_cast<QPushButton*>(dialog.GetDlgItem(id));
  }
  void Click(ZIvozarivAde& dialog, int id) {
    QPushButton* button = Button(dialog, id);
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
  }
  // The edits 1012, 1005 and 1006.
  QStringList Texts(ZIvozarivAde& dialog) {
    return {Edit(dialog, 1012)->text(), Edit(dialog, 1005)->text(), Edit(dialog, 1006)->text()};
  }
  // Red pixels of the painted view window.

 private slots:
  void init() {
    QVERIFY(workingDir_.Enter());
    platform_ = ScriptedPlatform();
  }
  void cleanup() {
    QCOMPARE(platform_.unscripted, 0);
    QVERIFY(platform_.AllAnswersUsed());
    workingDir_.Leave();
  }

  void BuildsTheTwentyFourControlsOfTheTemplate() {
    ZIvozarivAde dialog(platform_);
    struct Expected {
      int id;
      const char* className;
      const char* text;
    };
    const Expected expected[] = {
        {1001, "QPushButton", "N"},
        {1002, "QPushButton", "W"},
        {1003, "QPushButton", "S"},
        {1004, "QPushButton", "E"},
        {1005, "QLineEdit", "35.6750"},
        {1006, "QLineEdit", "139.7750"},
        {-1, "QLabel", "NS"},
        {-1, "QLabel", "EW"},
        {1007, "QPushButton", "Zoom Up"},
        {1008, "QPushButton", "Zoom Down"},
        {1009, "QPushButton", "Import"},
        {1010, "QLabel", "スタティック"},
        {1011, "QPushButton", "Jump"},
        {1012, "QLineEdit", "  0.050"},
        {-1, "QLabel", "deg"},
        {1013, "QPushButton", "Export"},
        {1014, "QPushButton", "w"},
        {1015, "QPushButton", "e"},
        {1016, "QPushButton", "s"},
        {1017, "QPushButton", "n"},
        {1018, "QPushButton", "Home"},
        {1019, "QPushButton", "Set Home Position"},
        {-1, "QLabel", "Roamgrid V0.1"},
        {-1, "QLabel", ""},
    };
    QList<QWidget*> controls;
    for (QObject* child : dialog.children()) {
      auto* widget = qobject_cast<QWidget*>(child);
      if (widget && !widget->isWindow() && widget != &dialog.viewWindow) controls.append(widget);
    }
    QCOMPARE(controls.size(), 24);
    for (int i = 0; i < 24; ++i) {
      QCOMPARE(controls[i]->objectName(), QString::number(expected[i].id));
      QCOMPARE(controls[i]->metaObject()->className(), expected[i].className);
      const QVariant text = controls[i]->property("text");
      QCOMPARE(text.toString(), QString::fromUtf8(expected[i].text));
    }

    // Tab order: the tab stops as they stand, top to bottom, then left to
    // right, from "N".
    QList<int> tabOrder;
    QWidget* widget = dialog.GetDlgItem(1001);
    do {
      if (widget->focusPolicy() & Qt::TabFocus) tabOrder.append(widget->objectName().toInt());
      widget = widget->nextInFocusChain();
    } while (widget != dialog.GetDlgItem(1001));
    QCOMPARE(tabOrder, (QList<int>{1001, 1014, 1002, 1004, 1015, 1003, 1016, 1007, 1008, 1012, 1019,
                                   1013, 1009, 1005, 1006, 1011, 1018, 1017}));

    // Dialog units at 7 x 12 pixel base units; the view window replaces the
    // placeholder.
    QCOMPARE(dialog.GetDlgItem(1001)->geometry(), QRect(532, 144, 31, 25));
    QCOMPARE(dialog.GetDlgItem(1019)->geometry(), QRect(470, 411, 150, 21));
    QCOMPARE(dialog.viewWindow.geometry(), QRect(12, 10, 451, 451));
    QVERIFY(dialog.GetDlgItem(1010)->isHidden());
    QCOMPARE(dialog.size(), QSize(633, 472));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Roamgrid"));
    QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                                      Qt::WindowContextHelpButtonHint)));
    QVERIFY(Edit(dialog, 1012)->isReadOnly());
    QVERIFY(Edit(dialog, 1012)->alignment() & Qt::AlignRight);
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
      QVERIFY(!button->autoDefault() && !button->isDefault());
    }

    // The window menu item sits after a separator and does nothing.
    const QList<QAction*> items = dialog.systemMenu()->actions();
    QCOMPARE(items.size(), 2);
    QVERIFY(dialog.mapMenu()->actions().contains(dialog.settingsAction()));
    QCOMPARE(dialog.settingsAction()->text(), QStringLiteral("Settings…"));
    QVERIFY(items[0]->isSeparator());
    QCOMPARE(items[1]->text(), QStringLiteral("バージョン情報 Roamgrid(&A)..."));
    items[1]->trigger();
    QCOMPARE(Texts(dialog), (QStringList{"  0.050", "35.6750", "139.7750"}));
    QVERIFY(dialog.isVisible() == false && dialog.result() == 0);
  }

  void OpensAtTheHomeFileWithFocusOnNAndBothZoomButtonsEnabled() {
    QFile file("Roamgrid.cfg");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("LAT: 14263\r\nLON: 55907\r\nSKP: 0\r\n");
    file.close();
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.focusWidget(), dialog.GetDlgItem(1001));
    QCOMPARE(Texts(dialog), (QStringList{"  0.025", "35.6625", "139.7750"}));
    QVERIFY(Button(dialog, 1007)->isEnabled());
    QVERIFY(Button(dialog, 1008)->isEnabled());

    // Zoom Up at index 0: nothing changes and nothing repaints, and now the
    // button that cannot act is disabled.
    PaintCounter counter;
    dialog.viewWindow.installEventFilter(&counter);
    Click(dialog, 1007);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);
    QCOMPARE(Texts(dialog), (QStringList{"  0.025", "35.6625", "139.7750"}));
    QVERIFY(!Button(dialog, 1007)->isEnabled());
    QCOMPARE(dialog.zoomIndex, 0);

    // A command that moves the view repaints it.
    Click(dialog, 1001);
    QCoreApplication::processEvents();
    QVERIFY(counter.paints > 0);
  }

  void NavigationButtonsMoveTheEditsAndThePaintedView_data() {
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QList<QPoint>>("red");
    const QList<QPoint> corner{QPoint(1, 448)};  // raster (0, 0)
    const QList<QPoint> none;
    QTest::newRow("start") << QList<int>{} << QStringList{"  0.050", "35.6750", "139.7750"}
                           << corner;
    QTest::newRow("N") << QList<int>{1001} << QStringList{"  0.050", "35.7000", "139.7750"} << none;
    QTest::newRow("N S") << QList<int>{1001, 1003} << QStringList{"  0.050", "35.6750", "139.7750"}
                         << corner;
    QTest::newRow("W") << QList<int>{1002} << QStringList{"  0.050", "35.6750", "139.7500"}
                       << QList<QPoint>{QPoint(225, 448)};
    QTest::newRow("W E") << QList<int>{1002, 1004} << QStringList{"  0.050", "35.6750", "139.7750"}
                         << corner;
    QTest::newRow("n") << QList<int>{1017} << QStringList{"  0.050", "35.7250", "139.7750"} << none;
    QTest::newRow("s") << QList<int>{1016} << QStringList{"  0.050", "35.6250", "139.7750"} << none;
    QTest::newRow("e") << QList<int>{1015} << QStringList{"  0.050", "35.6750", "139.8250"} << none;
    QTest::newRow("w") << QList<int>{1014} << QStringList{"  0.050", "35.6750", "139.7250"} << none;
    QTest::newRow("Zoom Down") << QList<int>{1008} << QStringList{"  0.100", "35.6500", "139.7500"}
                               << QList<QPoint>{QPoint(225, 224)};
    QTest::newRow("Zoom Down, Up")
        << QList<int>{1008, 1007} << QStringList{"  0.050", "35.6500", "139.7500"}
        << QList<QPoint>{QPoint(225, 224)};
    QTest::newRow("Zoom Up") << QList<int>{1007} << QStringList{"  0.025", "35.6750", "139.7750"}
                             << none;
    QTest::newRow("moves, then Home") << QList<int>{1008, 1008, 1001, 1015, 1018}
                                      << QStringList{"  0.050", "35.6750", "139.7750"} << corner;
  }
  void NavigationButtonsMoveTheEditsAndThePaintedView() {
    QFETCH(QList<int>, clicks);
    QFETCH(QStringList, texts);
    QFETCH(QList<QPoint>, red);
    RecordFix(kFixLat, kFixLon);
    ZIvozarivAde dialog(platform_);
    for (int id : clicks) Click(dialog, id);
    QCOMPARE(Texts(dialog), texts);
    QCOMPARE(RedPixels(dialog.viewWindow), red);
  }

  void ZoomButtonsAreDisabledAtTheirBoundsUntilTheOtherZoomCommand() {
    ZIvozarivAde dialog(platform_);
    Click(dialog, 1007);  // to index 0
    QVERIFY(!Button(dialog, 1007)->isEnabled());
    QVERIFY(Button(dialog, 1008)->isEnabled());
    for (int i = 0; i < 7; ++i) Click(dialog, 1008);  // to index 7
    QCOMPARE(Edit(dialog, 1012)->text(), QStringLiteral("  3.200"));
    QVERIFY(Button(dialog, 1007)->isEnabled());
    QVERIFY(!Button(dialog, 1008)->isEnabled());
    Click(dialog, 1018);  // Home enables Zoom Down again: it can act at index 1
    QCOMPARE(Edit(dialog, 1012)->text(), QStringLiteral("  0.050"));
    QVERIFY(Button(dialog, 1008)->isEnabled());
  }

  void ZoomButtonsCanActAfterEveryCommand_data() {
    QTest::addColumn<int>("homeZoom");
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<bool>("upEnabled");
    QTest::addColumn<bool>("downEnabled");
    QTest::newRow("Zoom Up to 0, Home at 1") << 1 << QList<int>{1007, 1018} << true << true;
    QTest::newRow("Zoom Up to 0, Home at 0") << 0 << QList<int>{1007, 1018} << false << true;
    QTest::newRow("Zoom Down to 7, Home at 7")
        << 7 << QList<int>{1008, 1008, 1008, 1008, 1008, 1008, 1018} << true << false;
    QTest::newRow("Zoom Down, Home at 0") << 0 << QList<int>{1008, 1018} << false << true;
    QTest::newRow("at 7 from the start") << 7 << QList<int>{} << true << true;
    QTest::newRow("Home at 7, then N") << 7 << QList<int>{1018, 1001} << true << false;
  }
  void ZoomButtonsCanActAfterEveryCommand() {
    QFETCH(int, homeZoom);
    QFETCH(QList<int>, clicks);
    QFETCH(bool, upEnabled);
    QFETCH(bool, downEnabled);
    ZIvozarivAde dialog(platform_);
    dialog.homeZoom = homeZoom;
    for (int id : clicks) Click(dialog, id);
    QCOMPARE(Button(dialog, 1007)->isEnabled(), upEnabled);
    QCOMPARE(Button(dialog, 1008)->isEnabled(), downEnabled);
  }

  void WheelAndDoubleClickRunTheirCommands_data() {
    QTest::addColumn<QList<int>>("notches");  // +1 forward, -1 back
    QTest::addColumn<QPoint>("doubleClick");  // view pixel from the south-west, or (-1, -1)
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("upEnabled");
    const QPoint none(-1, -1);
    QTest::newRow("forward: Zoom Up, then disabled at index 0")
        << QList<int>{1, 1} << none << QStringList{"  0.025", "35.6750", "139.7750"} << false;
    QTest::newRow("back: Zoom Down")
        << QList<int>{-1} << none << QStringList{"  0.100", "35.6500", "139.7500"} << true;
    QTest::newRow("half notches add up")
        << QList<int>{0} << none << QStringList{"  0.100", "35.6500", "139.7500"} << true;
    QTest::newRow("double-click north-east, rounded to 10")
        << QList<int>{} << QPoint(447, 447) << QStringList{"  0.050", "35.7000", "139.8000"}
        << true;
    QTest::newRow("double-click south-west at index 0, rounded to 5")
        << QList<int>{1} << QPoint(0, 0) << QStringList{"  0.025", "35.6625", "139.7625"} << false;
  }
  void WheelAndDoubleClickRunTheirCommands() {
    QFETCH(QList<int>, notches);
    QFETCH(QPoint, doubleClick);
    QFETCH(QStringList, texts);
    QFETCH(bool, upEnabled);
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint inside = dialog.viewWindow.contentsRect().center();
    for (int notch : notches) {
      // 0 stands for two half notches back, as a fine-grained wheel sends them.
      for (int delta : notch == 0 ? QList<int>{-60, -60} : QList<int>{notch * 120}) {
        QWheelEvent wheel(inside, dialog.viewWindow.mapToGlobal(inside), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&dialog.viewWindow, &wheel);
      }
    }
    if (doubleClick.x() >= 0) {
      const QPoint at = dialog.viewWindow.contentsRect().topLeft() +
                        QPoint(doubleClick.x(), kRasterSide - 1 - doubleClick.y());
      QTest::mouseDClick(&dialog.viewWindow, Qt::LeftButton, Qt::NoModifier, at);
    }
    QCOMPARE(Texts(dialog), texts);
    QCOMPARE(Button(dialog, 1007)->isEnabled(), upEnabled);
  }

  void JumpReadsTheTypedCentre_data() {
    QTest::addColumn<QString>("lat");
    QTest::addColumn<QString>("lon");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("home centre, blanks and trailing text")
        << " 35.675"
        << "139.775 E" << QStringList{"  0.050", "35.6750", "139.7750"};
    QTest::newRow("snapped to the tile toward zero")
        << "35.69"
        << "139.79" << QStringList{"  0.050", "35.6750", "139.7750"};
    QTest::newRow("empty edits") << ""
                                 << "" << QStringList{"  0.050", " 0.0250", " 0.0250"};
    QTest::newRow("negative") << "-35.6"
                              << "-0.01" << QStringList{"  0.050", "-35.5750", " 0.0250"};
  }
  void JumpReadsTheTypedCentre() {
    QFETCH(QString, lat);
    QFETCH(QString, lon);
    QFETCH(QStringList, texts);
    RecordFix(kFixLat, kFixLon);
    ZIvozarivAde dialog(platform_);
    Click(dialog, 1001);  // away from the fix
    for (auto [id, text] : {std::pair{1005, lat}, std::pair{1006, lon}}) {
      Edit(dialog, id)->clear();
      QTest::keyClicks(Edit(dialog, id), text);
    }
    Click(dialog, 1011);
    QCOMPARE(Texts(dialog), texts);
    QCOMPARE(RedPixels(dialog.viewWindow).size(), texts[1] == "35.6750" ? 1 : 0);
  }

  void SetHomePositionWritesTheFileOnlyOnYes() {
    ZIvozarivAde dialog(platform_);
    Click(dialog, 1001);  // origin 14270, 55900, zoom 1
    platform_.QueueMessageAnswer(MessageAnswer::kNo);
    Click(dialog, 1019);
    QVERIFY(!QFile::exists("Roamgrid.cfg"));
    platform_.QueueMessageAnswer(MessageAnswer::kYes);
    Click(dialog, 1019);
    QFile file("Roamgrid.cfg");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("LAT: 14270\r\nLON: 55900\r\nSKP: 1\r\n"));
    QCOMPARE(platform_.messages.size(), size_t(2));
    QCOMPARE(platform_.messages[1].text, std::string("Are you shure?"));
    QCOMPARE(platform_.messages[1].title, std::string("Home Position"));
    // The view stays where it is; Home now returns here.
    QCOMPARE(Edit(dialog, 1005)->text(), QStringLiteral("35.7000"));
    Click(dialog, 1003);
    Click(dialog, 1018);
    QCOMPARE(Edit(dialog, 1005)->text(), QStringLiteral("35.7000"));
  }

  void EnterJumpsFromThePositionEditsAndNeverEndsTheDialog_data() {
    QTest::addColumn<int>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("afterImport");
    QTest::addColumn<int>("result");   // -1: the dialog stays
    QTest::addColumn<QString>("lat");  // edit 1005 afterwards
    QTest::newRow("Enter in 1005 jumps") << 1005 << int(Qt::Key_Return) << false << -1 << "35.7250";
    QTest::newRow("keypad Enter in 1006 jumps")
        << 1006 << int(Qt::Key_Enter) << false << -1 << "35.7250";
    QTest::newRow("Enter on N clicks it")
        << 1001 << int(Qt::Key_Return) << false << -1 << "35.7000";
    QTest::newRow("Enter in 1012 does nothing")
        << 1012 << int(Qt::Key_Return) << false << -1 << "35,73";
    QTest::newRow("keypad Enter in 1012 neither")
        << 1012 << int(Qt::Key_Enter) << false << -1 << "35,73";
    QTest::newRow("Escape ends") << 1005 << int(Qt::Key_Escape) << false << int(QDialog::Rejected)
                                 << "35,73";
    QTest::newRow("Escape just after an import does not")
        << 1005 << int(Qt::Key_Escape) << true << -1 << "35.6750";
    QTest::newRow("nor Enter in 1012") << 1012 << int(Qt::Key_Return) << true << -1 << "35.6750";
  }
  void EnterJumpsFromThePositionEditsAndNeverEndsTheDialog() {
    QFETCH(int, focus);
    QFETCH(int, key);
    QFETCH(bool, afterImport);
    QFETCH(int, result);
    QFETCH(QString, lat);
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    if (afterImport) {
      platform_.QueueLogFiles({"missing.log"});  // its summary box is answered OK
      Click(dialog, 1009);
    } else {
      Edit(dialog, 1005)->setText("35,73");  // a decimal comma: tile 714, centre 35.7250
    }
    dialog.GetDlgItem(focus)->setFocus();
    QTest::keyClick(dialog.GetDlgItem(focus), Qt::Key(key),
                    key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QCOMPARE(dialog.isVisible(), result < 0);
    if (result >= 0) QCOMPARE(dialog.result(), result);
    QCOMPARE(Edit(dialog, 1005)->text(), lat);
  }

  // A latitude and longitude pasted into edit 1005 fill both edits; typed
  // text and a single decimal comma stay where they are.
  void PastingAPositionFillsBothEdits_data() {
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<bool>("typed");
    QTest::addColumn<QString>("lat");
    QTest::addColumn<QString>("lon");
    QTest::newRow("comma and space") << "52.849945, 5.313161" << false << "52.849945"
                                     << "5.313161";
    QTest::newRow("tab") << "-33.9249\t-70.6693\n"
                         << false << "-33.9249"
                         << "-70.6693";
    QTest::newRow("decimal comma") << "52,849945" << false << "52,849945"
                                   << "139.7750";
    QTest::newRow("typed, not pasted") << "52.1, 5" << true << "52.1, 5"
                                       << "139.7750";
  }
  void PastingAPositionFillsBothEdits() {
    QFETCH(QString, pasted);
    QFETCH(bool, typed);
    QFETCH(QString, lat);
    QFETCH(QString, lon);
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit* edit = Edit(dialog, 1005);
    edit->setFocus();
    edit->selectAll();
    if (typed) {
      QTest::keyClicks(edit, pasted);
    } else {
      QApplication::clipboard()->setText(pasted);
      QTest::keySequence(edit, QKeySequence::Paste);
    }
    QCOMPARE(Edit(dialog, 1005)->text(), lat);
    QCOMPARE(Edit(dialog, 1006)->text(), lon);
    // Nothing moves until Jump.
    QCOMPARE(dialog.originLat, 14260);
  }

  // "N" and "n" look alike: their tips tell the step, which for "n"
  // depends on the zoom.
  void ButtonTipsTellHowFarEachMoves() {
    ZIvozarivAde dialog(platform_);
    QCOMPARE(Button(dialog, 1001)->toolTip(), QStringLiteral("Move north by half the view"));
    QCOMPARE(Button(dialog, 1017)->toolTip(),
             QStringLiteral("Move north by a whole view (one tile, 0.05°)"));
    QCOMPARE(Button(dialog, 1007)->toolTip(), QStringLiteral("Zoom in: half the view's side"));
    Click(dialog, 1008);
    Click(dialog, 1008);
    QCOMPARE(Button(dialog, 1016)->toolTip(),
             QStringLiteral("Move south by a quarter of the view (one tile, 0.05°)"));
    for (int id : {1002, 1003, 1004, 1009, 1011, 1013, 1014, 1015, 1018, 1019}) {
      QVERIFY2(!Button(dialog, id)->toolTip().isEmpty(), qPrintable(QString::number(id)));
    }
  }

  // Copies of tiles a sync tool left beside them are offered on the map;
  // Yes folds them in as `check --fold-conflicts` does and shows their marks.
  void ConflictCopiesAreOfferedAndFoldedOnYes() {
    RecordFix(kFixLat, kFixLon);
    const QString tile = QStringLiteral("RGD/E139N035/E13975-N03565.map");
    const QString copy =
        QStringLiteral("RGD/E139N035/E13975-N03565 (conflicted copy 2026-12-07).map");
    QVERIFY(QFile::rename(tile, copy));
    QVERIFY(QFile::copy(copy, tile + "~"));
    ZIvozarivAde dialog(platform_);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(RedPixels(dialog.viewWindow).isEmpty());
    auto* note = dialog.findChild<QWidget*>(QStringLiteral("conflictNote"));
    QVERIFY(note && note->isVisible());
    QCOMPARE(note->findChild<QLabel*>(QStringLiteral("conflictText"))->text(),
             QStringLiteral("2 copies from another computer: fold them in?"));
    QVERIFY(note->geometry().intersects(dialog.viewWindow.geometry()));

    QTest::mouseClick(note->findChild<QPushButton*>(QStringLiteral("conflictYes")), Qt::LeftButton);
    QCOMPARE(RedPixels(dialog.viewWindow), QList<QPoint>{QPoint(1, 448)});
    QVERIFY(QFile::exists(tile));
    QVERIFY(!QFile::exists(tile + "~"));
    QVERIFY(!QFile::exists(copy));
    QTRY_VERIFY(!dialog.findChild<QWidget*>(QStringLiteral("conflictNote")));
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("newCellsNote"))->text(),
             QStringLiteral("1 new cell"));
    QCOMPARE(platform_.tasksStarted.size(), size_t(1));
    QVERIFY(platform_.messages.empty());
  }

  // "Not now" hides the note until the number of copies changes; a copy
  // that cannot be folded is named.
  void NotNowWaitsForOtherCopiesAndUnfoldedOnesAreNamed() {
    QVERIFY(QDir().mkpath("RGD/E139N035"));
    QFile damaged("RGD/E139N035/E13975-N03565.map.orig");
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray::fromHex("00000141"));
    damaged.close();
    ZIvozarivAde dialog(platform_);
    auto* note = dialog.findChild<QWidget*>(QStringLiteral("conflictNote"));
    QVERIFY(note);
    QCOMPARE(note->findChild<QLabel*>()->text(),
             QStringLiteral("1 copy from another computer: fold it in?"));
    QTest::mouseClick(note->findChild<QPushButton*>(QStringLiteral("conflictNotNow")),
                      Qt::LeftButton);
    QTRY_VERIFY(!dialog.findChild<QWidget*>(QStringLiteral("conflictNote")));
    RecordFix(kFixLat, kFixLon);
    QVERIFY(QFile::copy("RGD/E139N035/E13975-N03565.map", "RGD/E139N035/E13975-N03565.map~"));
    QTRY_VERIFY(dialog.findChild<QWidget*>(QStringLiteral("conflictNote")));  // the watch saw it

    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("conflictYes")),
                      Qt::LeftButton);
    QCOMPARE(platform_.messages.size(), size_t(1));
    QCOMPARE(platform_.messages[0].text,
             std::string("RGD/E139N035/E13975-N03565.map.orig: damaged"));
    // The damaged copy stays, and so does the offer, for the user to act on.
    QCOMPARE(
        dialog.findChild<QWidget*>(QStringLiteral("conflictNote"))->findChild<QLabel*>()->text(),
        QStringLiteral("1 copy from another computer: fold it in?"));
  }

  void ClosingWritesTheTileTheRecorderStillHolds() {
    {
      ZIvozarivAde dialog(platform_);
      QVERIFY(AddPoint(dialog.recorder, kFixLat, kFixLon));
      QVERIFY(!QDir("RGD").exists());  // held, not yet written
    }
    ZIvozarivAde next(platform_);
    QCOMPARE(RedPixels(next.viewWindow), QList<QPoint>{QPoint(1, 448)});
  }

  void SettingsFormEditsTheUserSettings() {
    UserSettings given;
    given.background = QStringLiteral("tiles");
    given.tileCacheMiB = 77;  // not in the form: kept
    SettingsDialog form(given);
    auto* metres = form.findChild<QSpinBox*>("connectMetres");
    QVERIFY(!metres->isEnabled());
    form.findChild<QCheckBox*>("connect")->setChecked(true);
    QVERIFY(metres->isEnabled());
    metres->setValue(120);
    form.findChild<QSpinBox*>("maxSpeedKmh")->setValue(300);
    form.findChild<QCheckBox*>("anyTalker")->setChecked(true);
    form.findChild<QCheckBox*>("skipInvalid")->setChecked(true);
    QVERIFY(form.findChild<QLineEdit*>("tileSource")->isEnabled());
    form.findChild<QComboBox*>("background")->setCurrentIndex(0);
    QVERIFY(!form.findChild<QLineEdit*>("tileSource")->isEnabled());
    const UserSettings got = form.Settings();
    QVERIFY(got.connect && got.connectMetres == 120 && got.maxSpeedKmh == 300 && got.anyTalker &&
            got.skipInvalid);
    QCOMPARE(got.background, QStringLiteral("none"));
    QCOMPARE(got.tileCacheMiB, 77);
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::ZIvozarivAdeTest)
#include "zivozariv_ade_test.moc"
