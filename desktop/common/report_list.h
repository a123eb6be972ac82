#pragma once
#include <functional>

#include <QKeySequence>
#include <QList>
#include <QWidget>

class CListSortProxy;
class QAbstractItemModel;
class QAction;
class QLineEdit;
class QTableView;

// A report list as every list of the program offers it: a filter box above
// it that narrows the rows as the user types, sorting by any column on the
// model's raw values (a click on a header; a third click restores the
// model's order), and a right-click menu that starts with "Copy rows" (also
// Ctrl+C: the selected rows as tab-separated text with a header line). The
// page adds its own entries with AddAction. Row numbers given out are the
// model's. User-interface thread only.
class CReportList : public QWidget {
  Q_OBJECT

 public:
  // `model` must outlive the list; it answers CListSortProxy::kSortRole.
  // `findLabel`: the filter box's label; a second list on one page needs
  // a mnemonic of its own.
  explicit CReportList(QAbstractItemModel* model, QWidget* parent = nullptr,
                       const QString& findLabel = QStringLiteral("F&ind:"));

  QTableView* View() const { return view_; }
  QLineEdit* FilterBox() const { return filter_; }
  CListSortProxy* Proxy() const { return proxy_; }

  // The model rows of the selection, in the order the list shows them.
  QList<int> SelectedRows() const;
  // The model row the user acts on: the current row, else the first
  // selected one; -1 when there is none.
  int CurrentRow() const;
  // The selected rows (in the order shown) as tab-separated lines, below a
  // line of the column headers; empty when nothing is selected.
  QString SelectedRowsText() const;

  // Puts `bar` above the filter box, across the list's width.
  void AddBar(QWidget* bar);

  // Adds an entry to the right-click menu that calls `action`, with
  // `shortcuts` working while the list has the focus.
  QAction* AddAction(const QString& text, std::function<void()> action,
                     const QList<QKeySequence>& shortcuts = {});

 signals:
  void SelectionChanged();

 private:
  void CopyRows();

  QLineEdit* filter_;
  QTableView* view_;
  CListSortProxy* proxy_;
};
