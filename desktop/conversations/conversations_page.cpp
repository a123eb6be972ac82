#include "desktop/conversations/conversations_page.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <algorithm>
#include <new>

#include "engine/traffic_engine.h"
#include "desktop/common/byte_text_edit.h"
#include "desktop/common/column_fit.h"
#include "desktop/conversations/conversation_list_model.h"
#include "desktop/common/message_box.h"
#include "desktop/common/monospace_font.h"
#include "desktop/common/report_list.h"
#include "output/value_format.h"
#include "desktop/conversations/save_file_options_dialog.h"
#include "desktop/range/range_bar.h"
#include "desktop/range/time_range_selection.h"

const char* const CConversationsPage::kTooMuchText = "\r\n\r\nOnly 2M of data shown per selection";

namespace {

constexpr const char* kRenderError = "\r\nError retrieving data";
constexpr const char* kLoadError = "Error Loading Text Data";

class CWaitCursor {
 public:
  CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
};

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CConversationsPage::CConversationsPage(CTrafficEngine& engine, QWidget* parent)
    : CSplitPage(parent), engine_(engine) {
  auto* bar = new QWidget(this);
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(7, 7, 7, 0);
  refresh_ = new QPushButton(tr("&Refresh"), bar);
  // Each key once in the window: "&Headers" keeps H, "&Export..." keeps E.
  show_ = new QPushButton(tr("&Show"), bar);
  clear_ = new QPushButton(tr("C&lear"), bar);
  export_ = new QPushButton(tr("&Export..."), bar);
  headersBox_ = new QCheckBox(tr("&Headers"), bar);
  dataBox_ = new QCheckBox(tr("&Data"), bar);
  hexBox_ = new QCheckBox(tr("He&x"), bar);
  followBox_ = new QCheckBox(tr("F&ollow selection"), bar);
  headersBox_->setObjectName(QStringLiteral("showHeaders"));
  dataBox_->setObjectName(QStringLiteral("showData"));
  hexBox_->setObjectName(QStringLiteral("showHex"));
  followBox_->setObjectName(QStringLiteral("followSelection"));
  headersBox_->setToolTip(tr("Show each packet's decoded IP and TCP or UDP header"));
  dataBox_->setToolTip(tr("Show each packet's data"));
  hexBox_->setToolTip(tr("Show the data as a hex dump instead of text"));
  followBox_->setToolTip(tr("Show the selected rows' packets as soon as the selection changes"));
  for (QWidget* w : {static_cast<QWidget*>(refresh_), static_cast<QWidget*>(show_),
                     static_cast<QWidget*>(clear_), static_cast<QWidget*>(export_)}) {
    row->addWidget(w);
  }
  row->addSpacing(12);
  row->addWidget(headersBox_);
  row->addWidget(dataBox_);
  row->addWidget(hexBox_);
  row->addSpacing(12);
  row->addWidget(followBox_);
  row->addStretch(1);
  SetTopBar(bar);

  model_ = new CConversationListModel(this);
  rows_ = new CReportList(model_, this);
  list_ = rows_->View();
  FitColumns(*list_, CConversationListModel::kColumnWidths, CConversationListModel::ColumnSamples(), 0);
  // The preview text is as long as it likes; it gets what the list has left.
  list_->horizontalHeader()->setStretchLastSection(true);

  pane_ = new CByteTextEdit(this);
  pane_->setFont(MonospaceFont());
  // Packet headers, rules and hex dumps are laid out in columns; wrapped at
  // the pane's edge they fall apart, so long lines scroll instead.
  pane_->setLineWrapMode(QPlainTextEdit::NoWrap);
  pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

  const int marginY = TopBarBottom() + 3;
  SetUpSplit({rows_, 50, 50, 0, marginY, false}, {pane_, 50, 50, 0, marginY, false}, 80);
  AddListActions();

  headersBox_->setChecked(true);
  dataBox_->setChecked(true);

  connect(refresh_, &QPushButton::clicked, this, &CConversationsPage::Refresh);
  connect(show_, &QPushButton::clicked, this, &CConversationsPage::Show);
  connect(clear_, &QPushButton::clicked, this, &CConversationsPage::Clear);
  connect(export_, &QPushButton::clicked, this, &CConversationsPage::Export);
  connect(list_, &QTableView::doubleClicked, this, &CConversationsPage::Show);
  connect(rows_, &CReportList::SelectionChanged, this, [this] {
    // Coalesced: a drag over many rows renders once, when it settles.
    if (followBox_->isChecked()) followTimer_.start();
  });
  followTimer_.setSingleShot(true);
  followTimer_.setInterval(150);
  connect(&followTimer_, &QTimer::timeout, this, &CConversationsPage::Show);
  connect(followBox_, &QCheckBox::clicked, this, [this](bool on) {
    if (on) Show();
    emit OptionsChanged();
  });
  connect(headersBox_, &QCheckBox::clicked, this, &CConversationsPage::OnHeadersClicked);
  connect(dataBox_, &QCheckBox::clicked, this, &CConversationsPage::OnDataClicked);
  connect(hexBox_, &QCheckBox::clicked, this, &CConversationsPage::OnHexClicked);
}

void CConversationsPage::Refresh() {
  CWaitCursor wait;
  pane_->clear();
  const std::shared_ptr<CCaptureSession> session = engine_.Session();
  allRows_ = CConversationListModel::MakeRows(session->ConversationRows());
  rowsSession_ = session->Id();
  ShowRows();
}

void CConversationsPage::ShowRows() {
  const std::optional<CTimeRange> range = range_ != nullptr ? range_->Range() : std::nullopt;
  std::vector<CConversationRow> rows;
  if (range) {
    for (const CConversationRow& row : allRows_) {
      if (range->Overlaps(row.first, row.last)) rows.push_back(row);
    }
  }
  const std::vector<CConversationRow>& shown = range ? rows : allRows_;
  // An IPv6 endpoint can outgrow the column's IPv4 sample; the longest text
  // stands for the widest.
  QString longest;
  for (const CConversationRow& row : shown) {
    if (row.texts[0].size() > longest.size()) longest = row.texts[0];
  }
  model_->Merge(rowsSession_, shown);
  WidenColumnToFit(*list_, 0, longest, true);
}

void CConversationsPage::UseRange(CTimeRangeSelection& selection) {
  range_ = &selection;
  rows_->AddBar(new CRangeBar(selection, QString()));
  connect(&selection, &CTimeRangeSelection::Changed, this, [this] {
    // A list never filled stays empty; one filled shows the range at once.
    if (rowsSession_ != 0) ShowRows();
  });
}

void CConversationsPage::AddListActions() {
  rows_->AddAction(tr("Copy address"), [this] { CopyCurrent(false); });
  rows_->AddAction(tr("Copy endpoint"), [this] { CopyCurrent(true); });
  rows_->AddAction(tr("Filter on this host..."), [this] {
    const int row = rows_->CurrentRow();
    if (row >= 0 && filterOnHost_) filterOnHost_(model_->Row(row).remote);
  });
  rows_->AddAction(tr("Show"), [this] { Show(); }, {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
}

void CConversationsPage::CopyCurrent(bool withPort) {
  const int row = rows_->CurrentRow();
  if (row < 0) return;
  const CConversationRow& r = model_->Row(row);
  const std::string text = withPort ? FormatEndpoint(r.remote, r.remotePort) : FormatAddress(r.remote);
  QApplication::clipboard()->setText(QString::fromStdString(text));
}

void CConversationsPage::SetFilterOnHost(std::function<void(const CIpAddr&)> hook) {
  filterOnHost_ = std::move(hook);
}

CConversationsPage::COptions CConversationsPage::Options() const {
  return {text_.headers, text_.data, text_.hex, followBox_->isChecked()};
}

void CConversationsPage::SetOptions(const COptions& options) {
  // Headers and Data cannot both be off.
  text_ = {options.headers || !options.data, options.data, options.hex};
  headersBox_->setChecked(text_.headers);
  dataBox_->setChecked(text_.data);
  hexBox_->setChecked(text_.hex);
  followBox_->setChecked(options.follow);
}

QList<int> CConversationsPage::SelectedRows() const { return rows_->SelectedRows(); }

std::vector<CConversationCopy> CConversationsPage::CopyRows(const QList<int>& rows) const {
  const std::shared_ptr<CCaptureSession> session = engine_.Session();
  // Rows of an older session name conversations that are gone.
  if (session->Id() != model_->SessionId()) return {};
  std::vector<CExportRow> keys;
  keys.reserve(static_cast<std::size_t>(rows.size()));
  for (int r : rows) keys.push_back(model_->Row(r).key);
  return session->CopyRows(keys);
}

std::string CConversationsPage::SelectionText() const {
  std::string joined;
  std::size_t total = 0;
  const std::shared_ptr<CCaptureSession> session = engine_.Session();
  for (const CConversationCopy& copy : CopyRows(SelectedRows())) {
    try {
      std::string text = RenderConversationText(copy.records, text_, engine_.Cancel(),
                                                session->RemoteName(copy.snapshot));
      total += text.size();
      if (total > kShowLimit) {
        joined += kTooMuchText;
        break;
      }
      joined += text;
    } catch (const std::bad_alloc&) {
      joined += kRenderError;
    }
  }
  return joined;
}

void CConversationsPage::Show() {
  CWaitCursor wait;
  pane_->clear();
  try {
    pane_->SetLatin1(Latin1(SelectionText()));
  } catch (const std::bad_alloc&) {
    pane_->SetLatin1(QString::fromLatin1(kLoadError));
  }
}

void CConversationsPage::Clear() {
  CWaitCursor wait;
  pane_->clear();
  model_->Clear();
  allRows_.clear();
  rowsSession_ = 0;
  engine_.Session()->ClearConversations();
}

void CConversationsPage::OnHeadersClicked(bool checked) {
  text_.headers = checked;
  if (!checked) {
    // Headers and Data cannot both be off.
    text_.data = true;
    dataBox_->setChecked(true);
  }
  emit OptionsChanged();
  Show();
}

void CConversationsPage::OnDataClicked(bool checked) {
  text_.data = checked;
  if (!checked) {
    text_.headers = true;
    headersBox_->setChecked(true);
  }
  emit OptionsChanged();
  Show();
}

void CConversationsPage::OnHexClicked(bool checked) {
  text_.hex = checked;
  emit OptionsChanged();
  Show();
}

void CConversationsPage::Export() {
  CSaveFileOptionsDlg dialog(this);
  if (dialog.exec() != QDialog::Accepted || !dialog.Confirmed()) return;
  ExportWith(dialog.Options());
}

void CConversationsPage::ExportWith(const CSaveFileOptions& options) {
  QList<int> rows;
  if (options.selectedOnly) {
    rows = SelectedRows();
  } else {
    for (int r = 0; r < model_->rowCount(); ++r) rows.push_back(r);
  }
  CExportResult result;
  {
    CWaitCursor wait;
    result = ExportConversations(QFile::encodeName(options.fileName).toStdString(), options.Format(),
                                 CopyRows(rows), engine_.Cancel());
  }
  for (const std::string& message : result.messages) {
    ShowMessage(this, QString::fromLocal8Bit(message.data(), static_cast<qsizetype>(message.size())));
  }
}
