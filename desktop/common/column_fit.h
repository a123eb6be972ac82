#pragma once
#include <QString>
#include <QStringList>
#include <span>

class QTableView;

// Column widths of the report lists. A list was designed for one font;
// with another (the usual Linux fonts are wider) its fixed widths cut the
// addresses and clock times short. So each column gets the larger of its
// designed width and the width its header and its widest texts need in the
// view's current font and style.
// User-interface thread only.

// Pixels a cell of `view` needs to show `text` whole; `withIcon` counts the
// small icon the first column shows beside its text.
int ColumnCellWidth(const QTableView& view, const QString& text, bool withIcon);

// The width described above for `column`: at least `minimum`, the header
// section's own size hint (the model must be set) and the cell width of
// every sample.
int FittedColumnWidth(const QTableView& view, int column, int minimum, const QStringList& samples,
                      bool withIcon);

// Widens `column` of `view` when `text` needs more room than it has; never
// narrows it, so a width the user chose or an earlier text needed stays. For
// texts that outgrow the designed samples, such as IPv6 addresses.
void WidenColumnToFit(QTableView& view, int column, const QString& text, bool withIcon);

// Sets every column of `view` to its fitted width. `minimums` and `samples`
// hold one entry per column; column `iconColumn` shows an icon.
void FitColumns(QTableView& view, std::span<const int> minimums, std::span<const QStringList> samples,
                int iconColumn);
