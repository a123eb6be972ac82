#pragma once
#include <functional>
#include <memory>

#include <QObject>
#include <QString>

class CAppState;
class CReplayRunner;
class QWidget;
struct CReplayResult;

// "Open Capture File...": asks for a pcap or pcapng file and for the local
// host's addresses (offering the file's most frequent address), then replays
// the file into the traffic model on a thread of its own, so the pages can be
// used on a saved capture. The outcome is reported in a message box.
// User-interface thread only.
class CCaptureFileOpener : public QObject {
  Q_OBJECT

 public:
  // Dialogs and messages are parented to `owner`, which must outlive this
  // (the owner holds it; it is not a Qt child).
  CCaptureFileOpener(CAppState& state, QWidget* owner);
  // Stops a replay in progress and waits for it.
  ~CCaptureFileOpener() override;

  // Called just before a replay starts, to end a live trace.
  void SetBeforeStart(std::function<void()> beforeStart) { beforeStart_ = std::move(beforeStart); }

  // Replays `path` with `localAddresses` (dotted quads separated by blanks,
  // commas or semicolons) as the local host. False, with a message, when an
  // address cannot be read or none is given.
  bool Replay(const QString& path, const QString& localAddresses);
  void Stop();

 public slots:
  // The two dialogs, then Replay.
  void Open();

 signals:
  // The file being replayed; empty once the replay has ended.
  void ReplayFileChanged(const QString& path);

 private:
  void OnDone(const QString& path, const CReplayResult& result);

  CAppState& state_;
  QWidget* owner_;
  std::function<void()> beforeStart_;
  std::unique_ptr<CReplayRunner> runner_;
};
