#pragma once
// Shared pieces of the desktop tests: a real engine with made-up interfaces,
// a real settings file in a temporary directory, the message boxes collected
// instead of shown (questions answered Yes), and packets recorded into the
// session the pages show.
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "desktop/app/settings_store.h"
#include "desktop/common/message_box.h"
#include "engine/traffic_engine.h"

struct CDesktopFixture {
  explicit CDesktopFixture(CSessionClock::WallClock wall = &CSessionClock::SystemSeconds)
      : engine(wall), settings(dir.filePath(QStringLiteral("trafalyn.ini"))) {
    SetMessageSink([this](const QString& text) { messages << text; });
    SetQuestionAnswerer([](const QString&) { return true; });
  }
  ~CDesktopFixture() {
    SetMessageSink({});
    SetQuestionAnswerer({});
  }

  // Appends an interface the way enumeration lists it; `device` need not
  // exist (a trace on it then fails like an unopenable device).
  int AddInterface(const std::string& device, std::vector<CIpAddr> addresses = {}) {
    auto record = std::make_unique<CInterfaceRecord>();
    record->label = std::to_string(engine.Interfaces().size() + 1) + ". " + device;
    record->deviceName = device;
    record->addresses = std::move(addresses);
    return engine.AddInterface(std::move(record));
  }

  QStringList Files(const QString& pattern) const { return QDir(dir.path()).entryList({pattern}); }

  QTemporaryDir dir;
  CTrafficEngine engine;
  CSettingsStore settings;
  QStringList messages;
};

// One packet of the local host 192.0.2.1 with `payload` bytes of 'x',
// recorded into the session shown. `seq` 0 makes it UDP.
inline void RecordPacket(CTrafficEngine& engine, EDirection direction, const CIpAddr& remote,
                         uint16_t remotePort, CTimeStamp time, int payload, uint32_t seq = 0,
                         uint16_t localPort = 40000) {
  CPacketFields f;
  f.direction = direction;
  f.protocol = seq != 0 ? 6 : 17;
  f.tcpFlags = seq != 0 ? 0x18 : 0;
  f.seq = seq;
  f.time = time;
  f.headerLength = seq != 0 ? 40 : 28;
  f.totalLength = f.headerLength + payload;
  f.local = CIpAddr(192, 0, 2, 1);
  f.remote = remote;
  f.localPort = localPort;
  f.remotePort = remotePort;
  f.ttl = 64;
  const std::vector<uint8_t> bytes(static_cast<std::size_t>(payload), 'x');
  engine.Session()->Record(f, bytes);
}
