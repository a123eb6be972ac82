#include "desktop/hosts/host_list_model.h"

#include <algorithm>
#include <string>

#include "model/host_table.h"
#include "output/value_format.h"
#include "desktop/common/list_icons.h"

namespace {

const char* const kHeaders[CHostListModel::kColumns] = {"IP",       "Sent",     "Rcvd",
                                                        "Pk. Sent", "Pk. Rcvd", "Last Time"};

QString Text(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// The counters are unsigned 64-bit; the formatters take signed values and
// nothing near 2^63 bytes is ever counted, so the cast only guards the type.
int64_t Signed(uint64_t v) { return static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX)); }

QString ColumnText(const CHostRow& r, int column) {
  switch (column) {
    case 0: return Text(FormatAddress(r.address));
    case 1: return Text(FormatByteCount(Signed(r.bytesSent)));
    case 2: return Text(FormatByteCount(Signed(r.bytesReceived)));
    case 3: return Text(FormatShortCount(Signed(r.packetsSent)));
    case 4: return Text(FormatShortCount(Signed(r.packetsReceived)));
    case 5: return Text(FormatClockTime(r.lastTime));
    default: return {};
  }
}

}  // namespace

const int CHostListModel::kColumnWidths[kColumns] = {110, 50, 50, 50, 50, 80};

const std::array<QStringList, CHostListModel::kColumns>& CHostListModel::ColumnSamples() {
  // The counters show at most five digits, or four and a unit.
  static const std::array<QStringList, kColumns> samples = {
      QStringList{QStringLiteral("255.255.255.255")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 KB"), QStringLiteral("999 MB"),
                  QStringLiteral("9999 GB")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 KB"), QStringLiteral("999 MB"),
                  QStringLiteral("9999 GB")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 K"), QStringLiteral("999 M"),
                  QStringLiteral("9999 G")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 K"), QStringLiteral("999 M"),
                  QStringLiteral("9999 G")},
      QStringList{QStringLiteral("00:00:00.000000")},
  };
  return samples;
}

CHostListModel::CHostListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CHostListModel::AgeLimit(int listRows) {
  if (listRows > 60) return 120;
  if (listRows > 30) return 180;
  return 300;
}

std::vector<CHostRow> CHostListModel::AgeAndCollect(CHostTable& table, int listRows, int64_t now,
                                                    const std::atomic<int>& quit) {
  if (listRows > 10) {
    const int64_t limit = AgeLimit(listRows);
    std::vector<CIpAddr> aged;
    for (const CHostRecord& h : table.Hosts()) {
      if (now - h.lastTime.sec > limit) aged.push_back(h.address);
    }
    for (const CIpAddr& a : aged) table.Remove(a);
  }
  std::vector<CHostRow> rows;
  rows.reserve(table.Size());
  for (const CHostRecord& h : table.Hosts()) {
    if (quit.load(std::memory_order_relaxed)) break;
    rows.push_back({h.address, h.bytesSent, h.bytesReceived, h.packetsSent, h.packetsReceived,
                    h.lastTime});
  }
  return rows;
}

void CHostListModel::Merge(const std::vector<CHostRow>& hosts) {
  int firstChanged = -1;
  int lastChanged = -1;
  std::size_t i = 0;
  int row = 0;
  while (i < hosts.size() || row < rowCount()) {
    const auto rowAt = [this](int r) -> const CIpAddr& { return rows_[static_cast<std::size_t>(r)].address; };
    if (i == hosts.size() || (row < rowCount() && rowAt(row) < hosts[i].address)) {
      // A run of rows whose hosts are gone leaves in one step.
      int end = row + 1;
      while (end < rowCount() && (i == hosts.size() || rowAt(end) < hosts[i].address)) ++end;
      beginRemoveRows(QModelIndex(), row, end - 1);
      rows_.erase(rows_.begin() + row, rows_.begin() + end);
      endRemoveRows();
      // Rows already marked changed all lie before `row`, so they keep their index.
      continue;
    }
    if (row == rowCount() || hosts[i].address < rowAt(row)) {
      // A run of new hosts that all belong before this row arrives in one step.
      std::size_t end = i + 1;
      while (end < hosts.size() && (row == rowCount() || hosts[end].address < rowAt(row))) ++end;
      const int count = static_cast<int>(end - i);
      beginInsertRows(QModelIndex(), row, row + count - 1);
      rows_.insert(rows_.begin() + row, hosts.begin() + static_cast<std::ptrdiff_t>(i),
                   hosts.begin() + static_cast<std::ptrdiff_t>(end));
      endInsertRows();
      row += count;
      i = end;
      continue;
    }
    CHostRow& current = rows_[static_cast<std::size_t>(row)];
    if (!(current == hosts[i])) {
      current = hosts[i];
      if (firstChanged < 0) firstChanged = row;
      lastChanged = row;
    }
    ++row;
    ++i;
  }
  if (firstChanged >= 0) {
    emit dataChanged(index(firstChanged, 1), index(lastChanged, kColumns - 1),
                     {Qt::DisplayRole});
  }
}

void CHostListModel::Clear() {
  if (rows_.empty()) return;
  beginRemoveRows(QModelIndex(), 0, rowCount() - 1);
  rows_.clear();
  endRemoveRows();
}

int CHostListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CHostListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant CHostListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  switch (role) {
    case Qt::DisplayRole:
      return ColumnText(Row(index.row()), index.column());
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(
          Qt::Alignment((index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
    case Qt::DecorationRole:
      return index.column() == 0 ? QVariant(HostIcon()) : QVariant();
    default:
      return {};
  }
}

QVariant CHostListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(
        Qt::Alignment((section == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
  }
  return {};
}
