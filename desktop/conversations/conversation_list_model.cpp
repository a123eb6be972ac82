#include "desktop/conversations/conversation_list_model.h"

#include <string>

#include "desktop/common/sorted_merge.h"
#include "output/packet_text.h"
#include "output/value_format.h"
#include "desktop/common/list_icons.h"
#include "desktop/common/list_sort_proxy.h"

namespace {

const char* const kHeaders[CConversationRow::kColumns] = {
    "Remote IP/Port", "Name", "Port", "Process", "ID", "Prot", "Bytes", "Pkts", "Rsp. Tm", "Start", "End", "Text"};

const char* const kHeaderTips[CConversationRow::kColumns] = {
    "The remote end's address and port",
    "The remote host's name, once one is known",
    "The local port",
    "The program that owns the local socket (live traces)",
    "The conversation's number",
    "The transport protocol",
    "Bytes in this row's direction",
    "Packets in this row's direction",
    "Response time: from the first packet of the exchange to its last",
    "First packet of this row's part of the exchange",
    "Last packet of this row's part of the exchange",
    "The start of this direction's first packet's data"};

bool RightAligned(int column) { return column >= 4 && column <= 7; }

QString Text(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

CConversationRow MakeRow(const CConversationSnapshot& c, EDirection direction, const std::string& name) {
  using T = CConversationSnapshot;
  CConversationRow row;
  row.key = {c.convId, direction};
  // The direction that opens an exchange for the conversation's host role
  // shows the opening times and carries the response time.
  const bool isOpening = direction == OpeningDirection(c.role);
  row.order = isOpening ? 0 : 1;
  row.remote = c.remote;
  row.remotePort = c.remotePort;
  row.first = c.times[T::kFirstTime];
  row.last = c.times[T::kLastTime];
  const bool sent = direction == EDirection::kSent;
  const int k = isOpening ? T::kFirstTime : T::kReplyStartTime;
  auto& t = row.texts;
  t[0] = Text(FormatEndpoint(c.remote, c.remotePort));
  t[1] = Text(name);
  t[2] = QString::number(c.localPort);
  t[3] = QString::fromStdString(c.process.Text());
  t[4] = QString::number(c.convId);
  t[5] = Text(ProtocolName(c.protocol));
  t[6] = QString::number(sent ? c.bytesSent : c.bytesReceived);
  t[7] = QString::number(sent ? c.packetsSent : c.packetsReceived);
  if (isOpening) {
    t[8] = Text(FormatElapsed(c.times[T::kLastTime], c.times[T::kFirstTime]));
  }
  t[9] = Text(FormatClockTime(c.times[static_cast<std::size_t>(k)]));
  t[10] = Text(FormatClockTime(c.times[static_cast<std::size_t>(k + 1)]));
  t[11] = Text(RenderDataSummary(sent ? c.sentStart : c.receivedStart));
  auto& v = row.sortValues;
  v[0] = CListSortProxy::AddressKey(c.remote, c.remotePort);
  v[1] = t[1];
  v[2] = c.localPort;
  v[3] = t[3];
  v[4] = c.convId;
  v[5] = c.protocol;
  v[6] = QVariant::fromValue(static_cast<qulonglong>(sent ? c.bytesSent : c.bytesReceived));
  v[7] = QVariant::fromValue(static_cast<qulonglong>(sent ? c.packetsSent : c.packetsReceived));
  if (isOpening) {
    const qlonglong first = CListSortProxy::TimeKey(c.times[T::kFirstTime]).toLongLong();
    v[8] = CListSortProxy::TimeKey(c.times[T::kLastTime]).toLongLong() - first;
  }
  v[9] = CListSortProxy::TimeKey(c.times[static_cast<std::size_t>(k)]);
  v[10] = CListSortProxy::TimeKey(c.times[static_cast<std::size_t>(k + 1)]);
  v[11] = t[11];
  return row;
}

}  // namespace

const int CConversationListModel::kColumnWidths[CConversationRow::kColumns] = {
    110, 120, 50, 80, 30, 50, 50, 50, 50, 60, 60, 140};

const std::array<QStringList, CConversationRow::kColumns>& CConversationListModel::ColumnSamples() {
  // Digits stand in for any digits; proportional fonts give them one width.
  static const std::array<QStringList, CConversationRow::kColumns> samples = {
      QStringList{QStringLiteral("255.255.255.255:65535")},
      // Longer names are cut; Show gives the full name.
      QStringList{QStringLiteral("mail.example.com")},
      QStringList{QStringLiteral("65535")},
      QStringList{QStringLiteral("(other user)")},
      QStringList{QStringLiteral("99999")},
      QStringList{QStringLiteral("IGMP"), QStringLiteral("UDP")},
      QStringList{QStringLiteral("99999999")},
      QStringList{QStringLiteral("999999")},
      QStringList{QStringLiteral("-99.999999")},
      QStringList{QStringLiteral("00:00:00.000000")},
      QStringList{QStringLiteral("00:00:00.000000")},
      QStringList{},
  };
  return samples;
}

CConversationListModel::CConversationListModel(QObject* parent) : CMergedListModel(parent) {}

std::vector<CConversationRow> CConversationListModel::MakeRows(
    const std::vector<CConversationRowData>& data) {
  std::vector<CConversationRow> rows;
  rows.reserve(data.size());
  for (const CConversationRowData& d : data) rows.push_back(MakeRow(d.conversation, d.row.direction, d.name));
  return rows;
}

void CConversationListModel::Merge(int sessionId, const std::vector<CConversationRow>& rows) {
  if (sessionId != sessionId_) Clear();
  sessionId_ = sessionId;
  // ConvIds rise along the list; within a conversation, the row that
  // carries the response time comes first.
  MergeSortedRows(*this, rows_, rows, [](const CConversationRow& a, const CConversationRow& b) {
    return a.key.convId != b.key.convId ? a.key.convId < b.key.convId : a.order < b.order;
  });
}

void CConversationListModel::Clear() {
  sessionId_ = 0;
  if (rows_.empty()) return;
  beginRemoveRows(QModelIndex(), 0, rowCount() - 1);
  rows_.clear();
  endRemoveRows();
}

int CConversationListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CConversationListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : CConversationRow::kColumns;
}

QVariant CConversationListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  const CConversationRow& row = Row(index.row());
  switch (role) {
    case Qt::DisplayRole:
      return row.texts[static_cast<std::size_t>(index.column())];
    case CListSortProxy::kSortRole:
      return row.sortValues[static_cast<std::size_t>(index.column())];
    case Qt::ToolTipRole:
      // The preview is often cut short by the column's edge.
      return index.column() == CConversationRow::kColumns - 1 ? QVariant(row.texts.back()) : QVariant();
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(
          (RightAligned(index.column()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case Qt::DecorationRole:
      if (index.column() == 0) return row.key.direction == EDirection::kSent ? SentIcon() : ReceivedIcon();
      return {};
    default:
      return {};
  }
}

QVariant CConversationListModel::headerData(int section, Qt::Orientation orientation,
                                            int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= CConversationRow::kColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
  if (role == Qt::ToolTipRole) return QString::fromLatin1(kHeaderTips[section]);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment(
        (RightAligned(section) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
  }
  return {};
}
