#include "desktop/settings/settings_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include "desktop/common/monospace_font.h"
#include "desktop/settings/capture_file_opener.h"
#include "desktop/settings/filter_dialog.h"
#include "desktop/settings/fleet_output_group.h"
#include "engine/traffic_engine.h"
#include "settings/filter_rule_store.h"
#include "settings/setting_values.h"

namespace {

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QString DefaultFolderChooser(QWidget* parent, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, QStringLiteral("Select Log File Dir"), start,
                                           QFileDialog::ShowDirsOnly);
}

}  // namespace

CSettingsPage::CSettingsPage(CTrafficEngine& engine, CSettingValues& settings,
                             const CDesktopStart& start, QWidget* parent)
    : QWidget(parent), engine_(engine), settings_(settings), startAt_(start),
      logDir_(engine.LogOptions().dir),
      replay_(std::make_unique<CCaptureFileOpener>(engine, this)) {
  setObjectName(QStringLiteral("settingsPage"));
  folderChooser_ = [this](const QString& start) { return DefaultFolderChooser(this, start); };
  BuildControls();
  // A replay ends the live trace.
  replay_->SetBeforeStart([this] { ShowTraceRunning(false); });
  // Called on the capture thread: only queue. Set while no trace runs, that
  // is before the auto-start; the page outlives every trace (its destructor
  // stops the capture before the listener goes).
  engine_.Capture().SetEndedListener([this](int traceId) {
    QMetaObject::invokeMethod(this, [this, traceId] { OnTraceEnded(traceId); }, Qt::QueuedConnection);
  });
  InitControls();
}

CSettingsPage::~CSettingsPage() {
  engine_.StopReplay();
  engine_.StopLive();
  engine_.Capture().SetEndedListener({});
}

void CSettingsPage::SetFolderChooser(std::function<QString(const QString&)> chooser) {
  folderChooser_ = std::move(chooser);
}

void CSettingsPage::BuildControls() {
  // Interface group.
  auto* interfaceGroup = new QGroupBox(QStringLiteral("Interface"), this);
  interfaces_ = Named(new QComboBox(interfaceGroup), "interfaces");
  interfaces_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  interfaces_->setMinimumContentsLength(20);
  auto* listingLabel = new QLabel(QStringLiteral("Interface Listing:"), interfaceGroup);
  listingLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  listingLabel->setWordWrap(true);
  listing_ = Named(new QLabel(interfaceGroup), "listing");
  listing_->setFrameStyle(QFrame::Box | QFrame::Plain);
  listing_->setWordWrap(true);
  listing_->setMinimumHeight(listing_->fontMetrics().height() * 2 + 6);
  listing_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* traceLabel = new QLabel(QStringLiteral("Trace:"), interfaceGroup);
  traceLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  start_ = Named(new QPushButton(QStringLiteral("St&art"), interfaceGroup), "start");
  stop_ = Named(new QPushButton(QStringLiteral("St&op"), interfaceGroup), "stop");
  auto* traceButtons = new QButtonGroup(this);
  for (QPushButton* button : {start_, stop_}) {
    button->setCheckable(true);
    button->setAutoDefault(false);
    traceButtons->addButton(button);
  }
  traceButtons->setExclusive(true);
  auto* interfaceGrid = new QGridLayout(interfaceGroup);
  interfaceGrid->addWidget(new QLabel(QStringLiteral("Select Interface to Trace:"), interfaceGroup), 0, 0, 1, 4);
  interfaceGrid->addWidget(interfaces_, 1, 0, 1, 4);
  interfaceGrid->addWidget(listingLabel, 2, 0);
  interfaceGrid->addWidget(listing_, 2, 1, 1, 3);
  interfaceGrid->addWidget(traceLabel, 3, 0);
  interfaceGrid->addWidget(start_, 3, 1);
  interfaceGrid->addWidget(stop_, 3, 2);
  openFile_ = Named(new QPushButton(QStringLiteral("Open &Capture File..."), interfaceGroup), "openFile");
  openFile_->setAutoDefault(false);
  interfaceGrid->addWidget(openFile_, 4, 1, 1, 2);
  interfaceGrid->setColumnStretch(3, 1);

  // Filter Settings group.
  auto* filterGroup = new QGroupBox(QStringLiteral("Filter Settings"), this);
  filters_ = Named(new QPushButton(QStringLiteral("&Filters..."), filterGroup), "filters");
  filters_->setAutoDefault(false);
  summary_ = Named(new QLabel(QStringLiteral("None"), filterGroup), "summary");
  summary_->setAlignment(Qt::AlignCenter);
  summary_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  summary_->setMinimumWidth(summary_->fontMetrics().horizontalAdvance(QStringLiteral("Exclude")) + 16);
  // The rules count what they match as the trace runs; reading the counts
  // takes no lock the capture path waits for.
  auto* countsTick = new QTimer(this);
  connect(countsTick, &QTimer::timeout, this, [this] {
    summary_->setText(QString::fromStdString(engine_.Filters().Report().SummaryText()));
  });
  countsTick->start(1000);
  tcp_ = Named(new QCheckBox(QStringLiteral("&TCP"), filterGroup), "tcp");
  udp_ = Named(new QCheckBox(QStringLiteral("&UDP"), filterGroup), "udp");
  rules_ = Named(new QListWidget(filterGroup), "rules");
  rules_->setSortingEnabled(true);
  rules_->setSelectionMode(QAbstractItemView::NoSelection);
  rules_->setFocusPolicy(Qt::NoFocus);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(filters_);
  filterRow->addWidget(summary_);
  filterRow->addSpacing(10);
  filterRow->addWidget(tcp_);
  filterRow->addWidget(udp_);
  filterRow->addStretch(1);
  auto* filterBox = new QVBoxLayout(filterGroup);
  filterBox->addLayout(filterRow);
  filterBox->addWidget(rules_, 1);

  // Capture Settings group.
  auto* captureGroup = new QGroupBox(QStringLiteral("Capture Settings"), this);
  headersOnly_ = Named(new QRadioButton(QStringLiteral("IP &Headers Only"), captureGroup), "headersOnly");
  packetData_ = Named(new QRadioButton(QStringLiteral("Capture &Packet Data"), captureGroup), "packetData");
  auto* captureBox = new QVBoxLayout(captureGroup);
  captureBox->addWidget(headersOnly_);
  captureBox->addWidget(packetData_);
  captureBox->addStretch(1);

  // Host Role group.
  auto* roleGroup = new QGroupBox(QStringLiteral("Host Role"), this);
  client_ = Named(new QRadioButton(QStringLiteral("Client"), roleGroup), "client");
  server_ = Named(new QRadioButton(QStringLiteral("Server"), roleGroup), "server");
  auto* roleBox = new QHBoxLayout(roleGroup);
  roleBox->addWidget(client_);
  roleBox->addWidget(server_);
  roleBox->addStretch(1);

  // Trace Files Settings group.
  auto* filesGroup = new QGroupBox(QStringLiteral("Trace Files Settings"), this);
  logToFile_ = Named(new QCheckBox(QStringLiteral("Log to &File"), filesGroup), "logToFile");
  logDirEdit_ = Named(new QLineEdit(filesGroup), "logDir");
  chooseDir_ = Named(new QPushButton(QStringLiteral("V"), filesGroup), "chooseDir");
  chooseDir_->setAutoDefault(false);
  chooseDir_->setFixedWidth(chooseDir_->fontMetrics().horizontalAdvance(QStringLiteral("V")) + 16);
  stats_ = Named(new QCheckBox(QStringLiteral("Stats"), filesGroup), "stats");
  data_ = Named(new QCheckBox(QStringLiteral("Data"), filesGroup), "data");
  hex_ = Named(new QCheckBox(QStringLiteral("Hex"), filesGroup), "hex");
  auto* dirRow = new QHBoxLayout;
  dirRow->setSpacing(2);
  dirRow->addWidget(logDirEdit_, 1);
  dirRow->addWidget(chooseDir_);
  auto* optionRow = new QHBoxLayout;
  optionRow->addWidget(stats_);
  optionRow->addWidget(data_);
  optionRow->addWidget(hex_);
  optionRow->addStretch(1);
  auto* filesBox = new QVBoxLayout(filesGroup);
  filesBox->addWidget(logToFile_);
  filesBox->addWidget(new QLabel(QStringLiteral("Log File Directory:"), filesGroup));
  filesBox->addLayout(dirRow);
  filesBox->addLayout(optionRow);
  filesBox->addStretch(1);

  auto* page = new QGridLayout(this);
  page->addWidget(interfaceGroup, 0, 0, 2, 1);
  page->addWidget(captureGroup, 0, 1);
  page->addWidget(roleGroup, 1, 1);
  page->addWidget(filterGroup, 2, 0);
  page->addWidget(filesGroup, 2, 1);
  page->addWidget(new CFleetOutputGroup(engine_, settings_, this), 3, 0, 1, 2);
  page->setColumnStretch(0, 5);
  page->setColumnStretch(1, 3);
  page->setRowStretch(2, 1);

  connect(interfaces_, &QComboBox::currentIndexChanged, this, &CSettingsPage::OnInterfaceSelected);
  connect(openFile_, &QPushButton::clicked, replay_.get(), &CCaptureFileOpener::Open);
  connect(start_, &QPushButton::clicked, this, &CSettingsPage::OnStart);
  connect(stop_, &QPushButton::clicked, this, &CSettingsPage::OnStop);
  connect(headersOnly_, &QRadioButton::clicked, this, &CSettingsPage::OnCaptureMode);
  connect(packetData_, &QRadioButton::clicked, this, &CSettingsPage::OnCaptureMode);
  connect(tcp_, &QCheckBox::clicked, this, &CSettingsPage::OnTcp);
  connect(udp_, &QCheckBox::clicked, this, &CSettingsPage::OnUdp);
  connect(filters_, &QPushButton::clicked, this, &CSettingsPage::OnFilters);
  connect(logToFile_, &QCheckBox::clicked, this, &CSettingsPage::OnLogToFile);
  connect(chooseDir_, &QPushButton::clicked, this, &CSettingsPage::OnChooseLogDir);
  connect(stats_, &QCheckBox::clicked, this, &CSettingsPage::OnStats);
  connect(data_, &QCheckBox::clicked, this, &CSettingsPage::OnData);
  connect(hex_, &QCheckBox::clicked, this, &CSettingsPage::OnHex);
  connect(client_, &QRadioButton::clicked, this, &CSettingsPage::ApplyCaptureOptions);
  connect(server_, &QRadioButton::clicked, this, &CSettingsPage::ApplyCaptureOptions);
}

void CSettingsPage::InitControls() {
  {
    // Filling the combo selects its first item; that is no user's choice
    // and must not store anything.
    const QSignalBlocker blocker(interfaces_);
    interfaces_->addItem(QStringLiteral("<None>"));
    for (const auto& record : engine_.Interfaces()) interfaces_->addItem(QString::fromStdString(record->label));
    interfaces_->setCurrentIndex(0);
  }
  const CCaptureOptions options = engine_.CaptureOptions();
  (options.headerOnly ? headersOnly_ : packetData_)->setChecked(true);
  tcp_->setChecked(true);
  udp_->setChecked(false);
  ShowTraceRunning(false);
  client_->setChecked(true);
  ApplyCaptureOptions();
  start_->setEnabled(false);
  stop_->setEnabled(false);
  logDirEdit_->setText(QString::fromStdString(logDir_));
  rules_->setFont(MonospaceFont());
  stats_->setChecked(true);
  hex_->setEnabled(false);

  const int index = startAt_.interfaceIndex;
  if (index > 0 && static_cast<std::size_t>(index) < engine_.Interfaces().size()) {
    try {
      {
        const QSignalBlocker blocker(interfaces_);
        interfaces_->setCurrentIndex(index + 1);
      }
      OnInterfaceSelected(index + 1);
    } catch (...) {
      // A restore that fails leaves the page as a first run shows it.
      const QSignalBlocker blocker(interfaces_);
      interfaces_->setCurrentIndex(0);
      start_->setEnabled(false);
      stop_->setEnabled(false);
    }
  }
  if (engine_.LogOptions().enabled) logToFile_->setChecked(true);
  ApplyLogOptions();
  ShowRules();
  if (startAt_.autoStart && interfaceIndex_ > 0 && interfaces_->currentIndex() > 0) {
    ShowTraceRunning(engine_.StartLive(interfaceIndex_));
  }
}

void CSettingsPage::ShowTraceRunning(bool running) {
  (running ? start_ : stop_)->setChecked(true);
}

void CSettingsPage::ShowRules() {
  const CFilterRuleReport report = engine_.Filters().Report();
  rules_->clear();
  for (const CFilterRule& rule : report.rules.Rules()) {
    rules_->addItem(QString::fromStdString(rule.ToText()));
  }
  summary_->setText(QString::fromStdString(report.SummaryText()));
}

void CSettingsPage::ApplyCaptureOptions() {
  engine_.SetCaptureOptions({tcp_->isChecked(), udp_->isChecked(), headersOnly_->isChecked(),
                             server_->isChecked() ? EHostRole::kServer : EHostRole::kClient});
}

void CSettingsPage::ApplyLogOptions() {
  engine_.SetLogOptions({logToFile_->isChecked(), stats_->isChecked(), data_->isChecked(),
                         hex_->isChecked(), logDir_});
}

void CSettingsPage::OnInterfaceSelected(int item) {
  engine_.StopLive();
  start_->setEnabled(item != 0);
  stop_->setEnabled(item != 0);
  ShowTraceRunning(false);
  listing_->clear();
  settings_.WriteInterfaceKey(item - 1);
  interfaceIndex_ = -1;
  if (item >= 1) {
    const int index = item - 1;
    const CInterfaceRecord* record = engine_.InterfaceAt(index);
    if (record == nullptr) return;
    interfaceIndex_ = index;
    settings_.WriteInterfaceKey(index);
    listing_->setText(QString::fromStdString(record->AddressListing()));
  }
}

void CSettingsPage::OnStart() {
  // A live trace replaces the data of a replay: ask before it goes.
  if (engine_.ShowsReplay() && engine_.Session()->HoldsData() && !replay_->ConfirmClear()) {
    ShowTraceRunning(engine_.Capture().IsCapturing());
    return;
  }
  engine_.StartLive(interfaceIndex_);
  ShowTraceRunning(engine_.Capture().IsCapturing());
}

void CSettingsPage::OnStop() {
  engine_.StopLive();
  ShowTraceRunning(false);
}

void CSettingsPage::OnTraceEnded(int traceId) {
  CCaptureController& capture = engine_.Capture();
  if (traceId == capture.TraceId() && !capture.IsCapturing()) ShowTraceRunning(false);
}

void CSettingsPage::OnCaptureMode() {
  const bool headersOnly = headersOnly_->isChecked();
  ApplyCaptureOptions();
  settings_.WriteHeaderOnly(headersOnly ? "1" : "0");
}

void CSettingsPage::OnTcp() {
  if (!tcp_->isChecked()) udp_->setChecked(true);
  ApplyCaptureOptions();
}

void CSettingsPage::OnUdp() {
  if (!udp_->isChecked()) tcp_->setChecked(true);
  ApplyCaptureOptions();
}

void CSettingsPage::OnFilters() {
  const CFilterRuleReport report = engine_.Filters().Report();
  CFilterDialog dialog(report.rules, this, report.hits);
  if (dialog.exec() != QDialog::Accepted) return;
  engine_.Filters().Replace(dialog.Rules());
  ShowRules();
  SaveFilterRules(settings_, dialog.Rules());
}

void CSettingsPage::OnLogToFile() {
  // Switching off writes the final pass; switching on starts new files.
  ApplyLogOptions();
  settings_.WriteAutoLog(logToFile_->isChecked() ? "1" : "0");
}

void CSettingsPage::OnChooseLogDir() {
  const QString chosen = folderChooser_(logDirEdit_->text());
  if (chosen.isEmpty()) return;
  logDirEdit_->setText(chosen);
  // Takes effect at the next start; this run keeps logging where it began.
  settings_.WriteLogDir(chosen.toStdString());
}

void CSettingsPage::OnData() {
  if (data_->isChecked()) {
    hex_->setEnabled(true);
  } else {
    hex_->setChecked(false);
    hex_->setEnabled(false);
    stats_->setChecked(true);
  }
  ApplyLogOptions();
}

void CSettingsPage::OnHex() { ApplyLogOptions(); }

void CSettingsPage::OnStats() {
  if (!stats_->isChecked()) {
    data_->setChecked(true);
    hex_->setEnabled(true);
  }
  ApplyLogOptions();
}

bool CSettingsPage::ReplayFile(const QString& path, const QString& localAddresses) {
  return replay_->Replay(path, localAddresses);
}
