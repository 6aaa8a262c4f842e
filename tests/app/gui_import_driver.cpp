// The desktop program importing logs, for tests that run it beside other
// programs on one store: builds the main dialog (offscreen) in the working
// directory with a scripted platform whose log dialog returns the paths
// given as arguments, clicks Import and closes the dialog. Exits 0 when
// the import asked nothing else of the user.
#include <QApplication>
#include <QPushButton>
#include <clocale>
#include <string>
#include <vector>

#include "app/main_dialog_template.h"
#include "app/zivozariv_ade.h"
#include "support/scripted_platform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  roamgrid::testing::ScriptedPlatform platform;
  platform.QueueLogFiles(std::vector<std::string>(argv + 1, argv + argc));
  {
    roamgrid::ZIvozarivAde dialog(platform);
    auto* import = qobject_cast<QPushButton*>(dialog.GetDlgItem(roamgrid::kIdImport));
    if (!import) return 1;
    import->click();
  }  // the dialog releases the recorder's tile
  return platform.unscripted == 0 && platform.AllAnswersUsed() ? 0 : 1;
}
