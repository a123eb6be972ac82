#include "desktop/services/service_list_model.h"

#include <optional>

#include "desktop/common/list_sort_proxy.h"
#include "desktop/common/sorted_merge.h"
#include "output/value_format.h"

namespace {

const char* const kHeaders[CServiceListModel::kColumns] = {
    "Service",  "Name",     "Exchanges", "Unanswered", "TTFA p50",
    "TTFA p90", "TTFA p99", "TTFA Max",  "Bytes Sent", "Bytes Rcvd"};

const char* const kTimeTip =
    "Time to first answer, seconds: from the end of the opening direction to the start of the reply";

// The time to first answer a column shows, if the service has one.
std::optional<double> FirstAnswer(const CServiceRow& r, int column) {
  if (!r.firstAnswer) return std::nullopt;
  switch (column) {
    case 4: return r.firstAnswer->p50;
    case 5: return r.firstAnswer->p90;
    case 6: return r.firstAnswer->p99;
    default: return r.firstAnswer->max;
  }
}

QVariant Value(const CServiceListRow& row, int column, bool sorting) {
  const CServiceRow& r = row.figures;
  const auto count = [sorting](uint64_t n) {
    return sorting ? QVariant::fromValue(static_cast<qulonglong>(n)) : QVariant(QString::number(n));
  };
  switch (column) {
    case 0:
      return sorting ? CListSortProxy::AddressKey(r.key.address, r.key.port)
                     : QVariant(CServiceListModel::ServiceText(r.key));
    case 1: return row.name;
    case 2: return count(r.exchanges);
    case 3: return count(r.unanswered);
    case 8: return count(r.bytesSent);
    case 9: return count(r.bytesReceived);
    default: {
      // A service without an answer sorts below every time.
      const std::optional<double> t = FirstAnswer(r, column);
      if (sorting) return t ? *t : -1.0;
      return t ? QString::number(*t, 'f', 6) : QString();
    }
  }
}

}  // namespace

CServiceListModel::CServiceListModel(QObject* parent) : CMergedListModel(parent) {}

QString CServiceListModel::ServiceText(const CServiceKey& key) {
  const std::string proto = ProtocolName(key.protocol);
  const QString text = (proto.empty() ? QString::number(key.protocol) : QString::fromStdString(proto)) +
                       QStringLiteral(" ") + QString::fromStdString(FormatEndpoint(key.address, key.port));
  return key.role == EHostRole::kServer ? text + QStringLiteral(" (served here)") : text;
}

void CServiceListModel::Merge(const std::vector<CServiceListRow>& rows) {
  MergeSortedRows(*this, rows_, rows, [](const CServiceListRow& a, const CServiceListRow& b) {
    return a.figures.key < b.figures.key;
  });
}

int CServiceListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CServiceListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant CServiceListModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
    return {};
  }
  switch (role) {
    case Qt::DisplayRole: return Value(Row(index.row()), index.column(), false);
    case CListSortProxy::kSortRole: return Value(Row(index.row()), index.column(), true);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(
          Qt::Alignment((index.column() <= 1 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
    default: return {};
  }
}

QVariant CServiceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) {
    return QAbstractTableModel::headerData(section, orientation, role);
  }
  if (role == Qt::DisplayRole) return QString::fromLatin1(kHeaders[section]);
  if (role == Qt::ToolTipRole && section >= 4 && section <= 7) return QString::fromLatin1(kTimeTip);
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment((section <= 1 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
  }
  return {};
}
