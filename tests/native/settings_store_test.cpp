// The settings store over real files in a temporary host folder: loading,
// channel switching, snapshot and restore, saving, and saves that fail.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/settings_store.h"
#include "tests/native/settings_file_io.h"
#include "tests/native/settings_store_test_peer.h"

namespace tev {
namespace {

namespace fs = std::filesystem;

std::string ToUnix(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

std::string ToWindows(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteBytes(const fs::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A host folder in a fresh temporary directory; the store sees it through the
// same backslash paths the Win32 glue gives it.
class TempHost {
 public:
  TempHost() {
    std::string pattern = (fs::temp_directory_path() / "tev-settings-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
  }
  ~TempHost() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Plugins() const { return root_ / "Plugins"; }
  fs::path File() const { return Plugins() / "ZRL_TEVPlugin.ini"; }
  void WriteSettings(const std::string& text) const {
    fs::create_directories(Plugins());
    WriteBytes(File(), text);
  }

  SettingsPlatform Platform() {
    SettingsPlatform platform;
    platform.PathInputs = [this] {
      SettingsPathInputs inputs;
      inputs.VersionKnown = version_known;
      inputs.PlatformId = 2;
      inputs.ExecutablePath = ToWindows(root_.string()) + "\\tevhost.exe";
      inputs.CommandLine = "tevhost.exe";
      return inputs;
    };
    platform.CreateFolder = [](const std::string& folder) {
      std::error_code ignored;
      fs::create_directory(ToUnix(folder), ignored);
    };
    platform.ReadOrCreate = [this](const std::string& path, std::string& content) {
      return !fail_read && ReadSettingsFileOrCreate(ToUnix(path), content);
    };
    platform.Replace = [this](const std::string& path, const char* data, size_t size) {
      ++replace_calls;
      if (fail_replace) {
        // A write that dies halfway: part of the text reaches the temporary file only.
        WriteBytes(ToUnix(path) + ".tmp", std::string(data, size / 2));
        return false;
      }
      return ReplaceSettingsFile(ToUnix(path), data, size);
    };
    return platform;
  }

  bool version_known = true;
  bool fail_read = false;
  bool fail_replace = false;
  int replace_calls = 0;

 private:
  fs::path root_;
};

// The host's answer to "do you still know this channel?".
std::vector<int64_t> g_asked;
int32_t g_known_answer = 1;
int32_t TEV_CDECL KnownCallback(int64_t key) {
  g_asked.push_back(key);
  return g_known_answer;
}

std::string Section(const std::string& name, const std::vector<std::pair<int, int32_t>>& values = {}) {
  std::string text = "[" + name + "]\r\n";
  for (int i = 0; i < kSettingCount; ++i) {
    int32_t value = 0;
    for (const auto& [index, v] : values) {
      if (index == i) value = v;
    }
    text += std::string(kSettingsTable[i].Name) + "=" +
            (kSettingsTable[i].Type == TypeU32 ? std::to_string(static_cast<uint32_t>(value)) : std::to_string(value)) +
            "\r\n";
  }
  return text;
}

std::string Dialog(int32_t x, int32_t y) {
  return "[DIALOG]\r\nDlgWndPosX=" + std::to_string(x) + "\r\nDlgWndPosY=" + std::to_string(y) + "\r\n";
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_asked.clear();
    g_known_answer = 1;
  }
  void Load(SettingsStore& store) {
    store.SetPlatform(host.Platform());
    store.LoadSettings("ZRL_TEVPlugin", KnownCallback);
  }
  std::vector<int64_t> Keys(const SettingsStore& store) {
    std::vector<int64_t> keys;
    for (const ChannelSettings& record : SettingsStoreTestPeer::Channels(store)) keys.push_back(record.Key);
    return keys;
  }

  TempHost host;
};

TEST_F(SettingsStoreTest, ExampleFileIsWrittenByteForByte) {
  SettingsStore store;
  Load(store);
  store.SelectChannel(1001);
  store.SetSetting(ProcEnable, 1);
  store.SetSetting(StepEnableIndex(1), 1);
  store.SetSetting(StepShiftIndex(1), 25);
  store.SetSetting(StepLevelIndex(1), -30);
  store.SetDialogPosition(412, 230);
  store.SaveSettings();
  const std::string expected =
      "[DIALOG]\r\nDlgWndPosX=412\r\nDlgWndPosY=230\r\n[1001]\r\nProcEnable=1\r\nCorrEnable=0\r\n"
      "Brightness=0\r\nContrast=0\r\nStep1_Enable=1\r\nStep1_Shift=25\r\nStep1_Level=-30\r\n"
      "Step2_Enable=0\r\nStep2_Shift=0\r\nStep2_Level=0\r\nStep3_Enable=0\r\nStep3_Shift=0\r\n"
      "Step3_Level=0\r\nStep4_Enable=0\r\nStep4_Shift=0\r\nStep4_Level=0\r\nStep5_Enable=0\r\n"
      "Step5_Shift=0\r\nStep5_Level=0\r\nStep6_Enable=0\r\nStep6_Shift=0\r\nStep6_Level=0\r\n"
      "Step7_Enable=0\r\nStep7_Shift=0\r\nStep7_Level=0\r\nStep8_Enable=0\r\nStep8_Shift=0\r\n"
      "Step8_Level=0\r\n";
  EXPECT_EQ(ReadBytes(host.File()), expected);
  EXPECT_EQ(g_asked, std::vector<int64_t>{1001});
}

TEST_F(SettingsStoreTest, MissingFileAndFolderAreCreatedEmpty) {
  SettingsStore store;
  Load(store);
  ASSERT_TRUE(fs::is_regular_file(host.File()));
  EXPECT_EQ(fs::file_size(host.File()), 0u);
  EXPECT_EQ(store.GetDialogPosition().X, -100);
  EXPECT_EQ(store.GetDialogPosition().Y, -100);
  EXPECT_TRUE(SettingsStoreTestPeer::Channels(store).empty());
  EXPECT_EQ(SettingsStoreTestPeer::CurrentIndex(store), -1);
}

TEST_F(SettingsStoreTest, DefaultsFeedNewChannelsAndEditsFollowTheirChannel) {
  host.WriteSettings(Dialog(10, -100) + Section("DEFAULT", {{ProcEnable, 1}, {Brightness, 7}}));
  SettingsStore store;
  Load(store);
  EXPECT_EQ(store.GetDialogPosition().X, 10);
  EXPECT_EQ(store.GetDialogPosition().Y, -100);
  EXPECT_EQ(SettingsStoreTestPeer::Defaults(store).Values[Brightness], 7);

  const int64_t a = 0x100000005LL, b = -3;
  EXPECT_EQ(store.SelectChannel(a), 1);
  EXPECT_EQ(store.Setting(Brightness), 7);
  store.SetSetting(Brightness, 50);
  EXPECT_EQ(store.SelectChannel(a), 0);  // same key: nothing changes
  EXPECT_EQ(store.Setting(Brightness), 50);
  EXPECT_EQ(store.SelectChannel(b), 1);
  EXPECT_EQ(store.Setting(Brightness), 7);
  EXPECT_EQ(store.Setting(ProcEnable), 1);
  store.SetSetting(Contrast, -9);
  EXPECT_EQ(store.SelectChannel(a), 1);
  EXPECT_EQ(store.Setting(Brightness), 50);
  EXPECT_EQ(store.Setting(Contrast), 0);
  EXPECT_EQ(Keys(store), (std::vector<int64_t>{a, b}));
  EXPECT_EQ(SettingsStoreTestPeer::Channels(store)[1].Values[Contrast], -9);
}

TEST_F(SettingsStoreTest, WhichSectionsBecomeRecords) {
  host.WriteSettings(Dialog(1, 2) + Section("DEFAULT", {{Brightness, 9}}) + Section("0") + Section("abc") +
                     Section("12abc", {{Contrast, 12}}) + Section("-7", {{Contrast, -7}}) +
                     "[20]\r\nProcEnable=1\r\n" + Section("DIALOG") + Section("12", {{Contrast, 99}}));
  SettingsStore store;
  Load(store);
  EXPECT_EQ(Keys(store), (std::vector<int64_t>{12, -7, 20, 12}));
  const auto records = SettingsStoreTestPeer::Channels(store);
  // A section without a key line gets 0, not the DEFAULT value.
  EXPECT_EQ(records[2].Values[ProcEnable], 1);
  EXPECT_EQ(records[2].Values[Brightness], 0);
  // The live record holds the last section read and belongs to no record yet.
  EXPECT_EQ(store.Setting(Contrast), 99);
  EXPECT_EQ(SettingsStoreTestPeer::CurrentIndex(store), -1);
  // Duplicate keys: the first record is used...
  EXPECT_EQ(store.SelectChannel(12), 1);
  EXPECT_EQ(SettingsStoreTestPeer::CurrentIndex(store), 0);
  EXPECT_EQ(store.Setting(Contrast), 12);

  store.SaveSettings();
  // ...and both are written back under the number.
  const std::string saved = ReadBytes(host.File());
  EXPECT_EQ(saved, Dialog(1, 2) + Section("12", {{Contrast, 12}}) + Section("-7", {{Contrast, -7}}) +
                       Section("20", {{ProcEnable, 1}}) + Section("12", {{Contrast, 99}}));
}

TEST_F(SettingsStoreTest, SectionsBeforeDefaultAreNotLoaded) {
  host.WriteSettings(Section("5") + Dialog(3, 4) + Section("6") + Section("DEFAULT") + Section("7"));
  SettingsStore store;
  Load(store);
  EXPECT_EQ(Keys(store), std::vector<int64_t>{7});
  store.SaveSettings();
  EXPECT_EQ(ReadBytes(host.File()), Dialog(3, 4) + Section("7"));
}

TEST_F(SettingsStoreTest, FirstLineChannelWithoutFixedSectionsIsNotLoaded) {
  host.WriteSettings(Section("5") + Section("6"));
  SettingsStore store;
  Load(store);
  EXPECT_EQ(Keys(store), std::vector<int64_t>{6});
}

TEST_F(SettingsStoreTest, HostForgettingEveryChannelKeepsOnlyKeysOneToFour) {
  std::string text = Dialog(5, 6);
  for (int64_t key : {0LL, 1LL, 2LL, 3LL, 4LL, 5LL, -1LL}) text += Section(std::to_string(key));
  host.WriteSettings(text);
  SettingsStore store;
  Load(store);
  store.SelectChannel(0);  // key 0 lives in memory like any other
  g_known_answer = 0;
  store.SaveSettings();
  EXPECT_EQ(g_asked, (std::vector<int64_t>{1, 2, 3, 4, 5, -1, 0}));
  EXPECT_EQ(ReadBytes(host.File()), Dialog(5, 6) + Section("1") + Section("2") + Section("3") + Section("4"));
}

TEST_F(SettingsStoreTest, KeyZeroIsWrittenWhenKnownAndSkippedOnLoad) {
  SettingsStore store;
  Load(store);
  store.SelectChannel(0);
  store.SaveSettings();
  EXPECT_EQ(ReadBytes(host.File()), Dialog(-100, -100) + Section("0"));
  SettingsStore again;
  Load(again);
  EXPECT_TRUE(SettingsStoreTestPeer::Channels(again).empty());
}

TEST_F(SettingsStoreTest, CancelUndoesEveryEditAndKeepsNewChannels) {
  host.WriteSettings(Dialog(0, 0) + Section("DEFAULT", {{Brightness, 3}}) + Section("1", {{Contrast, 1}}) +
                     Section("2", {{Contrast, 2}}));
  SettingsStore store;
  Load(store);
  store.SelectChannel(1);
  store.SetSetting(Contrast, 11);  // before the dialog opens: kept
  store.SnapshotChannels();
  store.SetSetting(Contrast, 111);
  store.SelectChannel(2);
  store.SetSetting(Contrast, 222);
  store.SelectChannel(77);  // a new channel arrives while the dialog is open
  store.SetSetting(Brightness, 777);
  store.RestoreChannels();

  EXPECT_EQ(SettingsStoreTestPeer::CurrentIndex(store), 2);
  EXPECT_EQ(Keys(store), (std::vector<int64_t>{1, 2, 77}));
  EXPECT_EQ(store.Setting(Brightness), 3);  // the new channel's default record
  const auto records = SettingsStoreTestPeer::Channels(store);
  EXPECT_EQ(records[0].Values[Contrast], 11);
  EXPECT_EQ(records[1].Values[Contrast], 2);
  EXPECT_EQ(records[2].Values[Brightness], 3);
  EXPECT_EQ(SettingsStoreTestPeer::Snapshot(store).size(), records.size());
}

TEST_F(SettingsStoreTest, UnchangedSaveLeavesTheFileAlone) {
  const std::string text = Dialog(7, 8) + Section("3", {{Brightness, -4}});
  host.WriteSettings(text);
  const auto old_time = fs::last_write_time(host.File()) - std::chrono::hours(1);
  fs::last_write_time(host.File(), old_time);
  SettingsStore store;
  Load(store);
  store.SelectChannel(3);
  store.SaveSettings();
  EXPECT_EQ(host.replace_calls, 0);
  EXPECT_EQ(ReadBytes(host.File()), text);
  EXPECT_EQ(fs::last_write_time(host.File()), old_time);
}

TEST_F(SettingsStoreTest, DefaultSectionIsAlwaysDroppedOnSave) {
  host.WriteSettings(Dialog(7, 8) + Section("DEFAULT", {{Brightness, 5}}) + Section("3"));
  SettingsStore store;
  Load(store);
  store.SaveSettings();
  EXPECT_EQ(host.replace_calls, 1);
  EXPECT_EQ(ReadBytes(host.File()), Dialog(7, 8) + Section("3"));
}

TEST_F(SettingsStoreTest, WithoutACallbackNoChannelIsForgotten) {
  host.WriteSettings(Dialog(1, 1) + Section("50") + Section("60"));
  SettingsStore store;
  store.SetPlatform(host.Platform());
  store.LoadSettings("ZRL_TEVPlugin", nullptr);
  store.SaveSettings();
  EXPECT_EQ(ReadBytes(host.File()), Dialog(1, 1) + Section("50") + Section("60"));
}

TEST_F(SettingsStoreTest, FailedSavesLeaveTheOldFile) {
  struct Case {
    const char* what;
    bool fail_replace;
    size_t output_limit;
  };
  const Case cases[] = {
      {"the write dies halfway", true, SIZE_MAX},
      {"the text does not fit in memory", false, 150000},
  };
  for (const Case& c : cases) {
    std::string text = Dialog(1, 1);
    for (int key = 1; key <= 400; ++key) text += Section(std::to_string(key + 10));
    ASSERT_GT(text.size(), 150000u);
    host.WriteSettings(text);
    host.fail_replace = c.fail_replace;
    SettingsStore store;
    SettingsStoreTestPeer::SetOutputCapacityLimit(store, c.output_limit);
    Load(store);
    store.SelectChannel(5);  // a change, so the file would be rewritten
    store.SaveSettings();
    EXPECT_EQ(ReadBytes(host.File()), text) << c.what;
  }
}

TEST_F(SettingsStoreTest, UnreadableFileIsNeverOverwritten) {
  host.WriteSettings(Dialog(1, 1) + Section("5"));
  host.fail_read = true;
  SettingsStore store;
  Load(store);
  EXPECT_TRUE(SettingsStoreTestPeer::Channels(store).empty());
  store.SelectChannel(6);
  store.SaveSettings();
  EXPECT_EQ(host.replace_calls, 0);
  EXPECT_EQ(ReadBytes(host.File()), Dialog(1, 1) + Section("5"));
}

TEST_F(SettingsStoreTest, WithoutAPathTheSettingsLiveInMemory) {
  host.version_known = false;
  SettingsStore store;
  Load(store);
  EXPECT_TRUE(SettingsStoreTestPeer::Paths(store).SettingsFilePath.empty());
  EXPECT_FALSE(fs::exists(host.Plugins()));
  EXPECT_EQ(store.SelectChannel(4), 1);
  store.SetSetting(Brightness, 4);
  store.SaveSettings();
  EXPECT_EQ(host.replace_calls, 0);
  EXPECT_FALSE(fs::exists(host.Plugins()));
}

TEST_F(SettingsStoreTest, HugeAndHostileValuesSurvive) {
  const std::string text = "[DIALOG]\r\nDlgWndPosX=99999999999\r\nDlgWndPosY=junk\r\n[DEFAULT]\r\n"
                           "ProcEnable=4294967295\r\nBrightness=-2147483648\r\nContrast=  +17xyz\r\n"
                           "[99999999999999999999]\r\n[9223372036854775807]\r\nStep8_Level=2147483647\r\n";
  host.WriteSettings(text);
  SettingsStore store;
  Load(store);
  EXPECT_EQ(store.GetDialogPosition().X, static_cast<int32_t>(99999999999LL & 0xFFFFFFFF));
  EXPECT_EQ(store.GetDialogPosition().Y, 0);
  EXPECT_EQ(SettingsStoreTestPeer::Defaults(store).Values[ProcEnable], -1);
  EXPECT_EQ(SettingsStoreTestPeer::Defaults(store).Values[Contrast], 17);
  EXPECT_EQ(Keys(store), (std::vector<int64_t>{static_cast<int64_t>(7766279631452241919ULL), INT64_MAX}));
  store.SelectChannel(8);
  store.SaveSettings();
  // The default's unsigned value is written back as it was read.
  SettingsStore again;
  Load(again);
  EXPECT_EQ(SettingsStoreTestPeer::Channels(again)[2].Values[ProcEnable], -1);
  EXPECT_NE(ReadBytes(host.File()).find("ProcEnable=4294967295\r\n"), std::string::npos);
}

// A save killed at any moment leaves either the old or the new file whole.
TEST_F(SettingsStoreTest, KilledSaveLeavesOldOrNewFile) {
  std::string old_text = Dialog(1, 1), new_text = Dialog(2, 2);
  for (int key = 1; key <= 3000; ++key) {
    old_text += Section(std::to_string(key), {{Brightness, 1}});
    new_text += Section(std::to_string(key), {{Brightness, 2}});
  }
  for (int round = 0; round < 12; ++round) {
    host.WriteSettings(old_text);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Saves the new text over and over, then the old one, until killed.
      for (int i = 0;; ++i) {
        const std::string& text = i % 2 ? old_text : new_text;
        ReplaceSettingsFile(host.File().string(), text.data(), text.size());
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string found = ReadBytes(host.File());
    EXPECT_TRUE(found == old_text || found == new_text) << "round " << round << ": " << found.size() << " bytes";
  }
}

}  // namespace
}  // namespace tev
