#include "desktop/settings/settings_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "desktop/common/monospace_font.h"
#include "desktop/common/named_widget.h"
#include "desktop/common/remembered_values.h"
#include "desktop/settings/capture_file_opener.h"
#include "desktop/settings/filter_dialog.h"
#include "desktop/settings/fleet_output_group.h"
#include "desktop/settings/trace_files_group.h"
#include "engine/traffic_engine.h"
#include "settings/filter_rule_store.h"
#include "settings/setting_values.h"

CSettingsPage::CSettingsPage(CTrafficEngine& engine, CSettingValues& settings,
                             const CDesktopStart& start, QWidget* parent)
    : QWidget(parent), engine_(engine), settings_(settings), startAt_(start),
      replay_(std::make_unique<CCaptureFileOpener>(engine, this)) {
  setObjectName(QStringLiteral("settingsPage"));
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
  traceFiles_->SetFolderChooser(std::move(chooser));
}

bool CSettingsPage::CloseToTray() const { return closeToTray_->isChecked(); }

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
  closeToTray_ = Named(new QCheckBox(QStringLiteral("Close to tra&y"), interfaceGroup), "closeToTray");
  closeToTray_->setToolTip(QStringLiteral("On desktops with a system tray: closing the window keeps the "
                                          "program, and a running trace, in the tray; the tray's Quit ends it"));
  interfaceGrid->addWidget(closeToTray_, 5, 1, 1, 3);
  interfaceGrid->setColumnStretch(3, 1);

  // Filter Settings group.
  auto* filterGroup = new QGroupBox(QStringLiteral("Filter Settings"), this);
  filters_ = Named(new QPushButton(QStringLiteral("&Filters..."), filterGroup), "filters");
  filters_->setAutoDefault(false);
  summary_ = Named(new QLabel(QStringLiteral("None"), filterGroup), "summary");
  summary_->setAlignment(Qt::AlignCenter);
  summary_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  summary_->setMinimumWidth(summary_->fontMetrics().horizontalAdvance(QStringLiteral("Exclude")) + 16);
  summary_->setToolTip(QStringLiteral("Include: only traffic with a listed far end is recorded. "
                                      "Exclude: traffic with a listed far end is dropped."));
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
  // Some users want no query of theirs to leave the machine; the names the
  // traffic itself carries are shown either way.
  reverseLookups_ = Named(new QCheckBox(QStringLiteral("Ask DNS servers for host &names"), captureGroup),
                          "reverseLookups");
  memoryLimit_ = Named(new QSpinBox(captureGroup), "memoryLimit");
  memoryLimit_->setRange(1, CSettingValues::kMaxMemoryLimitMib);
  memoryLimit_->setSuffix(QStringLiteral(" MiB"));
  // One change when the typing is done, not one per digit.
  memoryLimit_->setKeyboardTracking(false);
  auto* memoryLabel = new QLabel(QStringLiteral("&Memory Limit:"), captureGroup);
  memoryLabel->setBuddy(memoryLimit_);
  auto* memoryRow = new QHBoxLayout;
  memoryRow->addWidget(memoryLabel);
  memoryRow->addWidget(memoryLimit_);
  memoryRow->addStretch(1);
  auto* captureBox = new QVBoxLayout(captureGroup);
  captureBox->addWidget(headersOnly_);
  captureBox->addWidget(packetData_);
  captureBox->addWidget(reverseLookups_);
  captureBox->addLayout(memoryRow);
  headersOnly_->setToolTip(QStringLiteral("Keep only each packet's headers; no data is stored or shown"));
  packetData_->setToolTip(QStringLiteral("Keep each packet's data as well as its headers"));
  captureBox->addStretch(1);

  // Host Role group.
  auto* roleGroup = new QGroupBox(QStringLiteral("Host Role"), this);
  client_ = Named(new QRadioButton(QStringLiteral("Client"), roleGroup), "client");
  server_ = Named(new QRadioButton(QStringLiteral("Server"), roleGroup), "server");
  auto* roleBox = new QHBoxLayout(roleGroup);
  roleBox->addWidget(client_);
  roleBox->addWidget(server_);
  client_->setToolTip(QStringLiteral("This host asks: a packet it sends opens an exchange, "
                                     "and the answer's delay is the response time"));
  server_->setToolTip(QStringLiteral("This host answers: a packet it receives opens an exchange, "
                                     "and its own answer's delay is the response time"));
  roleBox->addStretch(1);

  traceFiles_ = new CTraceFilesGroup(engine_, settings_, this);

  auto* page = new QGridLayout(this);
  page->addWidget(interfaceGroup, 0, 0, 2, 1);
  page->addWidget(captureGroup, 0, 1);
  page->addWidget(roleGroup, 1, 1);
  page->addWidget(filterGroup, 2, 0);
  page->addWidget(traceFiles_, 2, 1);
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
  connect(reverseLookups_, &QCheckBox::clicked, this, &CSettingsPage::OnReverseLookups);
  connect(memoryLimit_, &QSpinBox::valueChanged, this, &CSettingsPage::OnMemoryLimit);
  connect(client_, &QRadioButton::clicked, this, &CSettingsPage::OnRole);
  connect(server_, &QRadioButton::clicked, this, &CSettingsPage::OnRole);
  connect(closeToTray_, &QCheckBox::clicked, this,
          [this](bool on) { settings_.WriteSwitch(remembered::kCloseToTray, on); });
}

void CSettingsPage::InitControls() {
  {
    // Filling the combo selects its first item; that is no user's choice
    // and must not store anything. Each item carries its interface index;
    // devices that carry no IP traffic follow a separator.
    const QSignalBlocker blocker(interfaces_);
    interfaces_->addItem(QStringLiteral("<None>"), -1);
    bool separated = false;
    for (std::size_t i = 0; i < engine_.Interfaces().size(); ++i) {
      const CInterfaceRecord& record = *engine_.Interfaces()[i];
      if (!record.carriesIp && !separated) {
        interfaces_->insertSeparator(interfaces_->count());
        separated = true;
      }
      interfaces_->addItem(QString::fromStdString(record.label), static_cast<int>(i));
    }
    interfaces_->setCurrentIndex(0);
  }
  // The switches as the engine starts with them (the stored ones, or a new
  // user's), each pair kept from going off together.
  const CCaptureOptions options = engine_.CaptureOptions();
  (options.headerOnly ? headersOnly_ : packetData_)->setChecked(true);
  reverseLookups_->setChecked(engine_.Names().ReverseLookups());
  {
    const QSignalBlocker blocker(memoryLimit_);
    memoryLimit_->setValue(static_cast<int>(engine_.PayloadLimit() >> 20));
  }
  tcp_->setChecked(options.tcp || !options.udp);
  udp_->setChecked(options.udp);
  (options.role == EHostRole::kServer ? server_ : client_)->setChecked(true);
  ShowTraceRunning(false);
  ApplyCaptureOptions();
  start_->setEnabled(false);
  stop_->setEnabled(false);
  rules_->setFont(MonospaceFont());
  closeToTray_->setChecked(settings_.ReadSwitch(remembered::kCloseToTray, false));

  const int index = startAt_.interfaceIndex;
  if (index > 0 && static_cast<std::size_t>(index) < engine_.Interfaces().size()) {
    try {
      const int item = interfaces_->findData(index);
      {
        const QSignalBlocker blocker(interfaces_);
        interfaces_->setCurrentIndex(item);
      }
      OnInterfaceSelected(item);
    } catch (...) {
      // A restore that fails leaves the page as a first run shows it.
      const QSignalBlocker blocker(interfaces_);
      interfaces_->setCurrentIndex(0);
      start_->setEnabled(false);
      stop_->setEnabled(false);
    }
  }
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

void CSettingsPage::OnInterfaceSelected(int item) {
  const int index = interfaces_->itemData(item).isValid() ? interfaces_->itemData(item).toInt() : -1;
  engine_.StopLive();
  start_->setEnabled(index >= 0);
  stop_->setEnabled(index >= 0);
  ShowTraceRunning(false);
  listing_->clear();
  settings_.WriteInterfaceKey(index);
  interfaceIndex_ = -1;
  if (index >= 0) {
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

void CSettingsPage::OnReverseLookups() {
  const bool on = reverseLookups_->isChecked();
  engine_.Names().SetReverseLookups(on);
  settings_.WriteReverseLookups(on ? "1" : "0");
}

void CSettingsPage::OnMemoryLimit(int mebibytes) {
  // The next packet of the trace or replay running keeps to the new limit.
  engine_.SetPayloadLimit(static_cast<std::size_t>(mebibytes) << 20);
  settings_.WriteMemoryLimit(mebibytes);
}

void CSettingsPage::OnTcp() {
  if (!tcp_->isChecked()) udp_->setChecked(true);
  StoreSwitches();
}

void CSettingsPage::OnUdp() {
  if (!udp_->isChecked()) tcp_->setChecked(true);
  StoreSwitches();
}

void CSettingsPage::OnRole() { StoreSwitches(); }

void CSettingsPage::StoreSwitches() {
  ApplyCaptureOptions();
  settings_.WriteSwitch(remembered::kTcp, tcp_->isChecked());
  settings_.WriteSwitch(remembered::kUdp, udp_->isChecked());
  settings_.WriteNumber(remembered::kHostRole, server_->isChecked() ? 1 : 0);
}

void CSettingsPage::OnFilters() { EditFilters(nullptr); }

void CSettingsPage::EditFilters(const CIpAddr* host) {
  const CFilterRuleReport report = engine_.Filters().Report();
  CFilterDialog dialog(report.rules, this, report.hits);
  if (host != nullptr) dialog.FillIn(*host);
  if (dialog.exec() != QDialog::Accepted) return;
  engine_.Filters().Replace(dialog.Rules());
  ShowRules();
  SaveFilterRules(settings_, dialog.Rules());
}

bool CSettingsPage::ReplayFile(const QString& path, const QString& localAddresses,
                               std::unique_ptr<CCaptureInput> input) {
  return replay_->Replay(path, localAddresses, std::move(input));
}
