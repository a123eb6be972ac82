// The Conversations page over a real traffic model: list, text and exports.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
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
#include "tests/desktop/ui_test_support.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/conversations/save_file_options_dialog.h"

namespace {

CTimeStamp At(int32_t sec, int32_t usec = 0) { return CTimeStamp{sec, usec}; }

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

const QString kNoneSelected =
    QStringLiteral("No items selected.\nSelect Items, or choose All Data for File Save Options.");

}  // namespace

class ConversationsPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CAppState> state_;
  std::unique_ptr<CConversationsPage> page_;

  CConversationListModel* Model() { return page_->ListModel(); }
  QString Col(int row, int column) { return Model()->data(Model()->index(row, column)).toString(); }
  QString Pane() { return page_->TextPane()->toPlainText(); }

  // Server conversation (received at 5.0 s and 5.1 s, answer sent at 5.4 s),
  // a Client one mirroring it, then a sent-only UDP one; refreshed.
  void RecordThree() {
    state_->hostRole = kRoleServer;
    const CIpAddr server = CIpAddr(10, 0, 5, 1), client = CIpAddr(10, 0, 5, 2);
    RecordPacket(*state_, TcpFields(kDirReceived, 100, 20, At(1005, 0), server, 5000, 80));
    RecordPacket(*state_, TcpFields(kDirReceived, 120, 20, At(1005, 100000), server, 5000, 80));
    RecordPacket(*state_, TcpFields(kDirSent, 900, 30, At(1005, 400000), server, 5000, 80));
    state_->hostRole = kRoleClient;
    RecordPacket(*state_, TcpFields(kDirSent, 100, 20, At(1006, 0), client, 80, 40000));
    RecordPacket(*state_, TcpFields(kDirSent, 120, 20, At(1006, 100000), client, 80, 40000));
    RecordPacket(*state_, TcpFields(kDirReceived, 900, 30, At(1006, 400000), client, 80, 40000));
    RecordPacket(*state_, UdpFields(kDirSent, 12, At(1007, 0), CIpAddr(10, 0, 5, 3)));
    page_->Refresh();
  }

  void Select(std::initializer_list<int> rows) {
    QItemSelectionModel* sel = page_->List()->selectionModel();
    sel->clearSelection();
    for (int r : rows) sel->select(Model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  void ShowOnScreen() {
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
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

  void refreshListsRowsInTableOrder() {
    QAbstractItemModelTester tester(Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    RecordThree();
    QCOMPARE(Model()->rowCount(), 5);
    // Server: the received row carries the response time and opening times.
    QCOMPARE(Model()->Row(0).direction, kDirReceived);
    const QStringList row0 = {"10.0.5.1:5000", "80", "1", "TCP", "120", "2",
                              QString::fromStdString(FormatElapsed(At(1005, 400000), At(1005, 0))),
                              "00:16:45.000000", "00:16:45.100000", QString(20, QLatin1Char('x'))};
    for (int c = 0; c < 10; ++c) QCOMPARE(Col(0, c), row0[c]);
    // Its sent row gives the reply times; on the Client side the sent row opens.
    const struct { int row, direction; bool responseTime; const char *start, *end; } rows[] = {
        {1, kDirSent, false, "00:16:45.400000", "00:16:45.400000"},
        {2, kDirSent, true, "00:16:46.000000", "00:16:46.100000"},
        {3, kDirReceived, false, "00:16:46.400000", nullptr}};
    for (const auto& r : rows) {
      QCOMPARE(int(Model()->Row(r.row).direction), r.direction);
      QCOMPARE(Col(r.row, 6).isEmpty(), !r.responseTime);
      QCOMPARE(Col(r.row, 7), QLatin1String(r.start));
      if (r.end) QCOMPARE(Col(r.row, 8), QLatin1String(r.end));
    }
    QCOMPARE(Col(2, 2), QStringLiteral("2"));
    QCOMPARE(Model()->Row(4).convId, 3);  // one direction only: one row
    QCOMPARE(Col(4, 3), QStringLiteral("UDP"));
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
    if (!headers) page_->HeadersBox()->click();
    if (!data) page_->DataBox()->click();
    if (hex) page_->HexBox()->click();
    Select({4, 0, 1});
    page_->Show();
    const std::string expected = Render(0, headers, data, hex) + Render(1, headers, data, hex) +
                                 Render(4, headers, data, hex);
    QCOMPARE(page_->SelectionText(), expected);
    QCOMPARE(Pane(), QString::fromLatin1(expected.data(), qsizetype(expected.size()))
                         .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  }

  void headersAndDataCannotBothBeOff() {
    RecordThree();
    Select({0});
    page_->HeadersBox()->click();
    QVERIFY(!page_->HeadersBox()->isChecked());
    QVERIFY(page_->DataBox()->isChecked());
    page_->DataBox()->click();  // Headers comes back on
    QVERIFY(page_->HeadersBox()->isChecked());
    QVERIFY(!page_->DataBox()->isChecked());
    // Shown again at once, headers only.
    QVERIFY(Pane().contains(QStringLiteral("=====")));
    QVERIFY(!Pane().contains(QString(20, QLatin1Char('x'))));
    // Nothing selected: the pane is emptied.
    Select({});
    page_->Show();
    QVERIFY(Pane().isEmpty());
  }

  void packetTextScrollsRatherThanWraps() {
    RecordThree();
    ShowOnScreen();
    Select({0});
    page_->Show();
    QPlainTextEdit* pane = page_->TextPane();
    QCoreApplication::processEvents();
    int widest = 0;
    for (const QString& line : Pane().split(QLatin1Char('\n')))
      widest = std::max(widest, pane->fontMetrics().horizontalAdvance(line));
    QVERIFY(widest > pane->viewport()->width());
    QCOMPARE(pane->document()->lineCount(), pane->document()->blockCount());
    QVERIFY(pane->horizontalScrollBar()->maximum() > 0);
  }

  void showStopsAtTwoMillionCharacters() {
    // Three sent-only conversations of about 900,000 characters each.
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 300; ++i)
        RecordPacket(*state_, TcpFields(kDirSent, 1000 + 3000 * i, 2800, At(2000 + c, i),
                                        CIpAddr(10, 0, 6, uint8_t(c + 1)), 80, 40000));
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 3);
    const std::string first = Render(0, 1, 1, 0), second = Render(1, 1, 1, 0);
    QVERIFY(first.size() + second.size() <= CConversationsPage::kShowLimit);
    QVERIFY(first.size() * 3 > CConversationsPage::kShowLimit);
    Select({0, 1, 2});
    QCOMPARE(page_->SelectionText(), first + second + CConversationsPage::kTooMuchText);
    ShowOnScreen();
    page_->Show();
    page_->TextPane()->repaint();
    QVERIFY(Pane().endsWith(QStringLiteral("\n\nOnly 2M of data shown per selection")));
  }

  void clearEmptiesListPaneAndTable() {
    RecordThree();
    Select({0});
    page_->Show();
    QVERIFY(!Pane().isEmpty());
    page_->Clear();
    QCOMPARE(Model()->rowCount(), 0);
    QVERIFY(Pane().isEmpty());
    {
      std::lock_guard<std::mutex> traffic(state_->trafficLock);
      QCOMPARE(state_->Model().conversations.Size(), std::size_t(0));
    }
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 0);
  }

  // A row outlives its conversation when the capture thread trims the table:
  // no text, and left out of an export.
  void trimmedConversationGivesNothing() {
    QTemporaryDir dir;
    CMessageCatcher catcher;
    RecordPacket(*state_, UdpFields(kDirSent, 12, At(1000), CIpAddr(10, 0, 9, 9)));
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 1);
    for (int i = 0; i < 2000; ++i)
      RecordPacket(*state_, TcpFields(kDirSent, 1, 4, At(1001), CIpAddr(10, 1, uint8_t(i / 250), uint8_t(i % 250)), 80, 40000));
    {
      std::lock_guard<std::mutex> traffic(state_->trafficLock);
      QVERIFY(state_->Model().conversations.FindById(Model()->Row(0).convId) == nullptr);
    }
    Select({0});
    page_->Show();
    QVERIFY(Pane().isEmpty());
    page_->ExportWith(CSaveFileOptions{.fileName = dir.filePath(QStringLiteral("gone.csv"))});
    QCOMPARE(catcher.messages, QStringList{kNoneSelected});
  }

  void fourThousandRowsFillQuickly() {
    for (int i = 0; i < 2000; ++i) {
      const CIpAddr remote = CIpAddr(10, 2, uint8_t(i / 250), uint8_t(i % 250));
      RecordPacket(*state_, TcpFields(kDirSent, 1, 40, At(3000, i), remote, 80, 40000));
      RecordPacket(*state_, TcpFields(kDirReceived, 1, 40, At(3000, i + 1), remote, 80, 40000));
    }
    ShowOnScreen();
    QElapsedTimer timer;
    timer.start();
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 4000);
    QScrollBar* bar = page_->List()->verticalScrollBar();
    page_->List()->scrollToBottom();
    QCoreApplication::processEvents();
    bar->setValue(bar->maximum() / 2);
    page_->List()->viewport()->repaint();
    QVERIFY2(timer.elapsed() < 3000, "filling 4000 rows took too long");
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
    const QString name = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(name, QByteArray(100000, 'z'));  // overwritten without a question
    CSaveFileOptions options;
    options.fileName = name;
    options.csv = format == 0;
    options.text = format == 1;
    options.hex = format == 2;
    options.selectedOnly = selectedOnly;
    options.allData = !selectedOnly;
    if (format == 0) Select({1}); else Select({2, 3});
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
      QCOMPARE(written, QByteArray::fromStdString(Render(2, 1, 1, format == 2) + Render(3, 1, 1, format == 2)));
    }
  }

  void exportRefusals() {
    QTemporaryDir dir;
    CMessageCatcher catcher;
    RecordThree();
    // Selected only with nothing selected: an empty file.
    CSaveFileOptions options;
    options.fileName = dir.filePath(QStringLiteral("none.csv"));
    options.selectedOnly = 1;
    options.allData = 0;
    page_->ExportWith(options);
    QCOMPARE(catcher.messages, QStringList{kNoneSelected});
    QVERIFY(QFile::exists(options.fileName));
    QCOMPARE(QFileInfo(options.fileName).size(), 0);
    // A symbolic link is not followed.
    catcher.messages.clear();
    const QString target = dir.filePath(QStringLiteral("target.txt"));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    WriteFile(target, "keep");
    QVERIFY(QFile::link(target, link));
    page_->ExportWith(CSaveFileOptions{.fileName = link});
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
    dialog.FileNameBox()->setText(QStringLiteral("a.csv"));
    dialog.accept();  // defaults: all data in CSV
    QCOMPARE(dialog.Options().selectedOnly, 0);
    QCOMPARE(dialog.Options().allData, 1);
    QCOMPARE(dialog.Options().Format(), 0);
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
};

QTEST_MAIN(ConversationsPageTest)
#include "conversations_page_qtest.moc"
