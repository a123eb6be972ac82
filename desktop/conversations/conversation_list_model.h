#pragma once
#include <QString>
#include <QStringList>
#include <QVariant>
#include <array>
#include <vector>

#include "desktop/common/merged_list_model.h"
#include "engine/capture_session.h"

// One row of the Conversations list: one direction of one conversation, as
// it was when the list was filled. A row names its conversation by ConvId
// only (within the session the list was filled from); the capture thread
// may delete the conversation at any moment, so whoever needs it asks the
// session again.
struct CConversationRow {
  static constexpr int kColumns = 12;
  static constexpr int kProcessColumn = 3;
  CExportRow key;
  int order = 0;  // the row's place among its conversation's rows
  CIpAddr remote;
  uint16_t remotePort = 0;
  CTimeStamp first;  // the conversation's first and last packets
  CTimeStamp last;
  std::array<QString, kColumns> texts;
  std::array<QVariant, kColumns> sortValues;  // what each column sorts by

  friend bool operator==(const CConversationRow&, const CConversationRow&) = default;
};

// The Conversations list: twelve columns, filled on Refresh by merging, so the
// selection and the scroll position stay. User-interface thread only,
// except MakeRows.
class CConversationListModel : public CMergedListModel {
  Q_OBJECT

 public:
  // The widths the list was designed with: the least each column gets.
  static const int kColumnWidths[CConversationRow::kColumns];
  // Per column, texts as wide as the widest it shows (the Text column's
  // preview is left out: that column takes the rest of the list's width).
  static const std::array<QStringList, CConversationRow::kColumns>& ColumnSamples();

  explicit CConversationListModel(QObject* parent = nullptr);

  // The formatted rows of a session's list. Any thread.
  static std::vector<CConversationRow> MakeRows(const std::vector<CConversationRowData>& data);

  // Makes the rows equal to `rows` (as MakeRows gives them) from session
  // `sessionId`, in place. Rows of another session are all replaced.
  void Merge(int sessionId, const std::vector<CConversationRow>& rows);
  void Clear();
  const CConversationRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }
  // The session the rows came from; 0 when empty.
  int SessionId() const { return sessionId_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  std::vector<CConversationRow> rows_;
  int sessionId_ = 0;
};
