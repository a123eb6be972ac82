#pragma once
#include <string>

// Where the engine's messages for the user go: a queue that the desktop
// shows in message boxes and the headless program prints. Post never waits
// for whoever shows the message and may be called from any thread, with the
// traffic lock held.
class CNotificationSink {
 public:
  virtual void Post(std::string message) = 0;

 protected:
  ~CNotificationSink() = default;
};
