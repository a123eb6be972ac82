#include "desktop/common/monospace_font.h"

#include <QFontDatabase>
#include <QFontInfo>

QFont MonospaceFont() {
  QFont font(QStringLiteral("Courier New"), 10, QFont::Normal);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  if (!QFontInfo(font).fixedPitch()) {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSize(10);
    font.setWeight(QFont::Normal);
  }
  return font;
}
