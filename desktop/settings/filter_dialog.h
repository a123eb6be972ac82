#pragma once
#include <QDialog>
#include <optional>

#include <vector>

#include "filters/filter_rule_list.h"
#include "filters/filter_rule_report.h"

class CIpAddressEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

// "Set Filters": edits a copy of the filter rules, IPv4 patterns from the
// address fields or IPv6 prefixes from the field below them. An IPv4 entry
// that would not become the rule it reads as (an octet above 255, an octet
// of 0 before an exact one) is refused with the reason. Only OK yields a new
// list (Rules(), in the list's sorted order, with the chosen mode); Cancel,
// Escape and the close box leave the caller's rules as they were.
// User-interface thread; run modally.
class CFilterDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxPort = 65535;

  // `hits`, when given, holds what each rule of `rules` matched so far,
  // shown beside the rule.
  explicit CFilterDialog(const CFilterRuleList& rules, QWidget* parent = nullptr,
                         const std::vector<CRuleHits>& hits = {});

  // The list to put in force; meaningful after the dialog was accepted.
  const CFilterRuleList& Rules() const { return result_; }

  // The rule texts in the order the list shows them.
  QStringList RuleTexts() const;

  // Puts `host` into the entry fields as the rule to add: the IPv4 address
  // fields, or the IPv6 prefix field.
  void FillIn(const CIpAddr& host);

 public slots:
  void OnAdd();
  void OnDelete();
  void OnDeleteAll();
  void accept() override;

 private:
  void AddRule(const CFilterRule& rule, const CRuleHits* hits = nullptr);
  // Why the address typed cannot become a rule as typed: an octet above
  // 255, or an open octet before an exact one; empty when it can.
  QString EntryProblem() const;
  // Beside the entry: the problem, or that an octet of 0 means any.
  void ShowEntryNote();

  // The rule the entry fields describe, or nothing after a message.
  std::optional<CFilterRule> EnteredRule();

  CIpAddressEdit* address_ = nullptr;
  QLineEdit* prefix_ = nullptr;  // an IPv6 prefix instead of the IPv4 address
  QLineEdit* port_ = nullptr;
  QListWidget* list_ = nullptr;
  QRadioButton* include_ = nullptr;
  QRadioButton* exclude_ = nullptr;
  QLabel* help_ = nullptr;
  QLabel* note_ = nullptr;
  CFilterRuleList result_;
};
