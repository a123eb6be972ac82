// The traffic graph drawn into images from graph data set by hand.
#include <QImage>
#include <QLabel>
#include <QTabWidget>
#include <QPainter>
#include <QTest>
#include <memory>
#include <mutex>

#include "engine/app_state.h"
#include "tests/desktop/desktop_test_support.h"
#include "desktop/hosts/host_stats_page.h"
#include "desktop/window/main_dlg.h"
#include "model/traffic_model.h"
#include "desktop/hosts/graph_ctrl.h"
#include "desktop/hosts/graph_panel.h"
#include "desktop/hosts/graph_text_ctrl.h"

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

  // 200 x 100 pixels: the newest interval's received needle at x 196, its
  // sent needle 8 to the left, older intervals 20 further left each.
  void needleAtTheMaximumFillsTheHeight() {
    SetGraph({50}, {100}, 100);
    const QImage image = Draw(200, 100);
    QCOMPARE(image.pixel(196, 99), kWhite);
    // The received needle reaches the top edge (drawn over the grid rows).
    QCOMPARE(RunFromBottom(image, 196, 98, kRed), 99);
    // Half the maximum: half the height, a white pixel on top.
    QCOMPARE(image.pixel(188, 99), kWhite);
    QCOMPARE(RunFromBottom(image, 188, 98, kYellow), 49);
    QCOMPARE(image.pixel(188, 49), kWhite);
  }

  void olderIntervalsStepLeftAndZeroShowsOnlyTheBase() {
    SetGraph({0, 0, 400}, {0, 0, 1000}, 1000);
    const QImage image = Draw(200, 100);
    for (int x : {176, 168, 156, 148}) {
      QCOMPARE(image.pixel(x, 99), kWhite);
      QCOMPARE(image.pixel(x, 98), kBlack);
    }
    QCOMPARE(image.pixel(136, 99), kBlack);  // no fourth interval
    SetGraph({5}, {5}, 1);  // no scale: no needles
    QCOMPARE(Draw(200, 100).pixel(196, 99), kBlack);
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
    const std::vector<std::string> five = {"20 B.", "40 B.", "60 B.", "80 B.", "100 B."};
    CGraphTextCtrl labels(*state_);
    const int line = labels.LineHeight();
    auto paint = [&](int h, std::vector<std::string> scale, uint64_t maximum = 100) {
      SetGraph({}, {}, maximum, std::move(scale));
      QImage image(70, h, QImage::Format_RGB32);
      image.fill(Qt::magenta);
      QPainter p(&image);
      labels.Draw(p, image.size());
      return image;
    };
    // Tall enough: all five labels, one per slot of height / 5.
    QVERIFY(paint(line * 5 + 50, five) != paint(line * 5 + 50, {"100 B."}));
    // Too short for all five: only the largest, at the top.
    QCOMPARE(paint(line * 5, five), paint(line * 5, {"100 B."}));
    // No labels: nothing painted at all.
    QCOMPARE(paint(40, {}, 0).pixel(10, 10), QColor(Qt::magenta).rgb());
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
    QVERIFY(inside.contains(received));
    QVERIFY(inside.contains(sent));
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
    const QRect labels = panel.Labels()->geometry();
    QCOMPARE(labels.right() + 1, graph.left());
    if (width != 400) return;
    QCOMPARE(graph.right(), 400 - 2 - 1);
    QCOMPARE(graph.top(), labels.top());
    QCOMPARE(graph.top(), received.bottom() + 1 + 4);
    QCOMPARE(graph.bottom(), 300 - 4 - 1);
    QCOMPARE(labels.left(), 2);
    QCOMPARE(labels.width(), panel.ReceivedLegend()->contentsRect().width());
    // Wide enough: the boxes stand side by side at their usual place.
    QCOMPARE(received.x(), 80);
    QCOMPARE(sent.y(), received.y());
    QCOMPARE(sent.x(), received.right() + 1 + 9);
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
