#include "desktop/hosts/host_list_model.h"

#include <algorithm>
#include <string>

#include "desktop/common/sorted_merge.h"
#include "output/value_format.h"
#include "desktop/common/list_icons.h"
#include "desktop/common/list_sort_proxy.h"

namespace {

const char* const kHeaders[CHostListModel::kColumns] = {
    "IP", "Name", "Sent", "Rcvd", "Pk. Sent", "Pk. Rcvd", "Last Time", "Process"};

const char* const kHeaderTips[CHostListModel::kColumns] = {
    "The remote host's address", "The remote host's name, once one is known",
    "Bytes sent to the host", "Bytes received from the host", "Packets sent to the host",
    "Packets received from the host", "When the host's last packet was seen",
    "The program that moved the most bytes to or from the host (live traces)"};

bool LeftAligned(int column) { return column <= 1 || column == 7; }

QString Text(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

// The counters are unsigned 64-bit; the formatters take signed values and
// nothing near 2^63 bytes is ever counted, so the cast only guards the type.
int64_t Signed(uint64_t v) { return static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX)); }

QString ColumnText(const CHostRow& r, int column) {
  switch (column) {
    case 0: return Text(FormatAddress(r.address));
    case 1: return Text(r.name);
    case 2: return Text(FormatByteCount(Signed(r.bytesSent)));
    case 3: return Text(FormatByteCount(Signed(r.bytesReceived)));
    case 4: return Text(FormatShortCount(Signed(r.packetsSent)));
    case 5: return Text(FormatShortCount(Signed(r.packetsReceived)));
    case 6: return Text(FormatClockTime(r.lastTime));
    case 7: return QString::fromStdString(r.topProcess);
    default: return {};
  }
}

QVariant SortValue(const CHostRow& r, int column) {
  switch (column) {
    case 0: return CListSortProxy::AddressKey(r.address);
    case 1: return Text(r.name);
    case 2: return QVariant::fromValue(static_cast<qulonglong>(r.bytesSent));
    case 3: return QVariant::fromValue(static_cast<qulonglong>(r.bytesReceived));
    case 4: return QVariant::fromValue(static_cast<qulonglong>(r.packetsSent));
    case 5: return QVariant::fromValue(static_cast<qulonglong>(r.packetsReceived));
    case 6: return CListSortProxy::TimeKey(r.lastTime);
    case 7: return QString::fromStdString(r.topProcess);
    default: return {};
  }
}

}  // namespace

const int CHostListModel::kColumnWidths[kColumns] = {110, 120, 50, 50, 50, 50, 80, 80};

const std::array<QStringList, CHostListModel::kColumns>& CHostListModel::ColumnSamples() {
  // The counters show at most five digits, or four and a unit.
  static const std::array<QStringList, kColumns> samples = {
      QStringList{QStringLiteral("255.255.255.255")},
      // Longer names are cut; the full name is one Show away.
      QStringList{QStringLiteral("mail.example.com")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 KB"), QStringLiteral("999 MB"),
                  QStringLiteral("9999 GB")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 KB"), QStringLiteral("999 MB"),
                  QStringLiteral("9999 GB")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 K"), QStringLiteral("999 M"),
                  QStringLiteral("9999 G")},
      QStringList{QStringLiteral("99999"), QStringLiteral("9999 K"), QStringLiteral("999 M"),
                  QStringLiteral("9999 G")},
      QStringList{QStringLiteral("00:00:00.000000")},
      QStringList{QStringLiteral("firefox-esr")},
  };
  return samples;
}

CHostListModel::CHostListModel(QObject* parent) : CMergedListModel(parent) {}

void CHostListModel::Merge(const std::vector<CHostRow>& hosts) {
  MergeSortedRows(*this, rows_, hosts,
                  [](const CHostRow& a, const CHostRow& b) { return a.address < b.address; }, 1);
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
    case CListSortProxy::kSortRole:
      return SortValue(Row(index.row()), index.column());
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(
          Qt::Alignment((LeftAligned(index.column()) ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
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
  if (role == Qt::ToolTipRole) return QString::fromLatin1(kHeaderTips[section]);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(
        Qt::Alignment((LeftAligned(section) ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
  }
  return {};
}
