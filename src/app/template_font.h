// The font a dialog template names, for the Qt widgets built from it.
#pragma once

#include <QFont>
#include <QStringList>

#include "app/main_dialog_template.h"

namespace roamgrid {

// The template's font where installed, else a Japanese-capable one, at the
// template's point size on a 96 dpi screen (the size the 7 x 12 dialog base
// units belong to).
QFont TemplateFont(const DialogTemplate& dialog);

}  // namespace roamgrid
