#include "desktop/common/report_list_view.h"

#include <QHeaderView>
#include <QTableView>

void SetUpReportList(QTableView& list) {
  list.setSelectionBehavior(QAbstractItemView::SelectRows);
  list.setSelectionMode(QAbstractItemView::ExtendedSelection);
  list.setShowGrid(false);
  list.setWordWrap(false);
  list.setEditTriggers(QAbstractItemView::NoEditTriggers);
  list.verticalHeader()->hide();
  // Fixed row heights keep thousands of rows cheap to lay out and scroll.
  list.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list.verticalHeader()->setDefaultSectionSize(list.fontMetrics().height() + 4);
  list.horizontalHeader()->setHighlightSections(false);
}
