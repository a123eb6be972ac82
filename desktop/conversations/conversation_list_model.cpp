#include "desktop/conversations/conversation_list_model.h"

#include <string>

#include "model/conversation_table.h"
#include "output/conversation_export.h"
#include "output/conversation_text.h"
#include "output/value_format.h"
#include "desktop/common/list_icons.h"

namespace {

const char* const kHeaders[CConversationRow::kColumns] = {
    "Remote IP/Port", "Port", "ID", "Prot", "Bytes", "Pkts", "Rsp. Tm", "Start", "End", "Text"};

bool RightAligned(int column) { return column >= 2 && column <= 5; }

QString Text(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

CConversationRow MakeRow(const CConversation& c, int direction, const std::atomic<int>& quit) {
  CConversationRow row;
  row.convId = c.convId;
  row.direction = direction;
  // The direction that opens an exchange for the conversation's host role
  // shows the opening times and carries the response time.
  const int opening = c.hostRole == kRoleServer ? kDirReceived : kDirSent;
  const bool isOpening = direction == opening;
  const bool sent = direction == kDirSent;
  const int k = isOpening ? CConversation::kFirstTime : CConversation::kReplyStartTime;
  auto& t = row.texts;
  t[0] = Text(FormatEndpoint(c.remote, c.remotePort));
  t[1] = QString::number(c.localPort);
  t[2] = QString::number(c.convId);
  t[3] = Text(ProtocolName(c.protocol));
  t[4] = QString::number(sent ? c.bytesSent : c.bytesReceived);
  t[5] = QString::number(sent ? c.packetsSent : c.packetsReceived);
  if (isOpening) {
    t[6] = Text(FormatElapsed(c.times[CConversation::kLastTime], c.times[CConversation::kFirstTime]));
  }
  t[7] = Text(FormatClockTime(c.times[static_cast<std::size_t>(k)]));
  t[8] = Text(FormatClockTime(c.times[static_cast<std::size_t>(k + 1)]));
  t[9] = Text(RenderConversationSummary(c, direction, quit));
  return row;
}

}  // namespace

const int CConversationListModel::kColumnWidths[CConversationRow::kColumns] = {
    110, 50, 30, 50, 50, 50, 50, 60, 60, 140};

const std::array<QStringList, CConversationRow::kColumns>& CConversationListModel::ColumnSamples() {
  // Digits stand in for any digits; proportional fonts give them one width.
  static const std::array<QStringList, CConversationRow::kColumns> samples = {
      QStringList{QStringLiteral("255.255.255.255:65535")},
      QStringList{QStringLiteral("65535")},
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

CConversationListModel::CConversationListModel(QObject* parent) : QAbstractTableModel(parent) {}

std::vector<CConversationRow> CConversationListModel::BuildRows(const CConversationTable& table,
                                                                const std::atomic<int>& quit) {
  std::vector<CConversationRow> rows;
  const std::vector<CExportRow> order = ConversationListRows(table);
  rows.reserve(order.size());
  for (const CExportRow& r : order) {
    if (quit.load(std::memory_order_relaxed)) break;
    const CConversation* c = table.FindById(r.convId);
    if (c) rows.push_back(MakeRow(*c, r.direction, quit));
  }
  return rows;
}

void CConversationListModel::SetRows(std::vector<CConversationRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void CConversationListModel::Clear() { SetRows({}); }

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
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(
          (RightAligned(index.column()) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case Qt::DecorationRole:
      if (index.column() == 0) return row.direction == kDirSent ? SentIcon() : ReceivedIcon();
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
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment(
        (RightAligned(section) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
  }
  return {};
}
