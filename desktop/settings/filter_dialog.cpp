#include "desktop/settings/filter_dialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <span>

#include "desktop/settings/ip_address_edit.h"
#include "desktop/common/message_box.h"
#include "desktop/common/monospace_font.h"
#include "output/value_format.h"

Q_DECLARE_METATYPE(CFilterRule)

namespace {

// Each list item carries its rule.
constexpr int kRuleRole = Qt::UserRole;
// The width of an IPv4 rule's text, such as "255.255.255.255:65535".
constexpr int kRuleColumn = 21;

}  // namespace

CFilterDialog::CFilterDialog(const CFilterRuleList& rules, QWidget* parent,
                             const std::vector<CRuleHits>& hits)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Set Filters"));
  setObjectName(QStringLiteral("filterDialog"));

  address_ = new CIpAddressEdit(this);
  address_->setObjectName(QStringLiteral("address"));
  prefix_ = new QLineEdit(this);
  prefix_->setObjectName(QStringLiteral("prefix"));
  prefix_->setPlaceholderText(QStringLiteral("2001:db8::/32"));
  port_ = new QLineEdit(this);
  port_->setObjectName(QStringLiteral("port"));
  port_->setMaxLength(5);
  port_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port_));
  port_->setFixedWidth(port_->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 10);

  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("rules"));
  list_->setSelectionMode(QAbstractItemView::MultiSelection);
  list_->setSortingEnabled(true);
  list_->setFont(MonospaceFont());

  include_ = new QRadioButton(QStringLiteral("&Include"), this);
  include_->setObjectName(QStringLiteral("include"));
  exclude_ = new QRadioButton(QStringLiteral("&Exclude"), this);
  exclude_->setObjectName(QStringLiteral("exclude"));
  include_->setToolTip(QStringLiteral("Record only traffic whose far end matches a rule"));
  exclude_->setToolTip(QStringLiteral("Record all traffic except that whose far end matches a rule"));
  auto* modes = new QButtonGroup(this);
  modes->addButton(include_);
  modes->addButton(exclude_);

  help_ = new QLabel(this);
  help_->setObjectName(QStringLiteral("help"));
  help_->setWordWrap(true);

  auto* add = new QPushButton(QStringLiteral("&Add"), this);
  auto* remove = new QPushButton(QStringLiteral("&Delete"), this);
  // "Del A&ll": A belongs to "&Add".
  auto* removeAll = new QPushButton(QStringLiteral("Del A&ll"), this);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  add->setObjectName(QStringLiteral("add"));
  remove->setObjectName(QStringLiteral("delete"));
  removeAll->setObjectName(QStringLiteral("deleteAll"));
  ok->setObjectName(QStringLiteral("ok"));
  cancel->setObjectName(QStringLiteral("cancel"));
  ok->setDefault(true);
  // Enter in the entry fields must not close the dialog by accident.
  for (QPushButton* button : {add, remove, removeAll, cancel}) button->setAutoDefault(false);

  note_ = new QLabel(this);
  note_->setObjectName(QStringLiteral("note"));
  note_->setWordWrap(true);
  auto* entry = new QHBoxLayout;
  auto* addressLabel = new QLabel(QStringLiteral("IP Add&ress:"), this);
  addressLabel->setBuddy(address_);
  auto* portLabel = new QLabel(QStringLiteral("&Port:"), this);
  portLabel->setBuddy(port_);
  entry->addWidget(addressLabel);
  entry->addWidget(address_);
  entry->addSpacing(4);
  entry->addWidget(portLabel);
  entry->addWidget(port_);
  entry->addSpacing(6);
  entry->addWidget(note_, 1);

  auto* entry6 = new QHBoxLayout;
  auto* prefixLabel = new QLabel(QStringLiteral("IPv&6 Prefix:"), this);
  prefixLabel->setBuddy(prefix_);
  // The two address fields line up under one label width.
  const int labelWidth = std::max(addressLabel->sizeHint().width(), prefixLabel->sizeHint().width());
  addressLabel->setMinimumWidth(labelWidth);
  prefixLabel->setMinimumWidth(labelWidth);
  entry6->addWidget(prefixLabel);
  entry6->addWidget(prefix_, 1);

  auto* type = new QHBoxLayout;
  type->addWidget(new QLabel(QStringLiteral("Filter Type:"), this));
  type->addSpacing(6);
  type->addWidget(include_);
  type->addSpacing(12);
  type->addWidget(exclude_);
  type->addStretch(1);

  auto* left = new QVBoxLayout;
  left->addLayout(entry);
  left->addLayout(entry6);
  left->addWidget(list_, 1);
  left->addLayout(type);
  left->addWidget(help_);

  auto* buttons = new QVBoxLayout;
  buttons->addSpacing(address_->sizeHint().height());
  for (QPushButton* button : {add, remove, removeAll, ok, cancel}) buttons->addWidget(button);
  buttons->addStretch(1);

  auto* top = new QHBoxLayout(this);
  top->addLayout(left, 1);
  top->addSpacing(6);
  top->addLayout(buttons);

  connect(add, &QPushButton::clicked, this, &CFilterDialog::OnAdd);
  connect(remove, &QPushButton::clicked, this, &CFilterDialog::OnDelete);
  connect(removeAll, &QPushButton::clicked, this, &CFilterDialog::OnDeleteAll);
  connect(ok, &QPushButton::clicked, this, &CFilterDialog::accept);
  connect(address_, &CIpAddressEdit::Edited, this, &CFilterDialog::ShowEntryNote);
  connect(port_, &QLineEdit::textEdited, this, &CFilterDialog::ShowEntryNote);
  connect(cancel, &QPushButton::clicked, this, &CFilterDialog::reject);

  // OnInitDialog's order: mode, rules, help text.
  (rules.Mode() == CFilterRuleList::kExclude ? exclude_ : include_)->setChecked(true);
  const std::span<const CFilterRule> shown = rules.Rules();
  for (std::size_t i = 0; i < shown.size(); ++i) AddRule(shown[i], i < hits.size() ? &hits[i] : nullptr);
  help_->setText(QStringLiteral(
      "Enter Include/Exclude Filter IP and/or Port.  Leave trailing octets blank to specify an "
      "entire network.  Example:  192.168"));
  result_.SetMode(rules.Mode());
  ShowEntryNote();
  resize(sizeHint().expandedTo(QSize(440, 280)));
}

void CFilterDialog::FillIn(const CIpAddr& host) {
  address_->Clear();
  prefix_->clear();
  port_->clear();
  if (host.IsV4()) {
    address_->SetOctets({host[0], host[1], host[2], host[3]});
  } else {
    prefix_->setText(QString::fromStdString(FormatAddress(host)));
  }
  ShowEntryNote();
}

QString CFilterDialog::EntryProblem() const {
  const std::array<int, 4> values = address_->Values();
  for (int v : values) {
    if (v > 255) return QStringLiteral("%1 is not an octet: each part of an address is 0 to 255.").arg(v);
  }
  // The rule keeps what was typed only when the octets that mean "any" (0
  // or blank) all trail the exact ones: 10.0.0.1 would become 10.*.*.1.
  bool open = false;
  for (int v : values) {
    if (v == 0) open = true;
    if (v != 0 && open) {
      const std::array<uint8_t, 4> o = address_->Octets();
      const std::string stored = CFilterRule(o[0], o[1], o[2], o[3], 0).ToText();
      return QStringLiteral("The rule would be %1: an octet of 0, or a blank one, means any value, "
                            "so only the last octets can be left open.")
          .arg(QString::fromStdString(stored.substr(0, stored.find(':'))));
    }
  }
  return {};
}

void CFilterDialog::ShowEntryNote() {
  const QString problem = EntryProblem();
  note_->setText(problem.isEmpty() ? QStringLiteral("An octet of 0 or blank means any.") : problem);
}

QStringList CFilterDialog::RuleTexts() const {
  QStringList texts;
  for (int i = 0; i < list_->count(); ++i) {
    texts << QString::fromStdString(list_->item(i)->data(kRuleRole).value<CFilterRule>().ToText());
  }
  return texts;
}

void CFilterDialog::AddRule(const CFilterRule& rule, const CRuleHits* hits) {
  QString text = QString::fromStdString(rule.ToText());
  // Padding with spaces keeps the sorted order the rule texts alone give,
  // and the counts in one column of the monospaced list.
  if (hits != nullptr) text = text.leftJustified(kRuleColumn) + QStringLiteral("  ") + QString::fromStdString(hits->Text());
  auto* item = new QListWidgetItem(text);
  item->setData(kRuleRole, QVariant::fromValue(rule));
  list_->addItem(item);
}

namespace {
constexpr int kMaxStoredRules = 100;
}  // namespace

std::optional<CFilterRule> CFilterDialog::EnteredRule() {
  const std::array<uint8_t, 4> octets = address_->Octets();
  // The field holds at most five digits, so toInt cannot overflow; an
  // empty field is port 0, as atoi reads it.
  const int port = port_->text().toInt();
  if (port > kMaxPort) {
    ShowMessage(this, QStringLiteral("Port can not be greater than 65535"));
    return std::nullopt;
  }
  const QString prefix = prefix_->text().trimmed();
  const bool noOctets = octets == std::array<uint8_t, 4>{};
  if (prefix.isEmpty()) {
    if (const QString problem = EntryProblem(); !problem.isEmpty()) {
      ShowMessage(this, problem);
      return std::nullopt;
    }
    if (noOctets && port == 0) {
      ShowMessage(this, QStringLiteral("Please enter IP, Port or both"));
      return std::nullopt;
    }
    return CFilterRule(octets[0], octets[1], octets[2], octets[3], static_cast<uint16_t>(port));
  }
  if (!noOctets) {
    ShowMessage(this, QStringLiteral("Enter an IPv4 address or an IPv6 prefix, not both"));
    return std::nullopt;
  }
  const std::optional<CFilterRule> rule =
      CFilterRule::ParseIpv6Prefix(prefix.toStdString(), static_cast<uint16_t>(port));
  if (!rule) {
    ShowMessage(this, QStringLiteral("Not an IPv6 address or prefix (such as 2001:db8::/32): %1")
                          .arg(prefix));
  }
  return rule;
}

void CFilterDialog::OnAdd() {
  const std::optional<CFilterRule> rule = EnteredRule();
  if (!rule) return;
  // The settings keep 100 rules; a 101st would be in force now and silently
  // gone at the next start.
  if (list_->count() >= kMaxStoredRules) {
    ShowMessage(this, QStringLiteral("At most 100 filter rules can be kept"));
    return;
  }
  AddRule(*rule);
  address_->Clear();
  prefix_->clear();
  port_->clear();
  ShowEntryNote();
}

void CFilterDialog::OnDelete() {
  if (list_->selectedItems().isEmpty()) {
    ShowMessage(this, QStringLiteral("Please select an item to delete"));
    return;
  }
  for (int i = list_->count() - 1; i >= 0; --i) {
    if (list_->item(i)->isSelected()) delete list_->takeItem(i);
  }
}

void CFilterDialog::OnDeleteAll() {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  list_->clear();
  QGuiApplication::restoreOverrideCursor();
}

void CFilterDialog::accept() {
  CFilterRuleList rules;
  for (int i = 0; i < list_->count(); ++i) {
    rules.Append(list_->item(i)->data(kRuleRole).value<CFilterRule>());
  }
  rules.SetMode(include_->isChecked() ? CFilterRuleList::kInclude : CFilterRuleList::kExclude);
  result_ = std::move(rules);
  QDialog::accept();
}
