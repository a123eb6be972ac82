#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/notification_sink.h"

// Messages for the user from threads that may not show them: the log writer,
// device enumeration, the capture thread. The user interface takes them and
// shows each in a message box on its own thread; headless mode prints them.
//
// Post never waits for the user interface: it queues the text and calls the
// listener, which must only schedule work (a queued call), never block.
// Post may be called with the traffic lock held.
class CNotificationQueue final : public CNotificationSink {
 public:
  void Post(std::string message) override;
  std::vector<std::string> TakeAll();
  // Set before other threads run; called on the posting thread after a Post.
  void SetListener(std::function<void()> listener);

 private:
  std::mutex mutex_;
  std::vector<std::string> messages_;
  std::function<void()> listener_;
};
