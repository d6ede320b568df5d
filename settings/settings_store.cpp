#include "settings/settings_store.h"

#include <algorithm>
#include <utility>

#include "settings/settings_writer.h"

namespace tev {

SettingsStore::SettingsStore() : live_table_(SettingsTableFor(live_)) {}

void SettingsStore::SetPlatform(SettingsPlatform platform) {
  std::lock_guard<std::mutex> guard(mutex_);
  platform_ = std::move(platform);
}

void SettingsStore::LoadSettings(const std::string& module_base_name, ChannelKnownCallback callback) {
  std::lock_guard<std::mutex> guard(mutex_);
  channel_known_ = callback;
  paths_ = {};
  if (platform_.PathInputs) paths_ = BuildSettingsPath(module_base_name, platform_.PathInputs(), platform_.CreateFolder);
  current_index_ = -1;
  // A second load must not duplicate every record.
  channels_.clear();
  snapshot_.clear();

  std::string image;
  file_readable_ = !paths_.SettingsFilePath.empty() && platform_.ReadOrCreate &&
                   platform_.ReadOrCreate(paths_.SettingsFilePath, image);
  if (!file_readable_) image.clear();
  reader_.SetImage(std::move(image));

  position_.X = reader_.ReadInt32(kDialogSection, kDialogPosXKey, kNoDialogPosition);
  position_.Y = reader_.ReadInt32(kDialogSection, kDialogPosYKey, kNoDialogPosition);

  reader_.ReadSettingsTable(kDefaultSection, live_table_.data(), live_table_.size());
  defaults_ = live_;

  // Channel sections follow the last section found ("DEFAULT", else "DIALOG").
  std::string name;
  while (reader_.NextSection(name)) {
    const int64_t key = static_cast<int64_t>(ParseSettingsDecimal(name));
    if (key == 0) continue;
    live_.Key = key;
    reader_.ReadSettingsTable(name, live_table_.data(), live_table_.size());
    channels_.push_back(live_);
  }
  // Keeps the snapshot index for index with the list even before a dialog
  // takes one, so a restore can never leave CurrentIndex dangling.
  snapshot_ = channels_;
  IndexChannels();
}

void SettingsStore::SaveSettings() {
  std::vector<ChannelSettings> records;
  DialogPosition position;
  ChannelKnownCallback known;
  size_t output_limit;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    StoreCurrentRecord();
    records = channels_;
    position = position_;
    known = channel_known_;
    output_limit = output_limit_;
  }

  // The host is asked outside the lock: its callback may call back into us.
  SettingsWriter writer(output_limit);
  writer.WriteSectionHeader(kDialogSection);
  writer.WriteInt32(kDialogPosXKey, position.X);
  writer.WriteInt32(kDialogPosYKey, position.Y);
  ChannelSettings staging{};
  const auto table = SettingsTableFor(staging);
  for (const ChannelSettings& record : records) {
    // Without a callback nothing says a channel is gone: keep them all.
    const int32_t still_known = known ? known(record.Key) : 1;
    const bool reserved = record.Key >= 1 && record.Key <= 4;
    if (still_known == 0 && !reserved) continue;
    writer.WriteChannelHeader(record.Key);
    staging = record;
    writer.WriteSettingsTable(table.data(), table.size());
  }

  const OutputBuffer& output = writer.Buffer();
  // An incomplete text must never replace the file.
  if (output.Failed() || output.Text().empty()) return;
  std::lock_guard<std::mutex> guard(mutex_);
  if (paths_.SettingsFilePath.empty() || !file_readable_ || !platform_.Replace) return;
  if (output.Text() == reader_.Image()) return;
  platform_.Replace(paths_.SettingsFilePath, output.Text().data(), output.Text().size());
}

int32_t SettingsStore::SelectChannel(int64_t key) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (current_index_ != -1 && channels_[current_index_].Key == key) return 0;
  StoreCurrentRecord();
  const auto found = first_index_.find(key);
  if (found != first_index_.end()) {
    current_index_ = found->second;
  } else {
    // Room in both first, and room that doubles: running out of memory cannot
    // leave the snapshot out of step with the list, and the n-th new channel
    // costs what the first did.
    for (std::vector<ChannelSettings>* records : {&channels_, &snapshot_}) {
      if (records->size() == records->capacity()) records->reserve(std::max<size_t>(16, records->size() * 2));
    }
    first_index_.emplace(key, static_cast<int32_t>(channels_.size()));
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
  IndexChannels();
  if (current_index_ >= static_cast<int32_t>(channels_.size())) current_index_ = -1;
  LoadCurrentRecord();
}

DialogPosition SettingsStore::GetDialogPosition() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return position_;
}

void SettingsStore::SetDialogPosition(int32_t left, int32_t top) {
  std::lock_guard<std::mutex> guard(mutex_);
  position_ = {left, top};
}

void SettingsStore::StoreCurrentRecord() {
  if (current_index_ < 0 || current_index_ >= static_cast<int32_t>(channels_.size())) return;
  ChannelSettings& record = channels_[current_index_];
  record.Key = live_.Key;
  for (int i = 0; i < kSettingCount; ++i) record.Values[i] = Setting(i);
}

std::vector<int64_t> SettingsStore::ChannelKeys() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<int64_t> keys;
  keys.reserve(channels_.size());
  for (const ChannelSettings& record : channels_) keys.push_back(record.Key);
  return keys;
}

void SettingsStore::CopyDefaultValues(int32_t* values) const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::copy(defaults_.Values, defaults_.Values + kSettingCount, values);
}

void SettingsStore::IndexChannels() {
  first_index_.clear();
  first_index_.reserve(channels_.size());
  // emplace keeps the first record of a key, as a search from index 0 would.
  for (size_t i = 0; i < channels_.size(); ++i) first_index_.emplace(channels_[i].Key, static_cast<int32_t>(i));
}

void SettingsStore::LoadCurrentRecord() {
  if (current_index_ < 0 || current_index_ >= static_cast<int32_t>(channels_.size())) return;
  const ChannelSettings& record = channels_[current_index_];
  live_.Key = record.Key;
  for (int i = 0; i < kSettingCount; ++i) SetSetting(i, record.Values[i]);
}

}  // namespace tev
