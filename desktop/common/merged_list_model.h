#pragma once
#include <QAbstractTableModel>

// Base of the list models that change only through MergeSortedRows: it
// opens the model's row signals to the merge, one run of rows at a time.
// User-interface thread only.
class CMergedListModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  template <typename F>
  void RemoveRowsAt(int first, int last, F erase) {
    beginRemoveRows(QModelIndex(), first, last);
    erase();
    endRemoveRows();
  }
  template <typename F>
  void InsertRowsAt(int first, int last, F insert) {
    beginInsertRows(QModelIndex(), first, last);
    insert();
    endInsertRows();
  }
};
