// Conversations and Host Stats column widths in other fonts: nothing cut
// short, no column narrower than designed.
#include <QApplication>
#include <QFontMetrics>
#include <QAbstractItemDelegate>
#include <QHeaderView>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTest>
#include <memory>

#include "tests/desktop/ui_test_support.h"
#include "desktop/common/column_fit.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/host_list_model.h"
#include "desktop/hosts/host_stats_job.h"
#include "desktop/hosts/host_stats_page.h"

namespace {

constexpr CTimeStamp kLate{1700006399, 999999};  // 23:59:59.999999, the widest time
const CIpAddr kWideAddress = CIpAddr(255, 255, 255, 254);

}  // namespace

class ColumnFitTest : public QObject {
  Q_OBJECT

 private:
  QFont appFont_;
  std::unique_ptr<CAppState> state_;
  std::unique_ptr<CSplitPage> page_;
  QTableView* view_ = nullptr;
  const int* minimums_ = nullptr;
  const QStringList* samples_ = nullptr;
  int columns_ = 0;
  int stretched_ = -1;  // the column that takes the rest of the width

  void Build(bool conversations, int pointSize) {
    QFont font = appFont_;
    font.setPointSize(pointSize);
    QApplication::setFont(font);
    state_ = std::make_unique<CAppState>();
    if (conversations) {
      auto page = std::make_unique<CConversationsPage>(*state_);
      view_ = page->List();
      page_ = std::move(page);
      minimums_ = CConversationListModel::kColumnWidths;
      samples_ = CConversationListModel::ColumnSamples().data();
      columns_ = CConversationRow::kColumns;
      stretched_ = columns_ - 1;
    } else {
      auto page = std::make_unique<CHostStatsPage>(*state_);
      view_ = page->HostList();
      page_ = std::move(page);
      minimums_ = CHostListModel::kColumnWidths;
      samples_ = CHostListModel::ColumnSamples().data();
      columns_ = CHostListModel::kColumns;
      stretched_ = -1;
    }
    page_->resize(1400, 500);
  }

  // The widest values in every column but Conversations bytes and packets.
  void FillWidest(bool conversations) {
    if (conversations) {
      const CTimeStamp first{kLate.sec - 99, 0};
      RecordPacket(*state_, TcpFields(kDirSent, 1, 10, first, kWideAddress, 65535, 65535));
      RecordPacket(*state_, TcpFields(kDirReceived, 1, 10, kLate, kWideAddress, 65535, 65535));
      static_cast<CConversationsPage*>(page_.get())->Refresh();
    } else {
      auto* page = static_cast<CHostStatsPage*>(page_.get());
      CPacketFields f = UdpFields(kDirSent, 0, kLate, kWideAddress);
      f.totalLength = 9999999;
      {
        std::lock_guard<std::mutex> traffic(state_->trafficLock);
        for (int i = 0; i < 99999; i += 1000) state_->Model().Record(f, {});
      }
      CHostStatsJob job(*state_, *page);
      CHostStatsTick tick;
      tick.listDue = true;
      tick.now = kLate.sec;
      page->ApplyUpdate(job.Build(tick));
    }
    QVERIFY(view_->model()->rowCount() > 0);
  }

 private slots:
  void initTestCase() { appFont_ = QApplication::font(); }
  void cleanup() {
    page_.reset();
    state_.reset();
    QApplication::setFont(appFont_);
  }

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
    Build(conversations, pointSize);
    const QFontMetrics body = view_->fontMetrics();
    const QFontMetrics head = view_->horizontalHeader()->fontMetrics();
    const int icon = view_->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view_);
    for (int c = 0; c < columns_; ++c) {
      const int width = view_->columnWidth(c);
      QVERIFY2(width >= minimums_[c], qPrintable(QStringLiteral("column %1").arg(c)));
      const QString header = view_->model()->headerData(c, Qt::Horizontal).toString();
      QVERIFY2(width >= head.horizontalAdvance(header) && width >= view_->horizontalHeader()->sectionSizeHint(c),
               qPrintable(header));
      for (const QString& sample : samples_[c]) {
        const int need = body.horizontalAdvance(sample) + (c == 0 ? icon : 0);
        QVERIFY2(width >= need, qPrintable(header + QStringLiteral(": ") + sample));
        QVERIFY2(width >= ColumnCellWidth(*view_, sample, c == 0), qPrintable(sample));
      }
    }
    // What the delegate asks for the widest real rows fits as well.
    FillWidest(conversations);
    QStyleOptionViewItem option;
    option.initFrom(view_);
    option.decorationSize = QSize(icon, icon);
    for (int r = 0; r < view_->model()->rowCount(); ++r) {
      for (int c = 0; c < columns_; ++c) {
        if (c == stretched_) continue;
        const QModelIndex index = view_->model()->index(r, c);
        QVERIFY2(view_->itemDelegateForIndex(index)->sizeHint(option, index).width() <= view_->columnWidth(c),
                 qPrintable(QStringLiteral("column %1 holds %2").arg(c).arg(index.data().toString())));
      }
    }
  }

  void textColumnTakesTheRest() {
    Build(true, 9);
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
    const int last = CConversationRow::kColumns - 1;
    const QHeaderView* header = view_->horizontalHeader();
    QCOMPARE(header->sectionViewportPosition(last) + header->sectionSize(last),
             view_->viewport()->width());
    QVERIFY(view_->columnWidth(last) >= CConversationListModel::kColumnWidths[last]);
  }
};

QTEST_MAIN(ColumnFitTest)
#include "column_fit_qtest.moc"
