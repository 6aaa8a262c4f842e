// roamgrid: the desktop program. It runs in the working directory, where
// the tile store "RGD/" and "Roamgrid.cfg" live.
#include <clocale>

#include "app/vizizodaz_uri.h"

int main(int argc, char** argv) {
  roamgrid::VIzizodazUri app(argc, argv);
  // QApplication adopts the user's locale; numbers stay in the "C" form.
  std::setlocale(LC_NUMERIC, "C");
  app.InitInstance();
  return 0;
}
