#include "settings/settings_store.h"

namespace tev {

// In-memory store; the file-backed one replaces it.
int32_t SettingsStore::SelectChannel(int64_t key) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (current_index_ != -1 && channels_[current_index_].Key == key) return 0;
  StoreCurrentRecord();
  current_index_ = -1;
  for (size_t i = 0; i < channels_.size(); ++i) {
    if (channels_[i].Key == key) {
      current_index_ = static_cast<int32_t>(i);
      break;
    }
  }
  if (current_index_ == -1) {
    defaults_.Key = key;
    channels_.push_back(defaults_);
    snapshot_.push_back(defaults_);
    current_index_ = static_cast<int32_t>(channels_.size() - 1);
  }
  LoadCurrentRecord();
  return 1;
}

void SettingsStore::SnapshotChannels() {
  std::lock_guard<std::mutex> guard(mutex_);
  StoreCurrentRecord();
  snapshot_ = channels_;
}

void SettingsStore::RestoreChannels() {
  std::lock_guard<std::mutex> guard(mutex_);
  channels_ = snapshot_;
  LoadCurrentRecord();
}

DialogPosition SettingsStore::GetDialogPosition() const { return position_; }

void SettingsStore::SetDialogPosition(int32_t left, int32_t top, int32_t, int32_t) { position_ = {left, top}; }

void SettingsStore::StoreCurrentRecord() {
  if (current_index_ == -1) return;
  ChannelSettings& record = channels_[current_index_];
  record.Key = live_.Key;
  for (int i = 0; i < kSettingCount; ++i) record.Values[i] = Setting(i);
}

void SettingsStore::LoadCurrentRecord() {
  if (current_index_ == -1) return;
  const ChannelSettings& record = channels_[current_index_];
  live_.Key = record.Key;
  for (int i = 0; i < kSettingCount; ++i) SetSetting(i, record.Values[i]);
}

}  // namespace tev
