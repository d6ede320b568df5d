// The current channel's name: replaced by the frame thread on a channel
// switch, read by the dialog's thread, so every access takes its own lock.
#pragma once

#include <mutex>
#include <string>

namespace tev {

class ChannelName {
 public:
  void Set(const char* name) {
    std::lock_guard<std::mutex> guard(mutex_);
    name_ = name;
  }
  std::string Get() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return name_;
  }

 private:
  mutable std::mutex mutex_;
  std::string name_;
};

}  // namespace tev
