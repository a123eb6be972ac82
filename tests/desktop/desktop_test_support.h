#pragma once
// Shared pieces of the desktop tests: a real settings file in a temporary
// directory, the shared state with made-up interfaces, and a collector for
// the texts the program would show in message boxes.
#include <QApplication>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "engine/app_state.h"
#include "desktop/app/settings_store.h"
#include "engine/capture_controller.h"
#include "desktop/common/message_box.h"

struct CDesktopFixture {
  CDesktopFixture()
      : settings(std::make_unique<CSettingsStore>(dir.filePath(QStringLiteral("trafalyn.ini")))),
        state(std::make_unique<CAppState>()),
        capture(std::make_unique<CCaptureController>(*state)) {
    SetMessageSink([this](const QString& text) { messages << text; });
  }
  ~CDesktopFixture() {
    capture.reset();
    SetMessageSink({});
  }

  // Appends an interface the way enumeration would list it. `device` need
  // not exist: starting a trace on it fails like an unopenable device.
  CInterfaceRecord& AddInterface(const std::string& device, uint8_t lastOctet) {
    auto record = std::make_unique<CInterfaceRecord>();
    record->label = std::to_string(state->interfaces.size() + 1) + ". " + device;
    record->deviceName = device;
    record->AddAddress(192, 168, 7, lastOctet);
    record->AddAddress(10, 0, 0, lastOctet);
    state->interfaces.push_back(std::move(record));
    return *state->interfaces.back();
  }

  // Appends a real device with its one address, as enumeration lists it,
  // for the tests that trace live traffic on it.
  CInterfaceRecord& AddLiveInterface(const std::string& device, uint8_t a, uint8_t b, uint8_t c,
                                     uint8_t d) {
    auto record = std::make_unique<CInterfaceRecord>();
    record->label = std::to_string(state->interfaces.size() + 1) + ". " + device;
    record->deviceName = device;
    record->AddAddress(a, b, c, d);
    state->interfaces.push_back(std::move(record));
    return *state->interfaces.back();
  }

  QTemporaryDir dir;
  std::unique_ptr<CSettingsStore> settings;
  std::unique_ptr<CAppState> state;
  std::unique_ptr<CCaptureController> capture;
  QStringList messages;
};
