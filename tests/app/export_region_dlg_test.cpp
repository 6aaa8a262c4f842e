// The first question of "Export region...": the area, the format from the
// export table and the detail of images, as the user sets them.
#include "app/export_region_dlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

namespace roamgrid {

class ExportRegionDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsTheChoiceAndGivesBackWhatWasSet() {
    RegionExportChoice current;
    current.south = "35.6500";
    current.west = "139.7500";
    current.north = "35.7000";
    current.east = "139.8000";
    current.detail = 1;
    ExportRegionDlg dialog(current, nullptr);
    QCOMPARE(dialog.choice(), current);
    auto* format = dialog.findChild<QComboBox*>("format");
    QStringList formats;
    for (int i = 0; i < format->count(); ++i) formats << format->itemText(i);
    QCOMPARE(formats, (QStringList{"PNG", "GeoTIFF", "GeoJSON", "KML", "KMZ"}));
    QCOMPARE(format->currentText(), QStringLiteral("GeoTIFF"));
    auto* detail = dialog.findChild<QComboBox*>("detail");
    QCOMPARE(detail->count(), 9);
    QCOMPARE(detail->currentText(), QStringLiteral("2 x 2 cells a pixel (12 m)"));
    auto* south = dialog.findChild<QLineEdit*>("south");
    // The edges are for a typed area, the detail for images only.
    QVERIFY(!south->isEnabled());
    QVERIFY(detail->isEnabled());
    format->setCurrentIndex(format->findText("GeoJSON"));
    QVERIFY(!detail->isEnabled());

    dialog.findChild<QRadioButton*>("areaBox")->setChecked(true);
    QVERIFY(south->isEnabled());
    south->setText(" 35,6 ");
    format->setCurrentIndex(format->findText("PNG"));
    detail->setCurrentIndex(0);
    RegionExportChoice expected = current;
    expected.area = RegionArea::kBox;
    expected.south = "35,6";
    expected.format = ExportFormat::kPng;
    expected.detail = RegionExportChoice::kFinestDetail;
    QCOMPARE(dialog.choice(), expected);
    dialog.findChild<QRadioButton*>("areaAllMarks")->setChecked(true);
    QCOMPARE(dialog.choice().area, RegionArea::kAllMarks);
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::ExportRegionDlgTest)
#include "export_region_dlg_test.moc"
