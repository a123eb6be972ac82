#include "engine/notification_queue.h"

void CNotificationQueue::Post(std::string message) {
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(std::move(message));
    listener = listener_;
  }
  if (listener) listener();
}

std::vector<std::string> CNotificationQueue::TakeAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  out.swap(messages_);
  return out;
}

void CNotificationQueue::SetListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}
