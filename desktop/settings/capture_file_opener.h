#pragma once
#include <functional>
#include <memory>

#include <QObject>
#include <QString>

#include "engine/capture_input.h"

class CTrafficEngine;
class QWidget;
struct CReplayResult;

// "Open Capture File...": asks for a pcap or pcapng file and for the local
// host's addresses (offering the file's most frequent address, and asking
// again while what was typed is not an address list), asks before the data
// shown is cleared, then replays the file in a session of its own on the
// engine's replay thread, so the pages can be used on a saved capture. The
// outcome is reported in a message box. User-interface thread only.
class CCaptureFileOpener : public QObject {
  Q_OBJECT

 public:
  // Dialogs and messages are parented to `owner`, which must outlive this
  // (the owner holds it; it is not a Qt child).
  CCaptureFileOpener(CTrafficEngine& engine, QWidget* owner);

  // Called just before a replay starts (the live trace it ends).
  void SetBeforeStart(std::function<void()> beforeStart) { beforeStart_ = std::move(beforeStart); }

  // Replays `path` with `localAddresses` (dotted quads separated by blanks,
  // commas or semicolons) as the local host, without asking anything. False,
  // with a message, when an address cannot be read or none is given.
  // `input` is `path` opened already (when its local address was guessed);
  // null opens it here.
  bool Replay(const QString& path, const QString& localAddresses,
              std::unique_ptr<CCaptureInput> input = nullptr);

  // True when there is no data to lose, or the user agrees to clear it.
  bool ConfirmClear();

 public slots:
  // The dialogs, then Replay.
  void Open();

 private:
  void OnDone(const QString& path, const CReplayResult& result);

  CTrafficEngine& engine_;
  QWidget* owner_;
  std::function<void()> beforeStart_;
};
