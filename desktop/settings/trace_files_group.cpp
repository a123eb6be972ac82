#include "desktop/settings/trace_files_group.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/common/named_widget.h"
#include "desktop/common/remembered_values.h"
#include "engine/traffic_engine.h"
#include "settings/setting_values.h"

CTraceFilesGroup::CTraceFilesGroup(CTrafficEngine& engine, CSettingValues& settings, QWidget* parent)
    : QGroupBox(QStringLiteral("Trace Files Settings"), parent), engine_(engine), settings_(settings),
      logDir_(engine.LogOptions().dir) {
  folderChooser_ = [this](const QString& start) {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Select Log File Dir"), start,
                                             QFileDialog::ShowDirsOnly);
  };
  // "&Log to File": F belongs to "&Filters...".
  logToFile_ = Named(new QCheckBox(QStringLiteral("&Log to File"), this), "logToFile");
  logDirEdit_ = Named(new QLineEdit(this), "logDir");
  chooseDir_ = Named(new QPushButton(QStringLiteral("V"), this), "chooseDir");
  chooseDir_->setAutoDefault(false);
  chooseDir_->setFixedWidth(chooseDir_->fontMetrics().horizontalAdvance(QStringLiteral("V")) + 16);
  chooseDir_->setToolTip(QStringLiteral("Choose the log directory; it is used from the next start"));
  stats_ = Named(new QCheckBox(QStringLiteral("Stats"), this), "stats");
  data_ = Named(new QCheckBox(QStringLiteral("Data"), this), "data");
  hex_ = Named(new QCheckBox(QStringLiteral("Hex"), this), "hex");
  stats_->setToolTip(QStringLiteral("Write the statistics log: one CSV line per conversation"));
  data_->setToolTip(QStringLiteral("Write the trace log: every recorded packet's header and data"));
  hex_->setToolTip(QStringLiteral("Write the trace log's data as hex dumps instead of text"));
  auto* dirRow = new QHBoxLayout;
  dirRow->setSpacing(2);
  dirRow->addWidget(logDirEdit_, 1);
  dirRow->addWidget(chooseDir_);
  auto* optionRow = new QHBoxLayout;
  optionRow->addWidget(stats_);
  optionRow->addWidget(data_);
  optionRow->addWidget(hex_);
  optionRow->addStretch(1);
  auto* box = new QVBoxLayout(this);
  box->addWidget(logToFile_);
  box->addWidget(new QLabel(QStringLiteral("Log File Directory:"), this));
  box->addLayout(dirRow);
  box->addLayout(optionRow);
  box->addStretch(1);

  const CLogOptions options = engine_.LogOptions();
  logToFile_->setChecked(options.enabled);
  logDirEdit_->setText(QString::fromStdString(logDir_));
  data_->setChecked(options.data);
  stats_->setChecked(options.stats || !options.data);
  hex_->setChecked(options.hex && options.data);
  hex_->setEnabled(options.data);
  engine_.SetLogOptions({logToFile_->isChecked(), stats_->isChecked(), data_->isChecked(),
                         hex_->isChecked(), logDir_});

  connect(logToFile_, &QCheckBox::clicked, this, &CTraceFilesGroup::OnLogToFile);
  connect(chooseDir_, &QPushButton::clicked, this, &CTraceFilesGroup::OnChooseLogDir);
  connect(stats_, &QCheckBox::clicked, this, &CTraceFilesGroup::OnStats);
  connect(data_, &QCheckBox::clicked, this, &CTraceFilesGroup::OnData);
  connect(hex_, &QCheckBox::clicked, this, &CTraceFilesGroup::OnHex);
}

void CTraceFilesGroup::SetFolderChooser(std::function<QString(const QString&)> chooser) {
  folderChooser_ = std::move(chooser);
}

void CTraceFilesGroup::Apply() {
  // Switching logging off writes the final pass; switching it on starts new files.
  engine_.SetLogOptions({logToFile_->isChecked(), stats_->isChecked(), data_->isChecked(),
                         hex_->isChecked(), logDir_});
  settings_.WriteSwitch(remembered::kLogStats, stats_->isChecked());
  settings_.WriteSwitch(remembered::kLogData, data_->isChecked());
  settings_.WriteSwitch(remembered::kLogHex, hex_->isChecked());
}

void CTraceFilesGroup::OnLogToFile() {
  engine_.SetLogOptions({logToFile_->isChecked(), stats_->isChecked(), data_->isChecked(),
                         hex_->isChecked(), logDir_});
  settings_.WriteAutoLog(logToFile_->isChecked() ? "1" : "0");
}

void CTraceFilesGroup::OnChooseLogDir() {
  const QString chosen = folderChooser_(logDirEdit_->text());
  if (chosen.isEmpty()) return;
  logDirEdit_->setText(chosen);
  // Takes effect at the next start; this run keeps logging where it began.
  settings_.WriteLogDir(chosen.toStdString());
}

void CTraceFilesGroup::OnStats() {
  if (!stats_->isChecked()) {
    data_->setChecked(true);
    hex_->setEnabled(true);
  }
  Apply();
}

void CTraceFilesGroup::OnData() {
  if (data_->isChecked()) {
    hex_->setEnabled(true);
  } else {
    hex_->setChecked(false);
    hex_->setEnabled(false);
    stats_->setChecked(true);
  }
  Apply();
}

void CTraceFilesGroup::OnHex() { Apply(); }
