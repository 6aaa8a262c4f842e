#include "app/template_font.h"

namespace roamgrid {

QFont TemplateFont(const DialogTemplate& dialog) {
  QFont font;
  font.setFamilies({QString::fromUtf8(dialog.fontFace), QStringLiteral("IPAGothic"),
                    QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
  font.setPixelSize(dialog.fontPoints * 4 / 3);  // 9 points: 12 pixels
  font.setStyleStrategy(QFont::PreferAntialias);
  // Hinted at this size, the full stop of the Japanese fonts looks like a
  // comma ("35,6750").
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

}  // namespace roamgrid
