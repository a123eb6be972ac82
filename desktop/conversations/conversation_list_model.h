#pragma once
#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <vector>

class CConversationTable;

// One row of the Conversations list: one direction of one conversation, as
// it was when the list was filled. A row names its conversation by ConvId
// only; the capture thread may delete the record at any moment, so whoever
// needs the record looks it up again under the traffic lock.
struct CConversationRow {
  static constexpr int kColumns = 10;
  int convId = 0;
  int direction = 1;  // 1 sent, 2 received
  std::array<QString, kColumns> texts;
};

// The Conversations list: ten columns, never sorted, filled on request.
// User-interface thread only, except BuildRows.
class CConversationListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The widths the list was designed with: the least each column gets.
  static const int kColumnWidths[CConversationRow::kColumns];
  // Per column, texts as wide as the widest it shows (the Text column's
  // preview is left out: that column takes the rest of the list's width).
  static const std::array<QStringList, CConversationRow::kColumns>& ColumnSamples();

  explicit CConversationListModel(QObject* parent = nullptr);

  // The rows of every conversation in table order, the row carrying the
  // response time first within a conversation; a direction without packets
  // gives no row. Caller holds the traffic lock; any thread.
  static std::vector<CConversationRow> BuildRows(const CConversationTable& table,
                                                 const std::atomic<int>& quit);

  // Replaces every row.
  void SetRows(std::vector<CConversationRow> rows);
  void Clear();
  const CConversationRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<CConversationRow> rows_;
};
