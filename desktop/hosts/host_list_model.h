#pragma once
#include <QAbstractTableModel>
#include <QStringList>
#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "wire/ip_address.h"
#include "wire/time_stamp.h"

class CHostTable;

// One row of the host list: a copy of a host record's counters. A row names
// its host by address; the host table may drop the record at any moment.
struct CHostRow {
  CIpAddr address{};
  uint64_t bytesSent = 0;
  uint64_t bytesReceived = 0;
  uint64_t packetsSent = 0;
  uint64_t packetsReceived = 0;
  CTimeStamp lastTime;

  friend bool operator==(const CHostRow&, const CHostRow&) = default;
};

// The Host Stats host list: six columns, rows in ascending address order.
// It changes only by merging, so rows keep their position and selection.
// User-interface thread only, except the static functions.
class CHostListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 6;
  // The widths the list was designed with: the least each column gets.
  static const int kColumnWidths[kColumns];
  // Per column, texts as wide as the widest it shows.
  static const std::array<QStringList, kColumns>& ColumnSamples();

  explicit CHostListModel(QObject* parent = nullptr);

  // Seconds a host may stay silent before it is dropped, for a list of
  // `listRows` rows: 300, 180 above 30 rows, 120 above 60.
  static int AgeLimit(int listRows);

  // Drops from `table` every host silent for longer than the age limit
  // (only when the list has more than 10 rows), then copies what is left
  // in table order. `now` is the wall clock in seconds. Stops early when
  // `quit` is set. Caller holds the traffic lock; any thread.
  static std::vector<CHostRow> AgeAndCollect(CHostTable& table, int listRows, int64_t now,
                                             const std::atomic<int>& quit);

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
