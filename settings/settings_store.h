// The live settings and the per-channel records behind them.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "plugin/host_abi.h"
#include "settings/settings_index.h"

namespace tev {

struct ChannelSettings {
  int64_t Key;
  int32_t Values[kSettingCount];
};

struct DialogPosition {
  int32_t X;
  int32_t Y;
};

class SettingsStore {
 public:
  // Live values are shared by the frame thread and the dialog thread: each is
  // one aligned 32-bit value read and written whole.
  int32_t Setting(int index) const { return __atomic_load_n(&live_.Values[index], __ATOMIC_RELAXED); }
  void SetSetting(int index, int32_t value) { __atomic_store_n(&live_.Values[index], value, __ATOMIC_RELAXED); }

  // 1 when the live record now belongs to another channel, 0 when `key` is current.
  int32_t SelectChannel(int64_t key);
  void SnapshotChannels();
  void RestoreChannels();
  DialogPosition GetDialogPosition() const;
  void SetDialogPosition(int32_t left, int32_t top, int32_t right, int32_t bottom);

  // Runs f under the store's lock; used to hand the channel name across threads.
  template <class F>
  void Locked(F&& f) {
    std::lock_guard<std::mutex> guard(mutex_);
    f();
  }

 private:
  void StoreCurrentRecord();
  void LoadCurrentRecord();

  std::mutex mutex_;
  ChannelSettings live_{};
  ChannelSettings defaults_{};
  std::vector<ChannelSettings> channels_;
  std::vector<ChannelSettings> snapshot_;
  int32_t current_index_ = -1;
  DialogPosition position_{-100, -100};
};

}  // namespace tev
