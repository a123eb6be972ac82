#include "desktop/common/report_list.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "desktop/common/list_sort_proxy.h"
#include "desktop/common/report_list_view.h"

CReportList::CReportList(QAbstractItemModel* model, QWidget* parent, const QString& findLabel)
    : QWidget(parent) {
  filter_ = new QLineEdit(this);
  filter_->setObjectName(QStringLiteral("filter"));
  filter_->setPlaceholderText(QStringLiteral("address, port or text"));
  filter_->setClearButtonEnabled(true);
  filter_->setToolTip(QStringLiteral("Shows only the rows that contain this text in any column"));
  auto* label = new QLabel(findLabel, this);
  label->setBuddy(filter_);

  proxy_ = new CListSortProxy(this);
  proxy_->setSourceModel(model);
  view_ = new QTableView(this);
  view_->setModel(proxy_);
  SetUpReportList(*view_);
  QHeaderView* header = view_->horizontalHeader();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicatorClearable(true);
  // No column at first: the model's own order.
  header->setSortIndicator(-1, Qt::AscendingOrder);
  view_->setSortingEnabled(true);
  view_->setContextMenuPolicy(Qt::ActionsContextMenu);

  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(label);
  row->addWidget(filter_, 1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(3);
  column->addLayout(row);
  column->addWidget(view_, 1);

  connect(filter_, &QLineEdit::textChanged, proxy_, &CListSortProxy::setFilterFixedString);
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &CReportList::SelectionChanged);
  AddAction(QStringLiteral("Copy rows"), [this] { CopyRows(); }, {QKeySequence::Copy});
}

QList<int> CReportList::SelectedRows() const {
  QList<int> shown;
  for (const QModelIndex& index : view_->selectionModel()->selectedRows()) shown.push_back(index.row());
  std::sort(shown.begin(), shown.end());
  QList<int> rows;
  for (int r : shown) rows.push_back(proxy_->mapToSource(proxy_->index(r, 0)).row());
  return rows;
}

int CReportList::CurrentRow() const {
  const QModelIndex current = view_->currentIndex();
  if (current.isValid() && view_->selectionModel()->isRowSelected(current.row(), QModelIndex())) {
    return proxy_->mapToSource(current).row();
  }
  const QList<int> rows = SelectedRows();
  return rows.isEmpty() ? -1 : rows.first();
}

QString CReportList::SelectedRowsText() const {
  const QList<int> rows = SelectedRows();
  if (rows.isEmpty()) return {};
  const QAbstractItemModel* model = proxy_->sourceModel();
  const int columns = model->columnCount();
  QStringList lines;
  QStringList cells;
  for (int c = 0; c < columns; ++c) cells << model->headerData(c, Qt::Horizontal).toString();
  lines << cells.join(QLatin1Char('\t'));
  for (int r : rows) {
    cells.clear();
    for (int c = 0; c < columns; ++c) cells << model->index(r, c).data().toString();
    lines << cells.join(QLatin1Char('\t'));
  }
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void CReportList::AddBar(QWidget* bar) {
  bar->setParent(this);
  static_cast<QVBoxLayout*>(layout())->insertWidget(0, bar);
}

QAction* CReportList::AddAction(const QString& text, std::function<void()> action,
                                const QList<QKeySequence>& shortcuts) {
  auto* entry = new QAction(text, view_);
  entry->setShortcuts(shortcuts);
  entry->setShortcutContext(Qt::WidgetShortcut);
  connect(entry, &QAction::triggered, this, [action = std::move(action)] { action(); });
  view_->addAction(entry);
  return entry;
}

void CReportList::CopyRows() {
  const QString text = SelectedRowsText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}
