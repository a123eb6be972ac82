#pragma once
#include <QSortFilterProxyModel>
#include <QString>
#include <QVariant>
#include <cstdint>

#include "wire/ip_address.h"
#include "wire/time_stamp.h"

// The view of a report list's model that sorts and narrows it. Sorting
// compares the raw values the model gives for kSortRole (numbers, times,
// addresses), not the texts shown, so 9 KB sorts below 10 KB and times sort
// in time order; rows of equal value keep the model's order. The filter
// keeps the rows of which any column's text holds the filter text, case
// ignored. Without a sort column the rows keep the model's order.
// User-interface thread only.
class CListSortProxy : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  static constexpr int kSortRole = Qt::UserRole + 1;

  explicit CListSortProxy(QObject* parent = nullptr);

  // Sort values for kSortRole: an address (family first, then its bytes,
  // then `port`), a time stamp in microseconds.
  static QVariant AddressKey(const CIpAddr& address, uint16_t port = 0);
  static QVariant TimeKey(CTimeStamp time);

  // Besides the filter text: keeps only the rows whose `column` shows
  // exactly `text` (`keep`), or hides them. A negative column: no such rule.
  void SetColumnRule(int column, const QString& text, bool keep);
  void ClearColumnRule() { SetColumnRule(-1, {}, true); }

 protected:
  bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  int ruleColumn_ = -1;
  QString ruleText_;
  bool ruleKeeps_ = true;
};
