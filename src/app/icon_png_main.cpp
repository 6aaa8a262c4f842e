// roamgrid-icons OUTDIR NAME: writes the application icon, drawn by the
// same code as the window's icon, as the PNG theme icons that an install
// puts below share/icons/hicolor: OUTDIR/<S>x<S>/apps/NAME.png for S = 16,
// 32, 48, 64, 128 and 256. Runs at build time without a display.
#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>

#include "app/app_icon.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: roamgrid-icons OUTDIR NAME\n", stderr);
    return 2;
  }
  const QString outDir = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int side : {16, 32, 48, 64, 128, 256}) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(side);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!QDir().mkpath(folder) || !roamgrid::DrawAppIconImage(side).save(path, "PNG")) {
      std::fprintf(stderr, "roamgrid-icons: cannot write %s\n", qPrintable(path));
      return 1;
    }
  }
  return 0;
}
