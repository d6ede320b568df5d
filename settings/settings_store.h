// The live settings and the per-channel records behind them, loaded from the
// settings file at Init and written back at Shutdown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "abi/host_abi.h"
#include "settings/settings_index.h"
#include "settings/settings_path.h"
#include "settings/settings_reader.h"
#include "settings/settings_table.h"

namespace tev {

struct DialogPosition {
  int32_t X;
  int32_t Y;
};

// What the store needs from the system, injected so that the store itself is
// portable: the DLL passes its Win32 glue, tests pass temp folders.
struct SettingsPlatform {
  std::function<SettingsPathInputs()> PathInputs;
  std::function<void(const std::string& folder)> CreateFolder;
  // Whole-file read that creates a missing file empty; false when unreadable.
  std::function<bool(const std::string& path, std::string& content)> ReadOrCreate;
  // Replaces the file in one step; false (old file intact) on any failure.
  std::function<bool(const std::string& path, const char* data, size_t size)> Replace;
};

// Section and key names of the file.
constexpr char kDialogSection[] = "DIALOG";
constexpr char kDefaultSection[] = "DEFAULT";
constexpr char kDialogPosXKey[] = "DlgWndPosX";
constexpr char kDialogPosYKey[] = "DlgWndPosY";
constexpr int32_t kNoDialogPosition = -100;

class SettingsStore {
 public:
  SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Live values are shared by the frame thread and the dialog thread: each is
  // one aligned 32-bit value read and written whole.
  int32_t Setting(int index) const { return __atomic_load_n(&live_.Values[index], __ATOMIC_RELAXED); }
  void SetSetting(int index, int32_t value) { __atomic_store_n(&live_.Values[index], value, __ATOMIC_RELAXED); }

  // All 28 live values at once, under the lock that a channel switch or a
  // restore holds while it replaces them: a frame never mixes two records.
  void CopyLiveValues(int32_t* values) const {
    std::lock_guard<std::mutex> guard(mutex_);
    for (int i = 0; i < kSettingCount; ++i) values[i] = Setting(i);
  }

  // What a file holds, for tools that read settings without a host: the keys
  // of its channel records in file order, and the values of its defaults.
  std::vector<int64_t> ChannelKeys() const;
  void CopyDefaultValues(int32_t* values) const;

  // Given before LoadSettings; without it the settings live in memory only.
  void SetPlatform(SettingsPlatform platform);

  // Works out the file's place, reads it (creating it empty when missing) and
  // fills the dialog position, the defaults and the channel records.
  void LoadSettings(const std::string& module_base_name, ChannelKnownCallback callback);
  // Writes the dialog position and every record the host still knows (keys 1
  // to 4 always); leaves the file alone when its bytes would not change.
  void SaveSettings();

  // 1 when the live record now belongs to another channel, 0 when `key` is current.
  int32_t SelectChannel(int64_t key);
  void SnapshotChannels();
  void RestoreChannels();
  DialogPosition GetDialogPosition() const;
  // The dialog window's top left corner.
  void SetDialogPosition(int32_t left, int32_t top);

 private:
  // The tests' view of the inner state (tests/native/settings_store_test_peer.h).
  friend class SettingsStoreTestPeer;

  void StoreCurrentRecord();
  void LoadCurrentRecord();
  void IndexChannels();

  mutable std::mutex mutex_;
  // At one place for the module's lifetime: others keep pointers to its values.
  ChannelSettings live_{};
  std::array<SettingDescriptor, kSettingCount> live_table_;
  ChannelSettings defaults_{};
  std::vector<ChannelSettings> channels_;
  std::vector<ChannelSettings> snapshot_;
  // Key -> index of its first record in channels_: a host that meets many
  // new keys must not pay a search of every record for each one.
  std::unordered_map<int64_t, int32_t> first_index_;
  int32_t current_index_ = -1;
  DialogPosition position_{kNoDialogPosition, kNoDialogPosition};

  SettingsPlatform platform_;
  ChannelKnownCallback channel_known_ = nullptr;
  SettingsPaths paths_;
  // False when the file exists but could not be read: it is then never
  // overwritten by a text built without its records.
  bool file_readable_ = false;
  SettingsReader reader_;
  size_t output_limit_ = SIZE_MAX;
};

}  // namespace tev
