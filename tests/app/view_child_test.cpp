// The view window paints its raster white and red, south at the bottom,
// one window pixel per raster pixel inside its one-pixel border.
#include "app/view_child.h"

#include <QImage>
#include <QTest>

#include "support/red_pixels.h"
#include "view/view_state.h"

namespace roamgrid {

using testing::RedPixels;

class ViewChildTest : public QObject {
  Q_OBJECT

 private slots:
  void PaintsMarkedBytesRedWithRowZeroAtTheBottom_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("value");
    QTest::addColumn<QPoint>("pixel");
    // Inside the border the raster starts at (1, 1).
    QTest::newRow("(0,0) bottom left") << 0 << 0 << 1 << QPoint(1, 448);
    QTest::newRow("(447,447) top right") << 447 << 447 << 1 << QPoint(448, 1);
    QTest::newRow("(0,447) bottom right") << 0 << 447 << 1 << QPoint(448, 448);
    QTest::newRow("any non-zero byte") << 100 << 3 << 0x80 << QPoint(4, 348);
    QTest::newRow("255") << 447 << 0 << 255 << QPoint(1, 1);
  }
  void PaintsMarkedBytesRedWithRowZeroAtTheBottom() {
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, value);
    QFETCH(QPoint, pixel);
    ViewChild view;
    view.resize(451, 451);
    view.raster()[row * kRasterSide + column] = uint8_t(value);
    QCOMPARE(RedPixels(view), QList<QPoint>{pixel});
  }

  void EmptyRasterIsWhiteInsideABorder() {
    ViewChild view;
    view.resize(451, 451);
    const QImage image = view.grab().toImage();
    QCOMPARE(image.size(), QSize(451, 451));
    for (int y = 1; y < 450; ++y) {
      for (int x = 1; x < 450; ++x) QCOMPARE(image.pixelColor(x, y), QColor(Qt::white));
    }
    QVERIFY(image.pixelColor(0, 200) != QColor(Qt::white));
    QVERIFY(image.pixelColor(450, 0) != QColor(Qt::white));
  }
};

}  // namespace roamgrid

QTEST_MAIN(roamgrid::ViewChildTest)
#include "view_child_test.moc"
