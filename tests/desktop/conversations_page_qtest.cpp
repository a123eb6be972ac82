// The Conversations page over a real session: the rows it lists, a Refresh
// that merges in place, what Show renders, and the export of the chosen rows.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "desktop/common/byte_text_edit.h"
#include "desktop/common/list_sort_proxy.h"
#include "desktop/common/report_list.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/conversations/save_file_options_dialog.h"
#include "tests/desktop/desktop_test_support.h"

namespace {

CTimeStamp At(int32_t sec, int32_t usec = 0) { return CTimeStamp{sec, usec}; }
CIpAddr Remote(int i) { return CIpAddr(10, 2, uint8_t(i / 250), uint8_t(i % 250)); }
QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

}  // namespace

class ConversationsPageTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<CDesktopFixture> f_;
  std::unique_ptr<CConversationsPage> page_;

  CConversationListModel* Model() { return page_->ListModel(); }
  QString Cell(int row, int column) { return Model()->data(Model()->index(row, column)).toString(); }
  void Select(std::initializer_list<int> rows) {
    QItemSelectionModel* selection = page_->List()->selectionModel();
    selection->clearSelection();
    for (int r : rows) {
      selection->select(page_->Rows()->Proxy()->mapFromSource(Model()->index(r, 0)),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  std::string Render(int row, const CTextOptions& options) {
    const auto copies = f_->engine.Session()->CopyRows({Model()->Row(row).key});
    return copies.empty() ? std::string() : RenderConversationText(copies[0].records, options, f_->engine.Cancel());
  }

  // A Server conversation (asked at 1005.0 s and .1 s, answered at .4 s), a
  // Client one mirroring it a second later, and a sent-only UDP one.
  void RecordThree() {
    CCaptureOptions options = f_->engine.CaptureOptions();
    options.role = EHostRole::kServer;
    f_->engine.SetCaptureOptions(options);
    const CIpAddr client(10, 0, 5, 1), server(10, 0, 5, 2);
    RecordPacket(f_->engine, EDirection::kReceived, client, 5000, At(1005), 20, 100, 80);
    RecordPacket(f_->engine, EDirection::kReceived, client, 5000, At(1005, 100000), 20, 120, 80);
    RecordPacket(f_->engine, EDirection::kSent, client, 5000, At(1005, 400000), 30, 900, 80);
    options.role = EHostRole::kClient;
    f_->engine.SetCaptureOptions(options);
    RecordPacket(f_->engine, EDirection::kSent, server, 80, At(1006), 20, 100);
    RecordPacket(f_->engine, EDirection::kSent, server, 80, At(1006, 100000), 20, 120);
    RecordPacket(f_->engine, EDirection::kReceived, server, 80, At(1006, 400000), 30, 900);
    RecordPacket(f_->engine, EDirection::kSent, CIpAddr(10, 0, 5, 3), 53, At(1007), 12);
    page_->Refresh();
  }

 private slots:
  void init() {
    f_ = std::make_unique<CDesktopFixture>();
    page_ = std::make_unique<CConversationsPage>(f_->engine);
    page_->resize(800, 400);
  }
  void cleanup() {
    page_.reset();
    f_.reset();
  }

  // The row that opens an exchange for the conversation's role comes first
  // and carries the response time; its partner gives the reply's times.
  void rowsFollowTheHostRole() {
    QAbstractItemModelTester tester(Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    RecordThree();
    QCOMPARE(Model()->rowCount(), 5);
    const QStringList first = {"10.0.5.1:5000", "", "80", "", "1", "TCP", "120", "2", "0.400000",
                               "00:16:45.000000", "00:16:45.100000", QString(20, QLatin1Char('x'))};
    for (int c = 0; c < CConversationRow::kColumns; ++c) QCOMPARE(Cell(0, c), first[c]);
    const struct { EDirection direction; const char *time, *start; } rows[] = {
        {EDirection::kReceived, "0.400000", "00:16:45.000000"}, {EDirection::kSent, "", "00:16:45.400000"},
        {EDirection::kSent, "0.400000", "00:16:46.000000"}, {EDirection::kReceived, "", "00:16:46.400000"},
        {EDirection::kSent, "0.000000", "00:16:47.000000"}};
    for (int r = 0; r < 5; ++r) {
      QVERIFY(Model()->Row(r).key.direction == rows[r].direction);
      QCOMPARE(Cell(r, 8), QLatin1String(rows[r].time));
      QCOMPARE(Cell(r, 9), QLatin1String(rows[r].start));
    }
    QCOMPARE(Cell(4, 5), QStringLiteral("UDP"));
  }

  // Replies add rows above the selection, new conversations below it: the
  // selected conversation stays selected and the list does not jump.
  void refreshKeepsSelectionAndScrollPosition() {
    for (int i = 0; i < 900; ++i) {
      RecordPacket(f_->engine, EDirection::kSent, Remote(i), 80, At(3000, i), 10, 1);
      if (i >= 50) RecordPacket(f_->engine, EDirection::kReceived, Remote(i), 80, At(3000, i), 10, 1);
    }
    page_->show();
    QVERIFY(QTest::qWaitForWindowExposed(page_.get()));
    QElapsedTimer timer;
    timer.start();
    page_->Refresh();
    QVERIFY2(timer.elapsed() < 3000, "filling 1750 rows took too long");
    QCOMPARE(Model()->rowCount(), 1750);
    const int selected = 50 + 2 * 650;  // conversation 701's first row
    QCOMPARE(Model()->Row(selected).key.convId, 701);
    Select({selected});
    QCoreApplication::processEvents();  // the list lays its new rows out
    page_->List()->scrollTo(page_->List()->model()->index(selected, 0), QAbstractItemView::PositionAtCenter);
    const int scrolled = page_->List()->verticalScrollBar()->value();
    QVERIFY(scrolled > 0);

    QSignalSpy resets(Model(), &QAbstractItemModel::modelReset);
    for (int i = 0; i < 50; ++i) RecordPacket(f_->engine, EDirection::kReceived, Remote(i), 80, At(3001, i), 10, 1);
    for (int i = 900; i < 1000; ++i) RecordPacket(f_->engine, EDirection::kSent, Remote(i), 80, At(3001, i), 10, 1);
    page_->Refresh();
    QCoreApplication::processEvents();
    QCOMPARE(Model()->rowCount(), 1900);
    QCOMPARE(resets.count(), 0);
    const QModelIndexList now = page_->List()->selectionModel()->selectedRows();
    QCOMPARE(now.size(), 1);
    QCOMPARE(Model()->Row(now[0].row()).key.convId, 701);
    QCOMPARE(page_->List()->verticalScrollBar()->value(), scrolled);
  }

  void showRendersTheSelection_data() {
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<bool>("headers");
    QTest::addColumn<bool>("data");
    QTest::addColumn<bool>("hex");
    QTest::newRow("as opened") << QStringList{} << true << true << false;
    QTest::newRow("headers off") << QStringList{"headers"} << false << true << false;
    QTest::newRow("data off") << QStringList{"data"} << true << false << false;
    QTest::newRow("both off: headers come back") << QStringList{"headers", "data"} << true << false << false;
    QTest::newRow("hex") << QStringList{"hex"} << true << true << true;
  }
  void showRendersTheSelection() {
    QFETCH(QStringList, clicks);
    QFETCH(bool, headers);
    QFETCH(bool, data);
    QFETCH(bool, hex);
    RecordThree();
    Select({4, 0, 1});
    for (const QString& box : clicks) {
      (box == "headers" ? page_->HeadersBox() : box == "data" ? page_->DataBox() : page_->HexBox())->click();
    }
    QCOMPARE(page_->HeadersBox()->isChecked(), headers);
    QCOMPARE(page_->DataBox()->isChecked(), data);
    page_->Show();
    const CTextOptions options{headers, data, hex};
    const std::string expected = Render(0, options) + Render(1, options) + Render(4, options);
    QCOMPARE(page_->SelectionText(), expected);
    QCOMPARE(page_->TextPane()->toPlainText(), Latin1(expected).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    Select({});
    page_->Show();
    QVERIFY(page_->TextPane()->toPlainText().isEmpty());
  }

  void showStopsAtTwoMillionCharacters() {
    // Three sent-only conversations of about 900,000 characters each.
    for (int c = 0; c < 3; ++c) {
      for (int i = 0; i < 300; ++i) RecordPacket(f_->engine, EDirection::kSent, Remote(c), 80, At(2000 + c, i), 2800, 1 + 3000 * i);
    }
    page_->Refresh();
    QCOMPARE(Model()->rowCount(), 3);
    const std::string first = Render(0, {}), second = Render(1, {});
    QVERIFY(first.size() + second.size() <= CConversationsPage::kShowLimit);
    QVERIFY(first.size() * 3 > CConversationsPage::kShowLimit);
    Select({0, 1, 2});
    QCOMPARE(page_->SelectionText(), first + second + CConversationsPage::kTooMuchText);
  }

  void clearEmptiesListPaneAndSession() {
    RecordThree();
    Select({0});
    page_->Show();
    page_->Clear();
    QCOMPARE(Model()->rowCount(), 0);
    QVERIFY(page_->TextPane()->toPlainText().isEmpty());
    QVERIFY(f_->engine.Session()->ConversationRows().empty());
  }

  void exportWritesTheChosenRows_data() {
    QTest::addColumn<bool>("selectedOnly");
    QTest::addColumn<bool>("text");
    QTest::newRow("csv, all rows") << false << false;
    QTest::newRow("csv, one row selected") << true << false;
    QTest::newRow("text, two rows selected") << true << true;
  }
  void exportWritesTheChosenRows() {
    QFETCH(bool, selectedOnly);
    QFETCH(bool, text);
    RecordThree();
    Select({2, 3});
    if (!text) Select({1});
    CSaveFileOptions options;
    options.fileName = f_->dir.filePath(QStringLiteral("out"));
    options.csv = !text;
    options.text = text;
    options.selectedOnly = selectedOnly;
    options.allData = !selectedOnly;
    page_->ExportWith(options);
    QCOMPARE(f_->messages, QStringList{options.fileName + QStringLiteral(" saved.")});
    QFile file(options.fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    if (text) {
      QCOMPARE(written, QByteArray::fromStdString(Render(2, {}) + Render(3, {})));
    } else {
      QCOMPARE(written.count('\n'), selectedOnly ? 2 : 4);  // a header, a line per conversation
      if (selectedOnly) QVERIFY(written.split('\n')[1].contains(",\"1\","));
    }
  }

  void optionsDialogAsksForAName() {
    CSaveFileOptionsDlg dialog;
    dialog.accept();
    QCOMPARE(f_->messages, QStringList{QStringLiteral("Please enter a valid file name")});
    QVERIFY(!dialog.Confirmed());
    dialog.FileNameBox()->setText(QStringLiteral("/tmp/x.txt"));
    dialog.SelectedOnlyButton()->setChecked(true);
    dialog.HexButton()->setChecked(true);
    dialog.accept();
    QVERIFY(dialog.Confirmed());
    QCOMPARE(dialog.Options().fileName, QStringLiteral("/tmp/x.txt"));
    QCOMPARE(dialog.Options().selectedOnly, 1);
    QVERIFY(dialog.Options().Format() == EExportForm::kHex);
    // An existing file: replaced only after Yes; a link in its place never.
    const QString taken = f_->dir.filePath(QStringLiteral("taken"));
    QFile(taken).open(QIODevice::WriteOnly);
    QFile::link(taken, taken + QStringLiteral("-link"));
    QStringList questions;
    SetQuestionAnswerer([&questions](const QString& q) { return (questions << q).size() > 1; });
    f_->messages.clear();
    for (const QString& name : {taken + QStringLiteral("-link"), taken, taken}) {
      CSaveFileOptionsDlg asking;
      asking.FileNameBox()->setText(name);
      asking.accept();
      QCOMPARE(asking.Confirmed(), questions.size() == 2);
    }
    QCOMPARE(f_->messages, QStringList{QStringLiteral("Error opening file: %1-link: a symbolic link").arg(taken)});
    QCOMPARE(questions.first(), QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(taken));
  }
};

QTEST_MAIN(ConversationsPageTest)
#include "conversations_page_qtest.moc"
