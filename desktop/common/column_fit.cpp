#include "desktop/common/column_fit.h"

#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <algorithm>

int ColumnCellWidth(const QTableView& view, const QString& text, bool withIcon) {
  // The same sum the item delegate asks the style for when it sizes a cell,
  // so that the width also covers the style's text margins.
  QStyleOptionViewItem option;
  option.initFrom(&view);
  option.font = view.font();
  option.fontMetrics = view.fontMetrics();
  option.features = QStyleOptionViewItem::HasDisplay;
  option.text = text;
  option.textElideMode = Qt::ElideNone;
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  if (withIcon) {
    option.features |= QStyleOptionViewItem::HasDecoration;
    const int small = view.style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, &view);
    option.decorationSize = view.iconSize().isValid() ? view.iconSize() : QSize(small, small);
  }
  return view.style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), &view).width();
}

int FittedColumnWidth(const QTableView& view, int column, int minimum, const QStringList& samples,
                      bool withIcon) {
  int width = std::max(minimum, view.horizontalHeader()->sectionSizeHint(column));
  for (const QString& sample : samples) width = std::max(width, ColumnCellWidth(view, sample, withIcon));
  return width;
}

void FitColumns(QTableView& view, std::span<const int> minimums, std::span<const QStringList> samples,
                int iconColumn) {
  const std::size_t columns = std::min(minimums.size(), samples.size());
  for (std::size_t c = 0; c < columns; ++c) {
    const int column = static_cast<int>(c);
    view.setColumnWidth(column, FittedColumnWidth(view, column, minimums[c], samples[c], column == iconColumn));
  }
}

void WidenColumnToFit(QTableView& view, int column, const QString& text, bool withIcon) {
  if (text.isEmpty()) return;
  const int width = ColumnCellWidth(view, text, withIcon);
  if (width > view.columnWidth(column)) view.setColumnWidth(column, width);
}
