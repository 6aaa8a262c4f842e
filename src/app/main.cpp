// roamgrid: the desktop program. It runs in its store folder, where the
// tile store "RGD/" and "Roamgrid.cfg" live: the working directory, or the
// folder that -C DIR or --user-store names (see StartHelpText).
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "app/qt_platform.h"
#include "app/vizizodaz_uri.h"

int main(int argc, char** argv) {
  using roamgrid::ParseStartArgs;
  using roamgrid::StartArgs;
  const auto arguments = [&] {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  };
  // --help and --version are answered before Qt starts, so they need no
  // display.
  const StartArgs early = ParseStartArgs(arguments());
  if (early.help) {
    std::fputs(roamgrid::StartHelpText().c_str(), stdout);
    return 0;
  }
  if (early.version) {
    std::puts(ROAMGRID_VERSION);
    return 0;
  }
  roamgrid::VIzizodazUri app(argc, argv);
  // QApplication adopts the user's locale; numbers stay in the "C" form.
  std::setlocale(LC_NUMERIC, "C");
  // Qt has taken its own options (-platform, -style, ...) out of argv.
  const StartArgs args = ParseStartArgs(arguments());
  if (!args.error.empty()) {
    std::fprintf(stderr, "roamgrid: %s\n", args.error.c_str());
    return 2;
  }
  roamgrid::QtPlatform platform(nullptr);
  if (!roamgrid::VIzizodazUri::EnterStore(args.store, platform)) return 1;
  app.background = args.background;
  app.tiles = args.tiles;
  app.tilesAttribution = args.tilesAttribution;
  app.openMap = args.map;
  app.mapView = args.mapView;
  app.InitInstance();
  return 0;
}
