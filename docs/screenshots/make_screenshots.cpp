// Draws the pictures in docs/screenshots: the main window, tab by tab, as
// the program shows a capture file it was started on (`trafalyn FILE`),
// with the refresh worker running as it does for the user.
//
// Usage: make_screenshots CAPTURE OUTDIR   (QT_QPA_PLATFORM=offscreen TZ=UTC;
// `make screenshots` runs it on resources/sample.pcap).
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <cstring>
#include <functional>

#include "desktop/app/settings_store.h"
#include "desktop/app/traffic_app.h"
#include "desktop/common/message_box.h"
#include "desktop/common/text_window.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/graph_panel.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/range/time_range_selection.h"
#include "desktop/window/main_dlg.h"

namespace {

// Runs the event loop until `done` holds; false after `seconds`.
bool WaitFor(const std::function<bool()>& done, int seconds = 15) {
  const QDeadlineTimer deadline(seconds * 1000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  return true;
}

bool Save(QWidget& window, const QDir& out, const char* name) {
  QCoreApplication::processEvents();
  const QString path = out.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
  if (window.grab().toImage().save(path)) return true;
  std::fprintf(stderr, "make_screenshots: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // With "ipv6", only the two pictures of a dual-stack capture.
  const bool ipv6 = argc == 4 && std::strcmp(argv[3], "ipv6") == 0;
  if (argc != 3 && !ipv6) {
    std::fprintf(stderr, "usage: make_screenshots CAPTURE OUTDIR [ipv6]\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[2]));
  QTemporaryDir settingsDir;
  const QString ini = settingsDir.filePath(QStringLiteral("trafalyn.ini"));
  {
    CSettingsStore settings(ini);
    settings.WriteInterfaceKey(-1);
    settings.WriteLogDir("/var/log");
  }
  bool replayed = false;
  SetMessageSink([&replayed](const QString& text) {
    std::printf("%s\n", qPrintable(text));
    replayed = replayed || text.startsWith(QStringLiteral("Replayed "));
  });

  CTrafficApp app;
  app.InitInstance({QStringLiteral("--settings"), ini, QString::fromLocal8Bit(argv[1])});
  CMainDlg& window = *app.MainWindow();
  // The first window's size on a common screen; the offscreen one is small.
  window.resize(1180, 760);
  window.show();
  QTabWidget* tabs = window.Tabs();
  auto* hosts = qobject_cast<CHostStatsPage*>(tabs->widget(CMainDlg::kHostStatsTab));
  auto* conversations = qobject_cast<CConversationsPage*>(tabs->widget(CMainDlg::kConversationsTab));
  auto* status = window.findChild<QLabel*>(QStringLiteral("status"));
  bool ok = hosts != nullptr && conversations != nullptr && status != nullptr;
  ok = ok && WaitFor([&] { return replayed && status->text().startsWith(QStringLiteral("Showing")); });
  ok = ok && (ipv6 || Save(window, out, "settings"));

  // The worker draws the graph when the page is first shown, and the live
  // text at its next list refresh once the Packets sub-page is up.
  tabs->setCurrentIndex(CMainDlg::kHostStatsTab);
  ok = ok && WaitFor([&] { return !hosts->GraphPanel()->Series().received.empty(); });
  // Sorted as a user sorts it: the busiest host first.
  hosts->HostList()->sortByColumn(2, Qt::DescendingOrder);
  hosts->HostList()->selectRow(0);
  ok = ok && Save(window, out, ipv6 ? "ipv6_host_stats" : "host_stats_graph");
  if (ipv6) {
    tabs->setCurrentIndex(CMainDlg::kConversationsTab);
    conversations->Refresh();
    conversations->List()->selectRow(conversations->List()->model()->rowCount() - 2);
    conversations->Show();
    ok = ok && Save(window, out, "ipv6_conversations");
    window.close();
    app.ExitInstance();
    return ok ? 0 : 1;
  }
  // The last 30 seconds of the graph selected, as a drag selects them.
  auto* range = window.findChild<CTimeRangeSelection*>();
  const int64_t newest = TimeBucket(hosts->GraphPanel()->Series().newestStart);
  const int shownBefore = hosts->HostModel()->rowCount();
  if (range != nullptr) range->Set(CTimeRange{newest - 5, newest + 1});
  ok = ok && range != nullptr && WaitFor([&] { return hosts->HostModel()->rowCount() < shownBefore; });
  ok = ok && Save(window, out, "host_stats_range");
  if (range != nullptr) range->Clear();
  hosts->SubPages()->setCurrentIndex(1);
  ok = ok && WaitFor([&] { return hosts->TextPanel()->Text().contains(QStringLiteral("=====")); });
  ok = ok && Save(window, out, "host_stats_packets");

  tabs->setCurrentIndex(CMainDlg::kConversationsTab);
  conversations->Refresh();
  // The largest transfers first, the top two shown.
  QTableView* list = conversations->List();
  list->sortByColumn(4, Qt::DescendingOrder);
  for (int row = 0; row < 2 && row < list->model()->rowCount(); ++row) {
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  conversations->Show();
  ok = ok && conversations->ListModel()->rowCount() > 0 && Save(window, out, "conversations");

  // The busiest service, its latency strip drawn below the table.
  tabs->setCurrentIndex(CMainDlg::kServicesTab);
  auto* services = tabs->widget(CMainDlg::kServicesTab)->findChild<QTableView*>(QStringLiteral("services"));
  ok = ok && services != nullptr && WaitFor([&] { return services->model()->rowCount() > 0; });
  if (ok) services->selectRow(0);
  ok = ok && Save(window, out, "services");

  tabs->setCurrentIndex(CMainDlg::kAboutTab);
  ok = ok && Save(window, out, "about");
  window.close();
  app.ExitInstance();
  if (!ok) std::fprintf(stderr, "make_screenshots: the window did not show the replay in time\n");
  return ok ? 0 : 1;
}
