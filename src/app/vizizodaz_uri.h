// The application object: the Qt application of the program, which runs
// the main dialog modally as its only window; when the dialog ends, the
// program ends.
#pragma once

#include <QApplication>

namespace roamgrid {

class VIzizodazUri : public QApplication {
  Q_OBJECT

 public:
  // Sets the program's name, version (1.0.0.1) and icon.
  VIzizodazUri(int& argc, char** argv);

  // Runs the main dialog to its end (Enter in an edit, Escape or the close
  // box) and destroys it, which writes back a tile the recorder still
  // holds. Always false: there is no message loop after the dialog.
  bool InitInstance();
};

}  // namespace roamgrid
