// The application icon (icon group 128), drawn at run time: a small grey
// cube outlined in black at the upper left, a dotted yellow line from it
// down to the right, and red track lines crossing near the bottom, on a
// transparent background.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace roamgrid {

// One image of the icon, `side` pixels square: 16, 32 and 48 for the
// window, 16 to 256 for the installed theme icons. Painting a QImage needs
// no display and no application object.
QImage DrawAppIconImage(int side);

// The same as a pixmap (needs the application object).
QPixmap DrawAppIconPixmap(int side);

// The icon with its 16, 32 and 48 pixel images.
QIcon MakeAppIcon();

}  // namespace roamgrid
