#pragma once
#include <QFont>

// The font of the filter-rule lists: "Courier New" at 10 points, normal
// weight, falling back to the system's fixed-pitch font where that family
// is missing, so the rule texts line up in columns.
inline QFont MakeRuleListFont() {
  QFont font(QStringLiteral("Courier New"), 10, QFont::Normal);
  font.setStyleHint(QFont::Monospace, QFont::PreferMatch);
  font.setFixedPitch(true);
  return font;
}
