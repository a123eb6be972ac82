#pragma once
#include <QGroupBox>

class CSettingValues;
class CTrafficEngine;
class QCheckBox;
class QLineEdit;

// The outputs that leave this workstation: flow records for a collector
// ("HOST:PORT", "[addr]:port" for IPv6) and the recorded frames saved to a
// capture file. The collector takes effect at once; frame saving at the
// next Start. Choices are stored the moment they change. User-interface
// thread only.
class CFleetOutputGroup : public QGroupBox {
  Q_OBJECT

 public:
  CFleetOutputGroup(CTrafficEngine& engine, CSettingValues& settings, QWidget* parent = nullptr);

 private:
  void OnSendFlows();
  void OnSaveFrames();
  void OnChooseFile();
  void ApplyFrameSaving();

  CTrafficEngine& engine_;
  CSettingValues& settings_;
  QCheckBox* sendFlows_ = nullptr;
  QLineEdit* collector_ = nullptr;
  QCheckBox* saveFrames_ = nullptr;
  QLineEdit* framesFile_ = nullptr;
  QCheckBox* allFrames_ = nullptr;
};
