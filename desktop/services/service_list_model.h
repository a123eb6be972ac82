#pragma once
#include <QString>
#include <vector>

#include "desktop/common/merged_list_model.h"
#include "services/service_row.h"

// One row of the Services list: a service's figures and the name of its
// far end (empty for a service this host serves, or while unknown).
struct CServiceListRow {
  CServiceRow figures;
  QString name;

  friend bool operator==(const CServiceListRow&, const CServiceListRow&) = default;
};

// The Services list: ten columns, rows in service key order, changed only
// by merging so that the selection and the scroll position stay.
// User-interface thread only.
class CServiceListModel : public CMergedListModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 10;

  explicit CServiceListModel(QObject* parent = nullptr);

  // Makes the rows equal to `rows` (in key order) in place.
  void Merge(const std::vector<CServiceListRow>& rows);
  const CServiceListRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

  // "TCP 198.51.100.20:80", "(served here)" after a service of this host.
  static QString ServiceText(const CServiceKey& key);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<CServiceListRow> rows_;
};
