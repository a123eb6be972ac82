// The divider of the split page and the text window's layout and Copy.
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "tests/desktop/ui_test_support.h"
#include "desktop/common/split_page.h"
#include "desktop/common/text_window.h"

class SplitPageTest : public QObject {
  Q_OBJECT

 private:
  struct Page {
    CSplitPage page;
    QWidget* left = new QWidget(&page);
    QWidget* right = new QWidget(&page);
    explicit Page(int w, int h = 300) {
      page.resize(w, h);
      page.SetUpSplit({left, 50, 50, 0, 30, false}, {right, 50, 50, 0, 30, false}, 80);
    }
  };

 private slots:
  void setUpWaitsForTheFirstSize() {
    CSplitPage page;
    auto* left = new QWidget(&page);
    auto* right = new QWidget(&page);
    page.SetUpSplit({left, 50, 50, 0, 30, false}, {right, 50, 50, 0, 30, true}, 80);
    page.resize(1000, 200);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QCOMPARE(page.DividerCentre(), 800);
    QCOMPARE(right->y(), 0);  // flush top: at 0, still losing the margin in height
    QCOMPARE(right->height(), 170);
  }

  void widthChangesGoToTheRightPane() {
    Page p(500);  // set up at 80 per cent
    QCOMPARE(p.page.DividerCentre(), 400);
    QCOMPARE(p.left->geometry(), QRect(0, 30, 398, 270));
    QCOMPARE(p.right->geometry(), QRect(402, 30, 98, 270));
    QCOMPARE(p.page.DividerRect(), QRect(398, 0, 4, 300));
    p.page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.page));
    p.page.resize(700, 400);
    QCOMPARE(p.page.DividerCentre(), 400);
    QCOMPARE(p.left->geometry(), QRect(0, 30, 398, 370));
    QCOMPARE(p.right->geometry(), QRect(402, 30, 298, 370));
    QCOMPARE(p.page.minimumWidth(), 100);
    QCOMPARE(p.page.minimumHeight(), 80);
    // Narrower than the divider allows: the right pane stays at its minimum.
    p.page.resize(300, 400);
    QCOMPARE(p.page.DividerCentre(), 250);
    QCOMPARE(p.right->geometry(), QRect(252, 30, 48, 370));
    QCOMPARE(p.left->width(), 248);
  }

  void dividerLimits_data() {
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("centre");
    QTest::newRow("beyond the left limit") << 10 << 50;
    QTest::newRow("beyond the right limit") << 490 << 450;
    QTest::newRow("inside") << 250 << 250;
  }
  void dividerLimits() {
    QFETCH(int, to);
    QFETCH(int, centre);
    Page p(500);
    p.page.MoveDivider(to);
    QCOMPARE(p.page.DividerCentre(), centre);
    QCOMPARE(p.left->width(), std::max(0, centre - 2));
    QCOMPARE(p.right->x(), centre + 2);
    if (to == 10) QCOMPARE(p.left->width(), 48);
    if (to == 490) QCOMPARE(p.right->width(), 48);
  }

  void draggingTheDivider() {
    Page p(500);
    p.page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.page));
    QWidget* handle = p.page.childAt(400, 100);
    QVERIFY(handle && handle != p.left && handle != p.right);
    QCOMPARE(handle->cursor().shape(), Qt::SplitHCursor);
    int moved = 0;
    connect(&p.page, &CSplitPage::DividerMoved, [&] { ++moved; });
    // A move without a press changes nothing.
    QTest::mouseMove(handle, QPoint(2, 50));
    QCOMPARE(p.page.DividerCentre(), 400);
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(2, 50));
    QMouseEvent move(QEvent::MouseMove, QPointF(-98, 50), handle->mapToGlobal(QPointF(-98, 50)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &move);
    QCOMPARE(p.page.DividerCentre(), 300);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(-48, 50));
    QCOMPARE(p.page.DividerCentre(), 250);
    QCOMPARE(moved, 2);
    QCOMPARE(p.right->geometry(), QRect(252, 30, 248, 270));
  }

  void textWindow() {
    CMessageCatcher catcher;
    CTextWindow window;
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.Text(), QStringLiteral("\nOutput will refresh every 5 seconds.  Please wait."));
    const QRect box = window.TextBox()->geometry();
    QCOMPARE(box.left(), 2);
    QCOMPARE(box.width(), 396);
    QCOMPARE(box.top(), window.CopyButton()->geometry().bottom() + 1 + 4);
    QCOMPARE(box.bottom(), 300 - 4 - 1);
    window.CopyButton()->click();
    QCOMPARE(catcher.messages, QStringList{QStringLiteral("Text in display window has been copied to clipboard")});
    QCOMPARE(QApplication::clipboard()->text(), window.Text());
    window.Clear();
    window.CopyButton()->click();
    QCOMPARE(catcher.messages.size(), 1);  // empty: no copy, no message
    // New text shows its newest lines.
    QScrollBar* bar = window.TextBox()->verticalScrollBar();
    window.SetText(QStringLiteral("a\r\nb\r\nc\r\n"));
    QCOMPARE(window.Text(), QStringLiteral("a\nb\nc\n"));
    QCOMPARE(bar->value(), 0);
    QString lines;
    for (int i = 0; i < 200; ++i) lines += QStringLiteral("line %1\r\n").arg(i);
    window.SetText(lines);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
  }
};

QTEST_MAIN(SplitPageTest)
#include "split_page_qtest.moc"
