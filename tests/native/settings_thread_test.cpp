// Frames and the dialog on two threads: channel switches and the frame's
// snapshot of the live values against the dialog's snapshot, restore, edits
// and the channel-name hand-over. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "processing/channel_name.h"
#include "settings/settings_store.h"
#include "tests/native/settings_store_test_peer.h"

namespace tev {
namespace {

TEST(SettingsStoreThreadTest, ChannelSwitchesRaceTheDialogSafely) {
  SettingsStore store;
  store.LoadSettings("ZRL_TEVPlugin", nullptr);  // no platform: memory only
  ChannelName channel_name;
  std::atomic<bool> done{false};
  constexpr int kFrames = 20000;

  std::thread frames([&] {
    for (int frame = 0; frame < kFrames; ++frame) {
      // Mostly the same channel, now and then a switch, sometimes a new one.
      const int64_t key = frame % 50 < 45 ? 1 : 2 + (frame / 50) % 40;
      if (store.SelectChannel(key)) {
        channel_name.Set(("channel " + std::to_string(key)).c_str());
      }
      int32_t values[kSettingCount];
      store.CopyLiveValues(values);
      volatile int32_t sink = values[Brightness] + values[StepLevelIndex(8)];
      (void)sink;
    }
    done = true;
  });

  int rounds = 0;
  while (!done || rounds < 100) {
    store.SnapshotChannels();
    store.SetSetting(Brightness, rounds);
    store.SetSetting(StepLevelIndex(8), -rounds);
    const std::string shown = channel_name.Get();
    if (rounds % 3 == 0) store.RestoreChannels();
    store.SetDialogPosition(rounds, rounds);
    (void)store.GetDialogPosition();
    ++rounds;
  }
  frames.join();

  // The snapshot stays index for index with the list, keys alike.
  const auto channels = SettingsStoreTestPeer::Channels(store);
  const auto snapshot = SettingsStoreTestPeer::Snapshot(store);
  ASSERT_EQ(channels.size(), snapshot.size());
  for (size_t i = 0; i < channels.size(); ++i) EXPECT_EQ(channels[i].Key, snapshot[i].Key);
  EXPECT_EQ(channels.size(), 41u);  // key 1 and 40 others, each once
  ASSERT_GE(SettingsStoreTestPeer::CurrentIndex(store), 0);
  EXPECT_EQ(channels[SettingsStoreTestPeer::CurrentIndex(store)].Key, 41);  // the last frame's channel
}

}  // namespace
}  // namespace tev
