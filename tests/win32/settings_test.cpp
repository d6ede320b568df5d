// The settings file through the real DLL and the real platform calls: where
// it lands (host folder, per-user folder, instance folder), what Shutdown
// writes, and a file that cannot be written.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/plugin_loader.h"
#include "support/settings_file.h"
#include "support/store_in_users_folder.h"

namespace tev::testing {
namespace {

constexpr char kChildVariable[] = "TEV_SETTINGS_CHILD";
constexpr char kIniName[] = "ZRL_TEVPlugin.ini";
const char kEmptySave[] = "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n";

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
  }
  RemoveDirectoryA(folder.c_str());
}

void WriteFileBytes(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Moves a folder out of the way for one test and puts it back afterwards,
// removing whatever the test left there.
class FolderSetAside {
 public:
  explicit FolderSetAside(std::string folder) : folder_(std::move(folder)), aside_(folder_ + ".settings-test") {
    RemoveTree(aside_);
    moved_ = Exists(folder_) && MoveFileA(folder_.c_str(), aside_.c_str());
  }
  ~FolderSetAside() {
    RemoveTree(folder_);
    if (moved_) MoveFileA(aside_.c_str(), folder_.c_str());
  }

 private:
  std::string folder_;
  std::string aside_;
  bool moved_ = false;
};

std::vector<int64_t> g_asked;
int32_t TEV_CDECL KnownExcept102(int64_t key) {
  g_asked.push_back(key);
  return key != 102;
}

std::string Section(const std::string& name, int brightness) {
  std::string text = "[" + name + "]\r\nProcEnable=0\r\nCorrEnable=0\r\nBrightness=" + std::to_string(brightness) +
                     "\r\nContrast=0\r\n";
  for (int step = 1; step <= 8; ++step) {
    const std::string prefix = "Step" + std::to_string(step);
    text += prefix + "_Enable=0\r\n" + prefix + "_Shift=0\r\n" + prefix + "_Level=0\r\n";
  }
  return text;
}

// One host session: Init, frames on the given channels, Shutdown.
void RunSession(const std::vector<int64_t>& keys) {
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.ok()) << "cannot load " << WindowsPathFromEnv("TEV_DLL");
  PluginInitInfo init{7, KnownExcept102};
  plugin.d().Init(&init);
  const FrameFormat format{8, 2, 2, 0, 0};
  plugin.d().SetFormat(&format);
  std::vector<uint8_t> pixels(8 * 2 * 2, 100);
  for (int64_t key : keys) {
    const Channel channel(key, "ch" + std::to_string(key));
    FrameInfo frame = MakeFrame(pixels.data(), channel);
    EXPECT_EQ(plugin.d().ProcessFrame(&frame), 1);
    frame.Pixels = nullptr;
    EXPECT_EQ(plugin.d().ProcessFrame(&frame), 0);
  }
  plugin.d().FreeBuffers();
  plugin.d().Shutdown();
}

class SettingsWin32Test : public ::testing::Test {
 protected:
  void SetUp() override { g_asked.clear(); }
  std::string plugins_ = ExecutableFolder() + "Plugins";
  std::string file_ = plugins_ + "\\" + kIniName;
};

TEST_F(SettingsWin32Test, HostFolderFileIsCreatedWithItsFolder) {
  FolderSetAside aside(plugins_);
  ASSERT_FALSE(Exists(plugins_));
  {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.ok());
    PluginInitInfo init{0, KnownExcept102};
    plugin.d().Init(&init);
    // Init creates the folder and an empty file in it.
    ASSERT_TRUE(Exists(file_)) << file_;
    EXPECT_EQ(ReadWholeFile(file_), "");
    plugin.d().Shutdown();
  }
  EXPECT_EQ(ReadWholeFile(file_), kEmptySave);
}

TEST_F(SettingsWin32Test, ShutdownWritesExactlyTheKnownChannels) {
  FolderSetAside aside(plugins_);
  CreateDirectoryA(plugins_.c_str(), nullptr);
  WriteFileBytes(file_, "[DIALOG]\r\nDlgWndPosX=40\r\nDlgWndPosY=50\r\n" + Section("DEFAULT", 5) +
                            Section("101", 1) + Section("102", 2) + Section("3", 3));
  RunSession({101, 555, 102, 3, 101});
  EXPECT_EQ(g_asked, (std::vector<int64_t>{101, 102, 3, 555}));
  EXPECT_EQ(ReadWholeFile(file_), "[DIALOG]\r\nDlgWndPosX=40\r\nDlgWndPosY=50\r\n" + Section("101", 1) +
                                      Section("3", 3) + Section("555", 5));
  EXPECT_FALSE(Exists(file_ + ".tmp"));
}

TEST_F(SettingsWin32Test, FailedSaveLeavesTheOldFileAndTheHostCarriesOn) {
  struct Case {
    const char* what;
    bool read_only;
    bool temp_blocked;  // a folder where the temporary file would go
  };
  const Case cases[] = {{"read-only file", true, false}, {"temporary file cannot be made", false, true}};
  for (const Case& c : cases) {
    FolderSetAside aside(plugins_);
    CreateDirectoryA(plugins_.c_str(), nullptr);
    const std::string text = "[DIALOG]\r\nDlgWndPosX=1\r\nDlgWndPosY=2\r\n" + Section("101", 1);
    WriteFileBytes(file_, text);
    if (c.read_only) {
      ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    if (c.temp_blocked) {
      ASSERT_TRUE(CreateDirectoryA((file_ + ".tmp").c_str(), nullptr));
    }
    RunSession({101, 9000});  // a new channel: the save would change the file
    EXPECT_EQ(ReadWholeFile(file_), text) << c.what;
    // Loaded again, the plugin reads the old file and works as before.
    RunSession({101});
    EXPECT_EQ(ReadWholeFile(file_), text) << c.what;
    if (c.read_only) {
      EXPECT_FALSE(Exists(file_ + ".tmp")) << c.what;
    }
  }
}

TEST_F(SettingsWin32Test, RegistryValueMovesTheFileToTheUsersFolder) {
  char appdata[MAX_PATH * 2] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, appdata, CSIDL_APPDATA, TRUE));
  const std::string korvanta = std::string(appdata) + "\\Korvanta";
  const bool had_korvanta = Exists(korvanta);
  CreateDirectoryA(korvanta.c_str(), nullptr);
  {
    FolderSetAside host_plugins(plugins_);
    FolderSetAside user_plugins(korvanta + "\\Plugins");
    ScopedStoreInUsersFolder value(1);
    ASSERT_TRUE(value.ok());
    RunSession({});
    EXPECT_EQ(ReadWholeFile(korvanta + "\\Plugins\\" + kIniName), kEmptySave);
    EXPECT_FALSE(Exists(plugins_)) << "nothing beside the host";
  }
  if (!had_korvanta) RemoveTree(korvanta);
}

TEST_F(SettingsWin32Test, InstanceOptionGivesItsOwnFolder) {
  const std::string instances = ExecutableFolder() + "Instances";
  FolderSetAside aside(instances);
  FolderSetAside host_plugins(plugins_);
  // Parents are not created: the instance folder must exist already.
  ASSERT_TRUE(CreateDirectoryA(instances.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((instances + "\\b").c_str(), nullptr));

  char exe[MAX_PATH * 4] = {};
  GetModuleFileNameA(nullptr, exe, sizeof exe);
  std::string command =
      "\"" + std::string(exe) + "\" --gtest_filter=SettingsChildProcess.InitFramesShutdown /INST:B";
  SetEnvironmentVariableA(kChildVariable, "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  ASSERT_TRUE(started);
  EXPECT_EQ(ChildProcess(process).Await(60000), 0u);

  const std::string file = instances + "\\b\\Plugins\\" + kIniName;
  EXPECT_EQ(ReadWholeFile(file), std::string(kEmptySave) + Section("42", 0)) << file;
  EXPECT_FALSE(Exists(plugins_)) << "nothing beside the host";
}

// Runs only as the child that InstanceOptionGivesItsOwnFolder starts.
TEST(SettingsChildProcess, InitFramesShutdown) {
  if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs as a child process only";
  RunSession({42});
}

}  // namespace
}  // namespace tev::testing
