// What other fonts and narrow panels must not break: the list columns hold
// their widest texts whole in any font size, and both legend boxes of the
// graph stay whole inside the panel however narrow it gets.
#include <QAbstractItemDelegate>
#include <QHeaderView>
#include <QLabel>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>

#include "desktop/common/column_fit.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/graph_ctrl.h"
#include "desktop/hosts/graph_panel.h"
#include "desktop/hosts/graph_text_ctrl.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/hosts/host_stats_page.h"
#include "tests/desktop/desktop_test_support.h"

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void columnsHoldTheirWidestTexts_data() {
    QTest::addColumn<bool>("conversations");
    QTest::addColumn<int>("pointSize");
    for (int size : {6, 9, 11, 16}) {
      QTest::addRow("conversations %dpt", size) << true << size;
      QTest::addRow("hosts %dpt", size) << false << size;
    }
  }
  void columnsHoldTheirWidestTexts() {
    QFETCH(bool, conversations);
    QFETCH(int, pointSize);
    const QFont original = QApplication::font();
    QFont font = original;
    font.setPointSize(pointSize);
    QApplication::setFont(font);
    CDesktopFixture f;
    // The widest address, ports and time of day (23:59:59.999999).
    const CIpAddr wide(255, 255, 255, 254);
    RecordPacket(f.engine, EDirection::kSent, wide, 65535, {1700006300, 0}, 1400, 1, 65535);
    RecordPacket(f.engine, EDirection::kReceived, wide, 65535, {1700006399, 999999}, 1400, 1, 65535);
    CConversationsPage conversationsPage(f.engine);
    CHostStatsPage hostsPage(f.engine);
    conversationsPage.Refresh();
    hostsPage.RefreshNow();
    QTableView* view = conversations ? conversationsPage.List() : hostsPage.HostList();
    const int* minimums = conversations ? CConversationListModel::kColumnWidths : CHostListModel::kColumnWidths;
    const QStringList* samples = conversations ? CConversationListModel::ColumnSamples().data()
                                               : CHostListModel::ColumnSamples().data();
    const int columns = view->model()->columnCount();
    const int lastFitted = conversations ? columns - 2 : columns - 1;  // Text takes the rest
    const int icon = view->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view);
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.decorationSize = QSize(icon, icon);
    QVERIFY(view->model()->rowCount() > 0);
    for (int c = 0; c < columns; ++c) {
      const int width = view->columnWidth(c);
      const QString header = view->model()->headerData(c, Qt::Horizontal).toString();
      QVERIFY2(width >= minimums[c] && width >= view->horizontalHeader()->sectionSizeHint(c), qPrintable(header));
      for (const QString& sample : samples[c]) QVERIFY2(width >= ColumnCellWidth(*view, sample, c == 0), qPrintable(sample));
      for (int r = 0; r < view->model()->rowCount() && c <= lastFitted; ++r) {
        const QModelIndex index = view->model()->index(r, c);
        QVERIFY2(view->itemDelegateForIndex(index)->sizeHint(option, index).width() <= width,
                 qPrintable(header + QStringLiteral(": ") + index.data().toString()));
      }
    }
    QApplication::setFont(original);
  }

  void legendStaysWholeInANarrowPanel_data() {
    QTest::addColumn<int>("width");
    for (int w : {400, 180, 130, 90, 70, 50}) QTest::addRow("%d px", w) << w;
  }
  void legendStaysWholeInANarrowPanel() {
    QFETCH(int, width);
    CGraphPanel panel;
    panel.resize(width, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QRect received = panel.ReceivedLegend()->geometry();
    const QRect sent = panel.SentLegend()->geometry();
    QVERIFY(QRect(2, 0, width - 4, 300).contains(received));
    QVERIFY(QRect(2, 0, width - 4, 300).contains(sent));
    QVERIFY(!received.intersects(sent));
    for (QLabel* legend : {panel.ReceivedLegend(), panel.SentLegend()}) {
      const bool textFits = legend->fontMetrics().horizontalAdvance(legend->text()) <= legend->contentsRect().width();
      QVERIFY2(textFits || width <= 50, qPrintable(legend->text()));
    }
    QVERIFY(panel.Graph()->geometry().top() > std::max(received.bottom(), sent.bottom()));
    QVERIFY(panel.Labels()->width() >= panel.Labels()->ColumnWidth());
  }
};

QTEST_MAIN(LayoutTest)
#include "layout_qtest.moc"
