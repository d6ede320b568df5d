// Test support: copies of the settings store's inner state, taken under its
// lock, and the writer's capacity cap that simulates running out of memory.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "settings/settings_store.h"

namespace tev {

class SettingsStoreTestPeer {
 public:
  static SettingsPaths Paths(const SettingsStore& store) { return Read(store, store.paths_); }
  static std::vector<ChannelSettings> Channels(const SettingsStore& store) { return Read(store, store.channels_); }
  static std::vector<ChannelSettings> Snapshot(const SettingsStore& store) { return Read(store, store.snapshot_); }
  static ChannelSettings Defaults(const SettingsStore& store) { return Read(store, store.defaults_); }
  static int32_t CurrentIndex(const SettingsStore& store) { return Read(store, store.current_index_); }
  static void SetOutputCapacityLimit(SettingsStore& store, size_t limit) {
    std::lock_guard<std::mutex> guard(store.mutex_);
    store.output_limit_ = limit;
  }

 private:
  template <class T>
  static T Read(const SettingsStore& store, const T& member) {
    std::lock_guard<std::mutex> guard(store.mutex_);
    return member;
  }
};

}  // namespace tev
