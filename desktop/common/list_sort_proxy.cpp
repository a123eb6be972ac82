#include "desktop/common/list_sort_proxy.h"

#include <QByteArray>

CListSortProxy::CListSortProxy(QObject* parent) : QSortFilterProxyModel(parent) {
  setSortRole(kSortRole);
  setFilterKeyColumn(-1);
  setFilterCaseSensitivity(Qt::CaseInsensitive);
}

QVariant CListSortProxy::AddressKey(const CIpAddr& address, uint16_t port) {
  // Bytes compare unsigned, first to last: family, address, port.
  QByteArray key;
  key.reserve(19);
  key.append(static_cast<char>(address.Family()));
  for (uint8_t b : address.Bytes()) key.append(static_cast<char>(b));
  key.append(static_cast<char>(port >> 8));
  key.append(static_cast<char>(port & 0xFF));
  return key;
}

QVariant CListSortProxy::TimeKey(CTimeStamp time) {
  return QVariant::fromValue(static_cast<qlonglong>(time.sec) * 1000000 + time.usec);
}

bool CListSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
  const QVariant a = left.data(kSortRole);
  const QVariant b = right.data(kSortRole);
  // A cell without a value (an empty response time) sorts below every value.
  if (!a.isValid() || !b.isValid()) return !a.isValid() && b.isValid();
  return QVariant::compare(a, b) == QPartialOrdering::Less;
}

void CListSortProxy::SetColumnRule(int column, const QString& text, bool keep) {
  ruleColumn_ = column;
  ruleText_ = text;
  ruleKeeps_ = keep;
  invalidateFilter();
}

bool CListSortProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  if (ruleColumn_ >= 0) {
    const QModelIndex cell = sourceModel()->index(sourceRow, ruleColumn_, sourceParent);
    if ((cell.data().toString() == ruleText_) != ruleKeeps_) return false;
  }
  return QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent);
}
