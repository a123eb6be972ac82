#pragma once
#include <QStringList>
#include <array>
#include <cstdint>
#include <vector>

#include "desktop/common/merged_list_model.h"
#include "engine/capture_session.h"

// One row of the host list: a copy of a host's counters, named by address;
// the engine may drop the host at any moment.
using CHostRow = CHostSummary;

// The Host Stats host list: eight columns, rows in ascending address order.
// It changes only by merging, so rows keep their position and selection.
// User-interface thread only, except the static functions.
class CHostListModel : public CMergedListModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 8;
  // The widths the list was designed with: the least each column gets.
  static const int kColumnWidths[kColumns];
  // Per column, texts as wide as the widest it shows.
  static const std::array<QStringList, kColumns>& ColumnSamples();

  explicit CHostListModel(QObject* parent = nullptr);

  // Makes the rows equal to `hosts` (ascending address order) in place: rows
  // of hosts that are gone are removed, new hosts inserted at their sorted
  // place, changed rows updated. Never resets the model.
  void Merge(const std::vector<CHostRow>& hosts);
  void Clear();
  const CHostRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<CHostRow> rows_;
};
