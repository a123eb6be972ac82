// The traffic graph drawn into images from graph data set by hand.
#include <QImage>
#include <QLabel>
#include <QTabWidget>
#include <QPainter>
#include <QTest>
#include <memory>
#include <mutex>

#include "app/core/app_state.h"
#include "tests/ui/desktop_test_support.h"
#include "ui/host_stats_page.h"
#include "ui/main_dlg.h"
#include "model/traffic_model.h"
#include "ui/graph_ctrl.h"
#include "ui/graph_panel.h"
#include "ui/graph_text_ctrl.h"

namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kGreen = qRgb(0, 150, 0);

// Rows of column x, bottom first, until the first pixel not in `colour`.
int RunFromBottom(const QImage& image, int x, int fromY, QRgb colour) {
  int n = 0;
  for (int y = fromY; y >= 0 && image.pixel(x, y) == colour; --y) ++n;
  return n;
}

}  // namespace

class GraphTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CAppState> state_;

  void SetGraph(std::vector<uint64_t> sent, std::vector<uint64_t> received, uint64_t maximum,
                std::vector<std::string> labels = {}) {
    std::lock_guard<std::mutex> graph(state_->graphLock);
    CTrafficModel& m = state_->Model();
    m.graphSent = std::move(sent);
    m.graphReceived = std::move(received);
    m.graphMaximum = maximum;
    m.scaleLabels = std::move(labels);
  }

  QImage Draw(int w, int h, bool needles = true) {
    CGraphCtrl ctrl(*state_);
    QImage image(w, h, QImage::Format_RGB32);
    ctrl.Draw(image, needles);
    return image;
  }

 private slots:
  void init() { state_ = std::make_unique<CAppState>(); }
  void cleanup() { state_.reset(); }

  void gridOnBlack() {
    const QImage image = Draw(200, 100, false);
    for (int k = 1; k <= 9; ++k) QCOMPARE(image.pixel(5, k * 10), kGreen);
    QCOMPARE(image.pixel(180, 5), kGreen);  // every 20 pixels from the right
    QCOMPARE(image.pixel(20, 5), kGreen);
    QCOMPARE(image.pixel(5, 5), kBlack);
  }

  void needleAtTheMaximumFillsTheHeight() {
    SetGraph({50}, {100}, 100);
    const int w = 200, h = 100;
    const QImage image = Draw(w, h);
    const int x = w - 4;
    QCOMPARE(image.pixel(x, h - 1), kWhite);
    // The received needle reaches the top edge (grid rows are drawn over by it).
    QCOMPARE(RunFromBottom(image, x, h - 2, kRed), h - 1);
    // Half the maximum: half the height, a white pixel on top.
    const int sx = x - 8;
    QCOMPARE(image.pixel(sx, h - 1), kWhite);
    QCOMPARE(RunFromBottom(image, sx, h - 2, kYellow), 49);
    QCOMPARE(image.pixel(sx, h - 1 - 50), kWhite);
  }

  void olderIntervalsStepLeftAndZeroShowsOnlyTheBase() {
    SetGraph({0, 0, 400}, {0, 0, 1000}, 1000);
    const int w = 200, h = 100;
    const QImage image = Draw(w, h);
    for (int i = 1; i <= 2; ++i) {
      const int x = w - 4 - 20 * i;
      QCOMPARE(image.pixel(x, h - 1), kWhite);
      QCOMPARE(image.pixel(x, h - 2), kBlack);
      QCOMPARE(image.pixel(x - 8, h - 1), kWhite);
      QCOMPARE(image.pixel(x - 8, h - 2), kBlack);
    }
    QCOMPARE(image.pixel(w - 4 - 60, h - 1), kBlack);  // no fourth interval
  }

  void noNeedlesWithoutAScale() {
    SetGraph({5}, {5}, 1);
    const QImage image = Draw(200, 100);
    QCOMPARE(image.pixel(196, 99), kBlack);
  }

  void firstPaintShowsNoNeedles() {
    SetGraph({100}, {100}, 100);
    CGraphCtrl ctrl(*state_);
    ctrl.resize(200, 100);
    QVERIFY(!ctrl.Painted());
    const QImage first = ctrl.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QVERIFY(ctrl.Painted());
    QCOMPARE(first.pixel(196, 45), kBlack);
    const QImage second = ctrl.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(second.pixel(196, 45), kRed);
  }

  void labelsFallOnEverySecondGridLine() {
    SetGraph({}, {}, 100, {"20 B.", "40 B.", "60 B.", "80 B.", "100 B."});
    CGraphTextCtrl labels(*state_);
    const int line = labels.LineHeight();
    auto paint = [&](int h) {
      QImage image(70, h, QImage::Format_RGB32);
      image.fill(Qt::magenta);
      QPainter p(&image);
      labels.Draw(p, image.size());
      return image;
    };
    // Tall enough: five labels, one per slot of height / 5.
    const QImage tall = paint(line * 5 + 50);
    const QImage onlyLargest = [&] {
      SetGraph({}, {}, 100, {"100 B."});
      QImage image = paint(line * 5 + 50);
      SetGraph({}, {}, 100, {"20 B.", "40 B.", "60 B.", "80 B.", "100 B."});
      return image;
    }();
    QVERIFY(tall != onlyLargest);
    // Too short for all five: only the largest, at the top.
    const QImage shortTall = paint(line * 5);
    SetGraph({}, {}, 100, {"100 B."});
    const QImage shortOne = paint(line * 5);
    QCOMPARE(shortTall, shortOne);
    // No labels: nothing painted at all.
    SetGraph({}, {}, 0, {});
    const QImage none = paint(40);
    QCOMPARE(none.pixel(10, 10), QColor(Qt::magenta).rgb());
  }

  void panelLayout() {
    CGraphPanel panel(*state_);
    panel.resize(400, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QRect graph = panel.Graph()->geometry();
    const QRect labels = panel.Labels()->geometry();
    QCOMPARE(graph.right(), 400 - 2 - 1);
    QCOMPARE(graph.top(), labels.top());
    QCOMPARE(graph.top(), panel.ReceivedLegend()->geometry().bottom() + 1 + 4);
    QCOMPARE(graph.bottom(), 300 - 4 - 1);
    QCOMPARE(labels.left(), 2);
    QCOMPARE(labels.right() + 1, graph.left());
    QCOMPARE(labels.width(), panel.ReceivedLegend()->contentsRect().width());
    // Wide enough: the boxes stand side by side at their usual place.
    QCOMPARE(panel.ReceivedLegend()->x(), 80);
    QCOMPARE(panel.SentLegend()->y(), panel.ReceivedLegend()->y());
    QCOMPARE(panel.SentLegend()->x(), panel.ReceivedLegend()->geometry().right() + 1 + 9);
  }

  // However narrow the panel, both legend boxes stay whole inside it, apart
  // from each other and above the graph; the scale labels keep their room.
  void legendFitsThePanel_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("textWhole");
    for (int w : {400, 240, 180, 150, 130, 110, 90, 70}) QTest::addRow("%d px", w) << w << true;
    QTest::addRow("50 px") << 50 << false;
  }
  void legendFitsThePanel() {
    QFETCH(int, width);
    QFETCH(bool, textWhole);
    CGraphPanel panel(*state_);
    panel.resize(width, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QRect inside(2, 0, width - 4, 300);
    const QRect received = panel.ReceivedLegend()->geometry();
    const QRect sent = panel.SentLegend()->geometry();
    QVERIFY2(inside.contains(received), qPrintable(QStringLiteral("received at %1..%2").arg(received.left()).arg(received.right())));
    QVERIFY2(inside.contains(sent), qPrintable(QStringLiteral("sent at %1..%2").arg(sent.left()).arg(sent.right())));
    QVERIFY(!received.intersects(sent));
    QVERIFY(panel.SentLegend()->isVisible() && panel.ReceivedLegend()->isVisible());
    if (textWhole) {
      for (QLabel* legend : {panel.ReceivedLegend(), panel.SentLegend()}) {
        QVERIFY2(legend->fontMetrics().horizontalAdvance(legend->text()) <= legend->contentsRect().width(),
                 qPrintable(legend->text()));
      }
    }
    const QRect graph = panel.Graph()->geometry();
    QVERIFY(graph.top() > std::max(received.bottom(), sent.bottom()));
    QVERIFY(panel.Labels()->width() >= panel.Labels()->ColumnWidth());
    QCOMPARE(panel.Labels()->geometry().right() + 1, graph.left());
  }

  // The main window as it first opens: the whole graph panel is in view,
  // with both legend boxes whole and a graph beside the labels.
  void wholeGraphAtTheDefaultWindowSize() {
    CDesktopFixture f;
    CMainDlg window(*f.state, *f.settings, *f.capture, QStringLiteral("0.1.0"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.Tabs()->setCurrentIndex(CMainDlg::kHostStatsTab);
    QCoreApplication::processEvents();
    auto* page = qobject_cast<CHostStatsPage*>(window.Tabs()->widget(CMainDlg::kHostStatsTab));
    QVERIFY(page);
    CGraphPanel* panel = page->GraphPanel();
    QVERIFY(panel->isVisible());
    const QRect panelInWindow(panel->mapTo(&window, QPoint(0, 0)), panel->size());
    QVERIFY(window.rect().contains(panelInWindow));
    const QRect shown = panel->visibleRegion().boundingRect();
    for (QLabel* legend : {panel->ReceivedLegend(), panel->SentLegend()}) {
      QVERIFY2(shown.contains(legend->geometry()), qPrintable(legend->text()));
      QVERIFY2(legend->fontMetrics().horizontalAdvance(legend->text()) <= legend->contentsRect().width(),
               qPrintable(legend->text()));
    }
    const QRect graph = panel->Graph()->geometry();
    QVERIFY(shown.contains(graph));
    // Room for a few intervals at least.
    QVERIFY2(graph.width() >= 3 * CGraphCtrl::kStep, qPrintable(QString::number(graph.width())));
    QVERIFY(graph.height() > 100);
    window.close();
  }
};

QTEST_MAIN(GraphTest)
#include "graph_qtest.moc"
