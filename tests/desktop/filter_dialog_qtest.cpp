#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include "settings/filter_rule_store.h"
#include "model/traffic_model.h"
#include "tests/desktop/desktop_test_support.h"
#include "desktop/settings/filter_dialog.h"
#include "desktop/settings/ip_address_edit.h"
#include "desktop/settings/settings_page.h"

class FilterDialogTest : public QObject {
  Q_OBJECT

 private:
  template <typename T>
  static T* Find(QWidget& parent, const char* name) {
    T* widget = parent.findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr) qFatal("no control named %s", name);
    return widget;
  }

  // Blank octets stay blank.
  static void Add(CFilterDialog& dialog, const QStringList& octets, const QString& port) {
    auto* address = Find<CIpAddressEdit>(dialog, "address");
    for (int i = 0; i < 4; ++i) address->Field(i)->setText(i < octets.size() ? octets[i] : QString());
    Find<QLineEdit>(dialog, "port")->setText(port);
    Find<QPushButton>(dialog, "add")->click();
  }

  // Presses the page's Filters button and applies `act` to the modal dialog.
  static void RunFilters(CSettingsPage& page, std::function<void(CFilterDialog&)> act) {
    QTimer::singleShot(0, [act] {
      auto* dialog = qobject_cast<CFilterDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) qFatal("the filter dialog is not open");
      act(*dialog);
    });
    Find<QPushButton>(page, "filters")->click();
  }

 private slots:
  void EntryMessages_data() {
    QTest::addColumn<QStringList>("octets");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("added");
    QTest::newRow("network") << QStringList{"192", "168"} << "" << "" << "192.168.*.*:*";
    QTest::newRow("highest port") << QStringList{} << "65535" << "" << "*.*.*.*:65535";
    QTest::newRow("port too big") << QStringList{"10"} << "65536"
                                  << "Port can not be greater than 65535" << "";
    QTest::newRow("nothing") << QStringList{} << "" << "Please enter IP, Port or both" << "";
    QTest::newRow("zeros") << QStringList{"0", "0", "0", "0"} << "0" << "Please enter IP, Port or both" << "";
  }
  void EntryMessages() {
    QFETCH(QStringList, octets);
    QFETCH(QString, port);
    QFETCH(QString, message);
    QFETCH(QString, added);
    CDesktopFixture f;
    CFilterDialog dialog(CFilterRuleList{});
    Add(dialog, octets, port);
    QCOMPARE(f.messages, message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(dialog.RuleTexts(), added.isEmpty() ? QStringList{} : QStringList{added});
    // A rejected entry stays for the user to correct; an added one is cleared.
    QCOMPARE(Find<QLineEdit>(dialog, "port")->text().isEmpty(), !added.isEmpty() || port.isEmpty());
  }

  void AddressEntryKeys() {
    CIpAddressEdit edit;
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    edit.Field(0)->setFocus();
    // A third digit moves on; a dot moves on; a digit beyond 255 is refused.
    for (QChar c : QStringLiteral("19216.256")) QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
    QCOMPARE(edit.Octets(), (std::array<uint8_t, 4>{192, 16, 25, 0}));
    QCOMPARE(edit.Field(2)->text(), QStringLiteral("25"));
    edit.Clear();
    QCOMPARE(edit.Octets(), (std::array<uint8_t, 4>{}));
  }

  void DeleteNeedsSelection() {
    CDesktopFixture f;
    CFilterDialog dialog(CFilterRuleList{});
    Find<QPushButton>(dialog, "delete")->click();
    QCOMPARE(f.messages, QStringList{"Please select an item to delete"});
    Add(dialog, {"1", "2", "3", "4"}, "");
    Add(dialog, {"5"}, "");
    Add(dialog, {}, "22");
    auto* list = Find<QListWidget>(dialog, "rules");
    list->item(0)->setSelected(true);
    list->item(2)->setSelected(true);
    Find<QPushButton>(dialog, "delete")->click();
    QCOMPARE(dialog.RuleTexts(), QStringList{"1.2.3.4:*"});
    Find<QPushButton>(dialog, "deleteAll")->click();
    QVERIFY(dialog.RuleTexts().isEmpty());
    QCOMPARE(f.messages.size(), 1);
  }

  void KeepsNoMoreRulesThanTheSettingsHold() {
    CDesktopFixture f;
    CFilterDialog dialog(CFilterRuleList{});
    for (int port = 1; port <= 100; ++port) Add(dialog, {}, QString::number(port));
    QVERIFY(f.messages.isEmpty());
    Add(dialog, {}, "101");
    QCOMPARE(f.messages, QStringList{"At most 100 filter rules can be kept"});
    QCOMPARE(dialog.RuleTexts().size(), 100);
  }

  void HandsOverInSortedOrder() {
    CFilterRuleList start;
    start.Append(CFilterRule(192, 168, 0, 0, 0));
    CDesktopFixture f;
    CFilterDialog dialog(start);
    QVERIFY(Find<QRadioButton>(dialog, "include")->isChecked());
    Add(dialog, {}, "80");
    Add(dialog, {"10", "1", "2", "3"}, "443");
    Add(dialog, {}, "80");  // the same rule twice is allowed
    QCOMPARE(dialog.RuleTexts(),
             (QStringList{"*.*.*.*:80", "*.*.*.*:80", "10.1.2.3:443", "192.168.*.*:*"}));
    Find<QRadioButton>(dialog, "exclude")->click();
    Find<QPushButton>(dialog, "ok")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const CFilterRuleList& rules = dialog.Rules();
    QCOMPARE(rules.Mode(), CFilterRuleList::kExclude);
    QStringList order;
    for (const CFilterRule& rule : rules.Rules()) order << QString::fromStdString(rule.ToText());
    QCOMPARE(order, dialog.RuleTexts());
    QCOMPARE(rules.Rules()[2], CFilterRule(10, 1, 2, 3, 443));
  }

  void OkThroughSettingsPagePublishesAndSaves() {
    CDesktopFixture f;
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    RunFilters(page, [](CFilterDialog& dialog) {
      Add(dialog, {"192", "168"}, "");
      Add(dialog, {}, "53");
      Find<QPushButton>(dialog, "ok")->click();
    });
    const CFilterRuleList inForce = f.state->Model().filterRules.Snapshot();
    QCOMPARE(inForce.Count(), std::size_t{2});
    QCOMPARE(QString::fromStdString(inForce.Rules()[0].ToText()), QStringLiteral("*.*.*.*:53"));
    QCOMPARE(Find<QLabel>(page, "summary")->text(), QStringLiteral("Include"));
    QCOMPARE(Find<QListWidget>(page, "rules")->count(), 2);
    // Saved: a fresh load from the same file gives the same list.
    QVERIFY(LoadFilterRules(*f.settings) == inForce);
  }

  // The dialog empties the list and flips the mode; only OK puts that in force.
  void ClearedListInForceOnlyOnOk_data() {
    QTest::addColumn<bool>("ok");
    QTest::newRow("cancel keeps the rules") << false;
    QTest::newRow("ok with no rules shows None") << true;
  }
  void ClearedListInForceOnlyOnOk() {
    QFETCH(bool, ok);
    CDesktopFixture f;
    CFilterRuleList rules;
    rules.Append(CFilterRule(10, 0, 0, 0, 0));
    rules.SetMode(ok ? CFilterRuleList::kInclude : CFilterRuleList::kExclude);
    f.state->Model().filterRules.Replace(rules);
    CSettingsPage page(*f.state, *f.settings, *f.capture);
    RunFilters(page, [ok](CFilterDialog& dialog) {
      Find<QPushButton>(dialog, "deleteAll")->click();
      Find<QRadioButton>(dialog, ok ? "exclude" : "include")->click();
      Find<QPushButton>(dialog, ok ? "ok" : "cancel")->click();
    });
    const CFilterRuleList inForce = f.state->Model().filterRules.Snapshot();
    if (ok) {
      QCOMPARE(inForce.Count(), std::size_t{0});
      QCOMPARE(inForce.Mode(), CFilterRuleList::kExclude);
      QCOMPARE(f.settings->ReadFilterCount(), 0);
    } else {
      QVERIFY(inForce == rules);
      QVERIFY(!f.settings->ReadValue("FilerCount").has_value());
    }
    QCOMPARE(Find<QLabel>(page, "summary")->text(), ok ? QStringLiteral("None") : QStringLiteral("Exclude"));
    QCOMPARE(Find<QListWidget>(page, "rules")->count(), ok ? 0 : 1);
  }
};

QTEST_MAIN(FilterDialogTest)
#include "filter_dialog_qtest.moc"
