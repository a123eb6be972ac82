// The Conversations page over a real traffic model: the list it fills, the
// text it shows and the files it exports.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QRadioButton>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "output/conversation_text.h"
#include "output/value_format.h"
#include "tests/ui/ui_test_support.h"
#include "ui/conversation_list_model.h"
#include "ui/conversations_page.h"
#include "ui/save_file_options_dialog.h"

namespace {

QString Col(const CConversationListModel* m, int row, int column) {
  return m->data(m->index(row, column)).toString();
}

// Seconds and microseconds as a capture time stamp.
CTimeStamp At(int32_t sec, int32_t usec = 0) { return CTimeStamp{sec, usec}; }

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

}  // namespace

class ConversationsPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CAppState> state_;
  std::unique_ptr<CConversationsPage> page_;

  CConversationListModel* Model() { return page_->ListModel(); }

  // A Server conversation (request received at 5.0 s and 5.1 s, answer sent
  // at 5.4 s) and a Client one mirroring it, then a sent-only UDP one.
  void RecordThree() {
    state_->hostRole = kRoleServer;
    RecordPacket(*state_, TcpFields(kDirReceived, 100, 20, At(1005, 0), MakeIpAddr(10, 0, 5, 1), 5000, 80));
    RecordPacket(*state_, TcpFields(kDirReceived, 120, 20, At(1005, 100000), MakeIpAddr(10, 0, 5, 1), 5000, 80));
    RecordPacket(*state_, TcpFields(kDirSent, 900, 30, At(1005, 400000), MakeIpAddr(10, 0, 5, 1), 5000, 80));
    state_->hostRole = kRoleClient;
    RecordPacket(*state_, TcpFields(kDirSent, 100, 20, At(1006, 0), MakeIpAddr(10, 0, 5, 2), 80, 40000));
    RecordPacket(*state_, TcpFields(kDirSent, 120, 20, At(1006, 100000), MakeIpAddr(10, 0, 5, 2), 80, 40000));
    RecordPacket(*state_, TcpFields(kDirReceived, 900, 30, At(1006, 400000), MakeIpAddr(10, 0, 5, 2), 80, 40000));
    RecordPacket(*state_, UdpFields(kDirSent, 12, At(1007, 0), MakeIpAddr(10, 0, 5, 3)));
  }

  void Select(std::initializer_list<int> rows) {
    QItemSelectionModel* sel = page_->List()->selectionModel();
    sel->clearSelection();
    for (int r : rows) {
      sel->select(Model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }

  std::string Render(int row, int headers, int data, int hex) {
    std::lock_guard<std::mutex> traffic(state_->trafficLock);
    const CConversationRow& r = Model()->Row(row);
    return RenderConversationText(*state_->Model().conversations.FindById(r.convId), r.direction,
                                  headers, data, hex, state_->quit);
  }

 private slots:
  void init() {
    state_ = std::make_unique<CAppState>();
    page_ = std::make_unique<CConversationsPage>(*state_);
    page_->resize(800, 400);
  }
  void cleanup() {
    page_.reset();
    state_.reset();
  }

  void headersAndAlignments() {
    const char* headers[] = {"Remote IP/Port", "Port", "ID", "Prot", "Bytes", "Pkts",
                             "Rsp. Tm", "Start", "End", "Text"};
    const int widths[] = {110, 50, 30, 50, 50, 50, 50, 60, 60, 140};
    QCOMPARE(Model()->columnCount(), 10);
    for (int c = 0; c < 10; ++c) {
      QCOMPARE(Model()->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(headers[c]));
      const auto align = Model()->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
      QCOMPARE(bool(align & Qt::AlignRight), c >= 2 && c <= 5);
      // Wider where the font needs it (see column_fit_qtest).
      QVERIFY(page_->List()->columnWidth(c) >= widths[c]);
    }
  }

  void refreshListsRowsInTableOrder() {
    QAbstractItemModelTester tester(Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    RecordThree();
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 5);

    // Server conversation: the received row carries the response time and
    // the opening times, the sent row below it the reply times.
    QCOMPARE(Model()->Row(0).direction, kDirReceived);
    QCOMPARE(Col(Model(), 0, 0), QStringLiteral("10.0.5.1:5000"));
    QCOMPARE(Col(Model(), 0, 1), QStringLiteral("80"));
    QCOMPARE(Col(Model(), 0, 2), QStringLiteral("1"));
    QCOMPARE(Col(Model(), 0, 3), QStringLiteral("TCP"));
    QCOMPARE(Col(Model(), 0, 4), QStringLiteral("120"));
    QCOMPARE(Col(Model(), 0, 5), QStringLiteral("2"));
    QCOMPARE(Col(Model(), 0, 6), QString::fromStdString(FormatElapsed(At(1005, 400000), At(1005, 0))));
    QCOMPARE(Col(Model(), 0, 7), QStringLiteral("00:16:45.000000"));
    QCOMPARE(Col(Model(), 0, 8), QStringLiteral("00:16:45.100000"));
    QCOMPARE(Col(Model(), 0, 9), QString(20, QLatin1Char('x')));
    QCOMPARE(Model()->Row(1).direction, kDirSent);
    QVERIFY(Col(Model(), 1, 6).isEmpty());
    QCOMPARE(Col(Model(), 1, 7), QStringLiteral("00:16:45.400000"));
    QCOMPARE(Col(Model(), 1, 8), QStringLiteral("00:16:45.400000"));

    // Client conversation: the sent row is the opening one.
    QCOMPARE(Model()->Row(2).direction, kDirSent);
    QCOMPARE(Col(Model(), 2, 2), QStringLiteral("2"));
    QVERIFY(!Col(Model(), 2, 6).isEmpty());
    QCOMPARE(Col(Model(), 2, 7), QStringLiteral("00:16:46.000000"));
    QCOMPARE(Col(Model(), 2, 8), QStringLiteral("00:16:46.100000"));
    QCOMPARE(Model()->Row(3).direction, kDirReceived);
    QVERIFY(Col(Model(), 3, 6).isEmpty());
    QCOMPARE(Col(Model(), 3, 7), QStringLiteral("00:16:46.400000"));

    // One direction only: one row.
    QCOMPARE(Model()->Row(4).convId, 3);
    QCOMPARE(Col(Model(), 4, 3), QStringLiteral("UDP"));

    // Icons: sent and received rows carry different images in column 0.
    QVERIFY(!Model()->data(Model()->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(Model()->data(Model()->index(0, 1), Qt::DecorationRole).isNull());
  }

  void showRendersTheSelection_data() {
    QTest::addColumn<int>("headers");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("hex");
    QTest::newRow("headers and data") << 1 << 1 << 0;
    QTest::newRow("headers only") << 1 << 0 << 0;
    QTest::newRow("data only") << 0 << 1 << 0;
    QTest::newRow("headers and hex") << 1 << 1 << 1;
    QTest::newRow("hex only") << 0 << 1 << 1;
  }
  void showRendersTheSelection() {
    QFETCH(int, headers);
    QFETCH(int, data);
    QFETCH(int, hex);
    RecordThree();
    page_->Refresh();
    // The check boxes drive the switches; both Headers and Data cannot be off.
    if (!headers) page_->HeadersBox()->click();
    if (!data) page_->DataBox()->click();
    if (hex) page_->HexBox()->click();
    Select({4, 0, 1});
    page_->Show();
    const std::string expected = Render(0, headers, data, hex) + Render(1, headers, data, hex) +
                                 Render(4, headers, data, hex);
    QCOMPARE(page_->SelectionText(), expected);
    QString shown = QString::fromLatin1(expected.data(), qsizetype(expected.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QCOMPARE(page_->TextPane()->toPlainText(), shown);
  }

  void headersAndDataCannotBothBeOff() {
    RecordThree();
    page_->Refresh();
    Select({0});
    page_->HeadersBox()->click();  // off: Data stays on
    QVERIFY(!page_->HeadersBox()->isChecked());
    QVERIFY(page_->DataBox()->isChecked());
    page_->DataBox()->click();  // off: Headers comes back on
    QVERIFY(page_->HeadersBox()->isChecked());
    QVERIFY(!page_->DataBox()->isChecked());
    // And the selection was shown again at once, headers only.
    QCOMPARE(page_->TextPane()->toPlainText().count(QStringLiteral("=====")) > 0, true);
    QVERIFY(!page_->TextPane()->toPlainText().contains(QString(20, QLatin1Char('x'))));
  }

  void showWithNothingSelectedEmptiesThePane() {
    RecordThree();
    page_->Refresh();
    page_->TextPane()->setPlainText(QStringLiteral("typed"));
    page_->Show();
    QVERIFY(page_->TextPane()->toPlainText().isEmpty());
  }

  void packetTextScrollsRatherThanWraps() {
    RecordThree();
    page_->Refresh();
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
    Select({0});
    page_->Show();
    QPlainTextEdit* pane = page_->TextPane();
    QCoreApplication::processEvents();
    // The rule lines of the header block are wider than the pane, yet every
    // line of the text stays one line on the screen.
    int widest = 0;
    for (const QString& line : pane->toPlainText().split(QLatin1Char('\n'))) {
      widest = std::max(widest, pane->fontMetrics().horizontalAdvance(line));
    }
    QVERIFY(widest > pane->viewport()->width());
    QCOMPARE(pane->document()->lineCount(), pane->document()->blockCount());
    QVERIFY(pane->horizontalScrollBar()->maximum() > 0);
  }

  void doubleClickShows() {
    RecordThree();
    page_->Refresh();
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
    QTableView* list = page_->List();
    const QRect cell = list->visualRect(Model()->index(4, 2));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(page_->TextPane()->toPlainText().isEmpty());  // a single click shows nothing
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(page_->TextPane()->toPlainText().contains(QStringLiteral("10.0.5.3:53")));
  }

  void showStopsAtTwoMillionCharacters() {
    // Three sent-only conversations of about 900,000 characters each.
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < 300; ++i) {
        RecordPacket(*state_, TcpFields(kDirSent, 1000 + 3000 * i, 2800, At(2000 + c, i),
                                        MakeIpAddr(10, 0, 6, uint8_t(c + 1)), 80, 40000));
      }
    }
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 3);
    const std::string first = Render(0, 1, 1, 0);
    const std::string second = Render(1, 1, 1, 0);
    QVERIFY(first.size() + second.size() <= CConversationsPage::kShowLimit);
    QVERIFY(first.size() * 3 > CConversationsPage::kShowLimit);
    Select({0, 1, 2});
    QCOMPARE(page_->SelectionText(), first + second + CConversationsPage::kTooMuchText);
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
    QElapsedTimer timer;
    timer.start();
    page_->Show();
    page_->TextPane()->repaint();
    qInfo("Show of %zu characters: %lld ms", first.size() + second.size(), timer.elapsed());
    QVERIFY(page_->TextPane()->toPlainText().endsWith(QStringLiteral("\n\nOnly 2M of data shown per selection")));
  }

  void clearEmptiesListPaneAndTable() {
    RecordThree();
    page_->Refresh();
    Select({0});
    page_->Show();
    QVERIFY(!page_->TextPane()->toPlainText().isEmpty());
    page_->Clear();
    QCOMPARE(Model()->rowCount(), 0);
    QVERIFY(page_->TextPane()->toPlainText().isEmpty());
    {
      std::lock_guard<std::mutex> traffic(state_->trafficLock);
      QCOMPARE(state_->Model().conversations.Size(), std::size_t(0));
    }
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 0);
  }

  // A row outlives its conversation when the capture thread trims the
  // table; it then gives no text and is left out of an export.
  void trimmedConversationGivesNothing() {
    QTemporaryDir dir;
    CMessageCatcher catcher;
    RecordPacket(*state_, UdpFields(kDirSent, 12, At(1000), MakeIpAddr(10, 0, 9, 9)));
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 1);
    for (int i = 0; i < 2000; ++i) {
      RecordPacket(*state_, TcpFields(kDirSent, 1, 4, At(1001), MakeIpAddr(10, 1, uint8_t(i / 250), uint8_t(i % 250)), 80, 40000));
    }
    {
      std::lock_guard<std::mutex> traffic(state_->trafficLock);
      QVERIFY(state_->Model().conversations.FindById(Model()->Row(0).convId) == nullptr);
    }
    Select({0});
    page_->Show();
    QVERIFY(page_->TextPane()->toPlainText().isEmpty());
    CSaveFileOptions options;
    options.fileName = dir.filePath(QStringLiteral("gone.csv"));
    page_->ExportWith(options);
    QCOMPARE(catcher.messages, QStringList{QStringLiteral(
                                   "No items selected.\nSelect Items, or choose All Data for File Save Options.")});
  }

  void fourThousandRowsFillQuickly() {
    for (int i = 0; i < 2000; ++i) {
      const CIpAddr remote = MakeIpAddr(10, 2, uint8_t(i / 250), uint8_t(i % 250));
      RecordPacket(*state_, TcpFields(kDirSent, 1, 40, At(3000, i), remote, 80, 40000));
      RecordPacket(*state_, TcpFields(kDirReceived, 1, 40, At(3000, i + 1), remote, 80, 40000));
    }
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
    QElapsedTimer timer;
    timer.start();
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 4000);
    page_->List()->scrollToBottom();
    QCoreApplication::processEvents();
    page_->List()->verticalScrollBar()->setValue(page_->List()->verticalScrollBar()->maximum() / 2);
    page_->List()->viewport()->repaint();
    const qint64 ms = timer.elapsed();
    qInfo("Refresh of 4000 rows, scrolled and painted: %lld ms", ms);
    QVERIFY2(ms < 3000, "filling 4000 rows took too long");
  }

  void exportWritesTheChosenRows_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("selectedOnly");
    QTest::newRow("csv, all") << 0 << false;
    QTest::newRow("csv, received row only") << 0 << true;
    QTest::newRow("text, both rows") << 1 << true;
    QTest::newRow("hex, both rows") << 2 << true;
  }
  void exportWritesTheChosenRows() {
    QFETCH(int, format);
    QFETCH(bool, selectedOnly);
    QTemporaryDir dir;
    CMessageCatcher catcher;
    RecordThree();
    page_->Refresh();
    const QString name = dir.filePath(QStringLiteral("out.txt"));
    {
      QFile old(name);  // an existing file is overwritten without a question
      QVERIFY(old.open(QIODevice::WriteOnly));
      old.write(QByteArray(100000, 'z'));
    }
    CSaveFileOptions options;
    options.fileName = name;
    options.csv = format == 0;
    options.text = format == 1;
    options.hex = format == 2;
    options.selectedOnly = selectedOnly;
    options.allData = !selectedOnly;
    if (format == 0) {
      Select({1});
    } else {
      Select({2, 3});
    }
    page_->ExportWith(options);
    QCOMPARE(catcher.messages, QStringList{name + QStringLiteral(" saved.")});
    const QByteArray written = ReadFile(name);
    QVERIFY(!written.contains("zzz"));
    if (format == 0) {
      const QList<QByteArray> lines = written.split('\n');
      QVERIFY(lines[0].startsWith("\"Date\",\"Time\",\"ConvId\""));
      // A header and one row per conversation; the list holds 3 (5 rows).
      QCOMPARE(written.count('\n'), selectedOnly ? 2 : 4);
      if (selectedOnly) QVERIFY(lines[1].contains(",\"1\","));
    } else {
      const std::string expected = Render(2, 1, 1, format == 2) + Render(3, 1, 1, format == 2);
      QCOMPARE(written, QByteArray::fromStdString(expected));
    }
  }

  void exportSelectedOnlyWithoutSelection() {
    QTemporaryDir dir;
    CMessageCatcher catcher;
    RecordThree();
    page_->Refresh();
    CSaveFileOptions options;
    options.fileName = dir.filePath(QStringLiteral("none.csv"));
    options.selectedOnly = 1;
    options.allData = 0;
    page_->ExportWith(options);
    QCOMPARE(catcher.messages,
             QStringList{QStringLiteral("No items selected.\nSelect Items, or choose All Data for File Save Options.")});
    QVERIFY(QFile::exists(options.fileName));
    QCOMPARE(QFileInfo(options.fileName).size(), 0);
  }

  void exportRefusesASymbolicLink() {
    QTemporaryDir dir;
    CMessageCatcher catcher;
    RecordThree();
    page_->Refresh();
    const QString target = dir.filePath(QStringLiteral("target.txt"));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    {
      QFile t(target);
      QVERIFY(t.open(QIODevice::WriteOnly));
      t.write("keep");
    }
    QVERIFY(QFile::link(target, link));
    CSaveFileOptions options;
    options.fileName = link;
    page_->ExportWith(options);
    QCOMPARE(catcher.messages, QStringList{QStringLiteral("Error opening file: ") + link});
    QCOMPARE(ReadFile(target), QByteArray("keep"));
  }

  void optionsDialog() {
    CMessageCatcher catcher;
    CSaveFileOptionsDlg dialog;
    dialog.accept();  // no name: stays open
    QCOMPARE(catcher.messages, QStringList{QStringLiteral("Please enter a valid file name")});
    QVERIFY(!dialog.Confirmed());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    dialog.FileNameBox()->setText(QStringLiteral("/tmp/x.txt"));
    dialog.SelectedOnlyButton()->setChecked(true);
    dialog.HexButton()->setChecked(true);
    dialog.accept();
    QVERIFY(dialog.Confirmed());
    QCOMPARE(dialog.Options().fileName, QStringLiteral("/tmp/x.txt"));
    QCOMPARE(dialog.Options().selectedOnly, 1);
    QCOMPARE(dialog.Options().allData, 0);
    QCOMPARE(dialog.Options().Format(), 2);
  }

  void optionsDialogDefaultsToAllDataInCsv() {
    CSaveFileOptionsDlg dialog;
    dialog.FileNameBox()->setText(QStringLiteral("a.csv"));
    dialog.accept();
    QCOMPARE(dialog.Options().selectedOnly, 0);
    QCOMPARE(dialog.Options().allData, 1);
    QCOMPARE(dialog.Options().Format(), 0);
  }
};

QTEST_MAIN(ConversationsPageTest)
#include "conversations_page_qtest.moc"
