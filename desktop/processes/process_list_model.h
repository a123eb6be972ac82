#pragma once
#include <vector>

#include "desktop/common/merged_list_model.h"
#include "engine/capture_session.h"

// The Processes list of the Host Stats page: one row per program (its name,
// how many processes ran it, bytes and packets sent and received), in name
// order. Changes only by merging, so rows keep their place and selection.
// User-interface thread only.
class CProcessListModel : public CMergedListModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 6;

  explicit CProcessListModel(QObject* parent = nullptr);

  // Makes the rows equal to `processes` (name order) in place.
  void Merge(const std::vector<CProcessSummary>& processes);
  void Clear();
  const CProcessSummary& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<CProcessSummary> rows_;
};
