// Every window of the program as a user at the test's scale factor sees it
// (run at 1 and at 1.5, on a 1600 x 1000 screen): it fits the screen, also
// when a remembered geometry no longer does; no control lies outside its
// parent; its mnemonics are unique among the controls shown together; and
// Ctrl+1 to Ctrl+4 switch the main window's tabs.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QLabel>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include "desktop/conversations/save_file_options_dialog.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/settings/filter_dialog.h"
#include "desktop/window/main_dlg.h"
#include "tests/desktop/desktop_test_support.h"

namespace {

QString Name(const QWidget* w) {
  return QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(w->metaObject()->className()), w->objectName());
}

// Shown controls that stick out of their parent (contents scrolled inside
// a scroll area's viewport may).
QStringList Outside(QWidget& window) {
  QStringList out;
  for (QWidget* w : window.findChildren<QWidget*>()) {
    QWidget* parent = w->parentWidget();
    if (!w->isVisibleTo(&window) || w->isWindow() || parent == nullptr) continue;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(parent->parentWidget()); area && area->viewport() == parent) continue;
    if (!parent->rect().contains(w->geometry())) out << Name(w);
  }
  return out;
}

// Mnemonics that two shown controls share.
QStringList SharedMnemonics(QWidget& window) {
  QMap<QString, QStringList> owners;
  const auto note = [&owners](const QString& text) {
    const QKeySequence key = QKeySequence::mnemonic(text);
    if (!key.isEmpty()) owners[key.toString()] << text;
  };
  for (QWidget* w : window.findChildren<QWidget*>()) {
    if (!w->isVisibleTo(&window)) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) note(button->text());
    if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && label->buddy() != nullptr) note(label->text());
    if (auto* bar = qobject_cast<QTabBar*>(w)) {
      for (int i = 0; i < bar->count(); ++i) note(bar->tabText(i));
    }
  }
  QStringList shared;
  for (auto it = owners.begin(); it != owners.end(); ++it) {
    if (it->size() > 1) shared << it.key() + QStringLiteral(": ") + it->join(QStringLiteral(", "));
  }
  return shared;
}

bool OnScreen(const QWidget& window) {
  return window.screen()->availableGeometry().contains(window.frameGeometry());
}

void CheckShown(QWidget& window, const QString& what) {
  QVERIFY2(OnScreen(window), qPrintable(what));
  QVERIFY2(Outside(window).isEmpty(), qPrintable(what + QStringLiteral(": ") + Outside(window).join(QStringLiteral(", "))));
  QVERIFY2(SharedMnemonics(window).isEmpty(), qPrintable(what + QStringLiteral(": ") + SharedMnemonics(window).join(QStringLiteral("; "))));
}

}  // namespace

class WindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void mainWindowTabByTab() {
    CDesktopFixture f;
    f.AddInterface("eth9", {CIpAddr(192, 0, 2, 1)});
    RecordPacket(f.engine, EDirection::kSent, CIpAddr(10, 0, 5, 5), 80, {1000, 0}, 100, 1);
    CMainDlg window(f.engine, f.settings, QString());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTabWidget* tabs = window.Tabs();
    for (int tab = tabs->count() - 1; tab >= 0; --tab) {
      QTest::keyClick(&window, static_cast<Qt::Key>(Qt::Key_1 + tab), Qt::ControlModifier);
      QCOMPARE(tabs->currentIndex(), tab);
      QTabWidget* sub = tab == CMainDlg::kHostStatsTab ? window.TrafficPages().hostStats->SubPages() : nullptr;
      for (int page = 0; page < (sub != nullptr ? sub->count() : 1); ++page) {
        if (sub != nullptr) sub->setCurrentIndex(page);
        QCoreApplication::processEvents();
        CheckShown(window, QStringLiteral("tab %1.%2").arg(tab).arg(page));
      }
    }
  }

  void dialogs() {
    CDesktopFixture f;
    CFilterDialog filters(CFilterRuleList{});
    CSaveFileOptionsDlg save;
    for (QDialog* dialog : {static_cast<QDialog*>(&filters), static_cast<QDialog*>(&save)}) {
      dialog->show();
      QVERIFY(QTest::qWaitForWindowExposed(dialog));
      CheckShown(*dialog, dialog->windowTitle());
    }
  }

  void rememberedGeometryComesBackOnScreen() {
    CDesktopFixture f;
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    {
      CMainDlg window(f.engine, f.settings, QString());
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      // Left on a larger screen, far to the right and below.
      window.setGeometry(room.right() - 100, room.bottom() - 80, room.width() + 300, room.height() + 200);
      window.close();
    }
    CMainDlg again(f.engine, f.settings, QString());
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QVERIFY2(OnScreen(again), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(again.frameGeometry().x())
                                             .arg(again.frameGeometry().y()).arg(again.frameGeometry().width())
                                             .arg(again.frameGeometry().height())));
  }
};

QTEST_MAIN(WindowsTest)
#include "windows_qtest.moc"
