#pragma once
#include <functional>

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a call of `onSignal` on the user-interface
// thread (through a self-pipe the signal handler writes to). One instance at
// a time; the previous handlers return when it is destroyed.
class CTerminationSignal : public QObject {
  Q_OBJECT

 public:
  explicit CTerminationSignal(std::function<void()> onSignal, QObject* parent = nullptr);
  ~CTerminationSignal() override;

 private:
  void OnReadable();

  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
};
