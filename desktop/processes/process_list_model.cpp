#include "desktop/processes/process_list_model.h"

#include <algorithm>
#include <string>

#include "desktop/common/list_sort_proxy.h"
#include "desktop/common/sorted_merge.h"
#include "output/value_format.h"

namespace {

const char* const kHeaders[CProcessListModel::kColumns] = {"Process", "PIDs",     "Sent",
                                                           "Rcvd",    "Pk. Sent", "Pk. Rcvd"};

const char* const kHeaderTips[CProcessListModel::kColumns] = {
    "The program's name", "How many processes ran it (a tool started again and again is one program)",
    "Bytes its sockets sent", "Bytes its sockets received", "Packets its sockets sent",
    "Packets its sockets received"};

int64_t Signed(uint64_t v) { return static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX)); }

QString ColumnText(const CProcessSummary& p, int column) {
  switch (column) {
    case 0: return QString::fromStdString(p.name);
    case 1: return QString::number(static_cast<qulonglong>(p.pids.size()));
    case 2: return QString::fromStdString(FormatByteCount(Signed(p.bytesSent)));
    case 3: return QString::fromStdString(FormatByteCount(Signed(p.bytesReceived)));
    case 4: return QString::fromStdString(FormatShortCount(Signed(p.packetsSent)));
    case 5: return QString::fromStdString(FormatShortCount(Signed(p.packetsReceived)));
    default: return {};
  }
}

QVariant SortValue(const CProcessSummary& p, int column) {
  switch (column) {
    case 0: return QString::fromStdString(p.name);
    case 1: return QVariant::fromValue(static_cast<qulonglong>(p.pids.size()));
    case 2: return QVariant::fromValue(static_cast<qulonglong>(p.bytesSent));
    case 3: return QVariant::fromValue(static_cast<qulonglong>(p.bytesReceived));
    case 4: return QVariant::fromValue(static_cast<qulonglong>(p.packetsSent));
    case 5: return QVariant::fromValue(static_cast<qulonglong>(p.packetsReceived));
    default: return {};
  }
}

Qt::Alignment Alignment(int column) { return (column == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter; }

}  // namespace

CProcessListModel::CProcessListModel(QObject* parent) : CMergedListModel(parent) {}

void CProcessListModel::Merge(const std::vector<CProcessSummary>& processes) {
  MergeSortedRows(*this, rows_, processes,
                  [](const CProcessSummary& a, const CProcessSummary& b) { return a.name < b.name; }, 1);
}

void CProcessListModel::Clear() {
  if (rows_.empty()) return;
  beginRemoveRows(QModelIndex(), 0, rowCount() - 1);
  rows_.clear();
  endRemoveRows();
}

int CProcessListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CProcessListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant CProcessListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
  switch (role) {
    case Qt::DisplayRole: return ColumnText(Row(index.row()), index.column());
    case CListSortProxy::kSortRole: return SortValue(Row(index.row()), index.column());
    case Qt::TextAlignmentRole: return QVariant::fromValue(Alignment(index.column()));
    default: return {};
  }
}

QVariant CProcessListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
  if (role == Qt::ToolTipRole) return QString::fromLatin1(kHeaderTips[section]);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Alignment(section));
  return {};
}
