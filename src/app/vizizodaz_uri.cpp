#include "app/vizizodaz_uri.h"

#include "app/app_icon.h"
#include "app/zivozariv_ade.h"

namespace roamgrid {

VIzizodazUri::VIzizodazUri(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Roamgrid"));
  setApplicationVersion(QStringLiteral(ROAMGRID_VERSION));
  setWindowIcon(MakeAppIcon());
}

bool VIzizodazUri::InitInstance() {
  ZIvozarivAde dialog;
  dialog.exec();  // the result is not used: either way the program ends
  return false;
}

}  // namespace roamgrid
