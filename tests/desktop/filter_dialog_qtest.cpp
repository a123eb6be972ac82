// The filter dialog: what an entry adds or why it is refused, the keys of
// the address entry, the limit and the deletions, and what OK (not Cancel)
// puts in force through the Settings page, with what each rule matched.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "desktop/settings/filter_dialog.h"
#include "desktop/settings/ip_address_edit.h"
#include "desktop/settings/settings_page.h"
#include "settings/filter_rule_store.h"
#include "tests/desktop/desktop_test_support.h"

namespace {

template <typename T>
T* Find(QWidget& parent, const char* name) {
  T* widget = parent.findChild<T*>(QString::fromLatin1(name));
  if (widget == nullptr) qFatal("no control named %s", name);
  return widget;
}

// Blank octets stay blank.
void Add(CFilterDialog& dialog, const QStringList& octets, const QString& port,
         const QString& prefix = {}) {
  auto* address = Find<CIpAddressEdit>(dialog, "address");
  for (int i = 0; i < 4; ++i) address->Field(i)->setText(i < octets.size() ? octets[i] : QString());
  Find<QLineEdit>(dialog, "prefix")->setText(prefix);
  Find<QLineEdit>(dialog, "port")->setText(port);
  Find<QPushButton>(dialog, "add")->click();
}

}  // namespace

class FilterDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void entries_data() {
    QTest::addColumn<QStringList>("octets");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("added");
    QTest::newRow("network") << QStringList{"192", "168"} << "" << "" << "" << "192.168.*.*:*";
    QTest::newRow("highest port") << QStringList{} << "65535" << "" << "" << "*.*.*.*:65535";
    QTest::newRow("port too big") << QStringList{"10"} << "65536" << "" << "Port can not be greater than 65535" << "";
    QTest::newRow("nothing") << QStringList{} << "" << "" << "Please enter IP, Port or both" << "";
    QTest::newRow("zeros") << QStringList{"0", "0", "0", "0"} << "0" << "" << "Please enter IP, Port or both" << "";
    QTest::newRow("ipv6 prefix") << QStringList{} << "443" << " 2001:db8::/32 " << "" << "[2001:db8::/32]:443";
    QTest::newRow("ipv6 address") << QStringList{} << "" << "::1" << "" << "[::1]:*";
    QTest::newRow("ipv6 typo") << QStringList{} << "" << "2001:db8::/33x"
                               << "Not an IPv6 address or prefix (such as 2001:db8::/32): 2001:db8::/33x" << "";
    QTest::newRow("both families") << QStringList{"10"} << "" << "2001:db8::/32"
                                   << "Enter an IPv4 address or an IPv6 prefix, not both" << "";
    // Refused with the reason, never stored as something else.
    const QString octet = "%1 is not an octet: each part of an address is 0 to 255.";
    QTest::newRow("300 is no 30") << QStringList{"300", "1", "1", "1"} << "" << "" << octet.arg(300) << "";
    QTest::newRow("256 is no 25") << QStringList{"256", "7", "8", "9"} << "" << "" << octet.arg(256) << "";
    QTest::newRow("255 is") << QStringList{"255", "7", "8", "9"} << "" << "" << "" << "255.7.8.9:*";
    const QString open = "The rule would be %1: an octet of 0, or a blank one, means any value, so only the last "
                         "octets can be left open.";
    QTest::newRow("inner zero") << QStringList{"10", "0", "0", "1"} << "80" << "" << open.arg("10.*.*.1") << "";
    QTest::newRow("inner blank") << QStringList{"10", "", "5"} << "" << "" << open.arg("10.*.5.*") << "";
  }
  void entries() {
    QFETCH(QStringList, octets);
    QFETCH(QString, port);
    QFETCH(QString, prefix);
    QFETCH(QString, message);
    QFETCH(QString, added);
    CDesktopFixture f;
    CFilterDialog dialog(CFilterRuleList{});
    Add(dialog, octets, port, prefix);
    QCOMPARE(f.messages, message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(dialog.RuleTexts(), added.isEmpty() ? QStringList{} : QStringList{added});
  }

  void addressEntryKeys() {
    CIpAddressEdit edit;
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.Field(0)->setFocus();
    // A third digit moves on; a dot moves on; a fourth digit has no room.
    for (QChar c : QStringLiteral("19216.2567")) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    QCOMPARE(edit.Values(), (std::array<int, 4>{192, 16, 256, 7}));
  }

  void limitAndDeletions() {
    CDesktopFixture f;
    CFilterDialog dialog(CFilterRuleList{});
    Find<QPushButton>(dialog, "delete")->click();
    QCOMPARE(f.messages, QStringList{"Please select an item to delete"});
    for (int port = 1; port <= 101; ++port) Add(dialog, {}, QString::number(port));
    QCOMPARE(f.messages.last(), QStringLiteral("At most 100 filter rules can be kept"));
    QCOMPARE(dialog.RuleTexts().size(), 100);
    auto* list = Find<QListWidget>(dialog, "rules");
    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    Find<QPushButton>(dialog, "delete")->click();
    QCOMPARE(dialog.RuleTexts().size(), 98);
    Find<QPushButton>(dialog, "deleteAll")->click();
    QVERIFY(dialog.RuleTexts().isEmpty());
  }

  // The list is sorted; OK puts it in force, shows it and stores it;
  // Cancel changes nothing.
  void okThroughTheSettingsPage_data() {
    QTest::addColumn<bool>("ok");
    QTest::newRow("ok") << true;
    QTest::newRow("cancel") << false;
  }
  void okThroughTheSettingsPage() {
    QFETCH(bool, ok);
    CDesktopFixture f;
    CFilterRuleList start;
    start.Append(CFilterRule(192, 168, 0, 0, 0));
    start.SetMode(CFilterRuleList::kInclude);
    f.engine.Filters().Replace(start);
    (void)f.engine.Filters().Admit(CIpAddr(192, 168, 7, 7), 80, 1204);
    CSettingsPage page(f.engine, f.settings, {});
    QTimer::singleShot(0, [ok] {
      auto* dialog = qobject_cast<CFilterDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) qFatal("the filter dialog is not open");
      QCOMPARE(Find<QListWidget>(*dialog, "rules")->item(0)->text(),
               QStringLiteral("192.168.*.*:*          1 packet, 1,204 bytes"));
      Add(*dialog, {}, "80");
      Add(*dialog, {"10", "1", "2", "3"}, "443");
      Add(*dialog, {}, "", "2001:db8::/48");
      QCOMPARE(dialog->RuleTexts(),
               (QStringList{"*.*.*.*:80", "10.1.2.3:443", "192.168.*.*:*", "[2001:db8::/48]:*"}));
      Find<QRadioButton>(*dialog, "exclude")->click();
      Find<QPushButton>(*dialog, ok ? "ok" : "cancel")->click();
    });
    Find<QPushButton>(page, "filters")->click();
    const CFilterRuleList inForce = f.engine.Filters().Snapshot();
    QCOMPARE(inForce.Count(), std::size_t(ok ? 4 : 1));
    // The kept rule keeps its count across the new list.
    QCOMPARE(Find<QLabel>(page, "summary")->text(),
             ok ? QStringLiteral("Exclude (4 rules, 1 packet matched)")
                : QStringLiteral("Include (1 rule, 1 packet matched)"));
    QCOMPARE(Find<QListWidget>(page, "rules")->count(), ok ? 4 : 1);
    if (ok) QVERIFY(LoadFilterRules(f.settings) == inForce);
    if (ok) QCOMPARE(QString::fromStdString(inForce.Rules()[1].ToText()), QStringLiteral("10.1.2.3:443"));
    QCOMPARE(f.settings.ReadValue("FilerCount").has_value(), ok);
  }
};

QTEST_MAIN(FilterDialogTest)
#include "filter_dialog_qtest.moc"
