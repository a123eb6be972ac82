#include "desktop/settings/fleet_output_group.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

#include "desktop/common/message_box.h"
#include "engine/traffic_engine.h"
#include "flows/collector_address.h"
#include "settings/setting_values.h"

namespace {

const char kCollectorValue[] = "IpfixCollector";
const char kSendFlowsValue[] = "SendFlows";
const char kFramesFileValue[] = "SaveFramesFile";
const char kSaveFramesValue[] = "SaveFrames";
const char kAllFramesValue[] = "SaveAllFrames";

QString Stored(CSettingValues& settings, const char* name) {
  return QString::fromStdString(settings.ReadText(name, ""));
}

}  // namespace

CFleetOutputGroup::CFleetOutputGroup(CTrafficEngine& engine, CSettingValues& settings,
                                     QWidget* parent)
    : QGroupBox(QStringLiteral("Flows and Saved Frames"), parent), engine_(engine),
      settings_(settings) {
  // "flo&ws": C belongs to "Open &Capture File...".
  sendFlows_ = new QCheckBox(QStringLiteral("Send flo&ws to collector:"), this);
  sendFlows_->setObjectName(QStringLiteral("sendFlows"));
  collector_ = new QLineEdit(Stored(settings, kCollectorValue), this);
  collector_->setObjectName(QStringLiteral("collector"));
  collector_->setPlaceholderText(QStringLiteral("host:port"));
  saveFrames_ = new QCheckBox(QStringLiteral("Save frames to file:"), this);
  saveFrames_->setObjectName(QStringLiteral("saveFrames"));
  framesFile_ = new QLineEdit(Stored(settings, kFramesFileValue), this);
  framesFile_->setObjectName(QStringLiteral("framesFile"));
  auto* choose = new QPushButton(QStringLiteral("..."), this);
  choose->setAutoDefault(false);
  allFrames_ = new QCheckBox(QStringLiteral("All frames, not only the recorded ones"), this);
  allFrames_->setObjectName(QStringLiteral("allFrames"));
  allFrames_->setChecked(Stored(settings, kAllFramesValue) == QLatin1String("1"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(sendFlows_, 0, 0);
  grid->addWidget(collector_, 0, 1, 1, 2);
  grid->addWidget(saveFrames_, 1, 0);
  grid->addWidget(framesFile_, 1, 1);
  grid->addWidget(choose, 1, 2);
  grid->addWidget(allFrames_, 2, 1, 1, 2);
  grid->setColumnStretch(1, 1);

  connect(sendFlows_, &QCheckBox::clicked, this, &CFleetOutputGroup::OnSendFlows);
  connect(saveFrames_, &QCheckBox::clicked, this, &CFleetOutputGroup::OnSaveFrames);
  connect(allFrames_, &QCheckBox::clicked, this, [this] {
    settings_.WriteValue(kAllFramesValue, allFrames_->isChecked() ? "1" : "0");
    ApplyFrameSaving();
  });
  connect(choose, &QPushButton::clicked, this, &CFleetOutputGroup::OnChooseFile);

  if (Stored(settings, kSendFlowsValue) == QLatin1String("1")) {
    sendFlows_->setChecked(true);
    OnSendFlows();
  }
  saveFrames_->setChecked(Stored(settings, kSaveFramesValue) == QLatin1String("1") &&
                          !framesFile_->text().isEmpty());
  ApplyFrameSaving();
}

void CFleetOutputGroup::OnSendFlows() {
  if (!sendFlows_->isChecked()) {
    engine_.Flows().Stop();
    settings_.WriteValue(kSendFlowsValue, "0");
    collector_->setEnabled(true);
    return;
  }
  std::string why;
  const auto address = CCollectorAddress::Parse(collector_->text().trimmed().toStdString(), &why);
  if (!address) {
    sendFlows_->setChecked(false);
    ShowMessage(this, QString::fromStdString(why));
    return;
  }
  engine_.Flows().Start(*address);
  collector_->setEnabled(false);
  settings_.WriteValue(kCollectorValue, collector_->text().trimmed().toStdString());
  settings_.WriteValue(kSendFlowsValue, "1");
}

void CFleetOutputGroup::OnSaveFrames() {
  if (saveFrames_->isChecked() && framesFile_->text().trimmed().isEmpty()) OnChooseFile();
  if (framesFile_->text().trimmed().isEmpty()) saveFrames_->setChecked(false);
  settings_.WriteValue(kSaveFramesValue, saveFrames_->isChecked() ? "1" : "0");
  ApplyFrameSaving();
}

void CFleetOutputGroup::OnChooseFile() {
  const QString chosen = QFileDialog::getSaveFileName(
      this, QStringLiteral("Save Frames To"), framesFile_->text(),
      QStringLiteral("Capture files (*.pcap);;All files (*)"), nullptr,
      QFileDialog::DontConfirmOverwrite);
  if (chosen.isEmpty()) return;
  framesFile_->setText(chosen);
  settings_.WriteValue(kFramesFileValue, chosen.toStdString());
  ApplyFrameSaving();
}

void CFleetOutputGroup::ApplyFrameSaving() {
  CCaptureController::CFrameSaving saving;
  if (saveFrames_->isChecked()) saving.path = framesFile_->text().trimmed().toStdString();
  saving.allFrames = allFrames_->isChecked();
  // Taken by the next trace; a running one keeps what it started with.
  engine_.Capture().SetFrameSaving(saving);
}
