#include "desktop/range/range_bar.h"

#include "desktop/range/time_range_selection.h"

CRangeBar::CRangeBar(CTimeRangeSelection& selection, QString note, QWidget* parent)
    : QLabel(parent), selection_(selection), note_(std::move(note)) {
  setObjectName(QStringLiteral("rangeBar"));
  setTextFormat(Qt::RichText);
  setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(this, &QLabel::linkActivated, &selection_, &CTimeRangeSelection::Clear);
  connect(&selection_, &CTimeRangeSelection::Changed, this, &CRangeBar::Update);
  Update();
}

void CRangeBar::Update() {
  const std::optional<CTimeRange> range = selection_.Range();
  setVisible(range.has_value());
  if (!range) return;
  QString text = QStringLiteral("Showing %1 \u00b7 <a href=\"clear\">Clear range</a>")
                     .arg(CTimeRangeSelection::Text(*range));
  if (!note_.isEmpty()) text += QStringLiteral(" \u00b7 ") + note_.toHtmlEscaped();
  setText(text);
}
