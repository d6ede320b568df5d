// Where the settings file lives: the four path shapes, the instance tag and
// the folder that is created.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings_path.h"

namespace tev {
namespace {

constexpr char kExe[] = "C:\\Program Files\\Korvanta\\host.exe";
constexpr char kAppData[] = "C:\\Users\\u\\AppData\\Roaming";

SettingsPathInputs Inputs(uint32_t platform, uint32_t per_user, const std::string& command_line) {
  SettingsPathInputs inputs;
  inputs.VersionKnown = true;
  inputs.PlatformId = platform;
  inputs.StoreInUsersFolder = per_user;
  inputs.AppDataFolder = kAppData;
  inputs.ExecutablePath = kExe;
  inputs.CommandLine = command_line;
  inputs.MaxPath = 260;
  return inputs;
}

TEST(SettingsPathTest, PathShapes) {
  struct Case {
    const char* what;
    SettingsPathInputs inputs;
    const char* tag;
    const char* directory;
  };
  SettingsPathInputs no_appdata = Inputs(2, 1, "host.exe");
  no_appdata.AppDataFolder.clear();
  const Case cases[] = {
      {"host folder", Inputs(2, 0, "\"C:\\x\\host.exe\""), "", "C:\\Program Files\\Korvanta\\Plugins\\"},
      {"host folder, instance", Inputs(2, 0, "host.exe /inst:B"), "b",
       "C:\\Program Files\\Korvanta\\Instances\\b\\Plugins\\"},
      {"per user", Inputs(2, 1, "host.exe"), "", "C:\\Users\\u\\AppData\\Roaming\\Korvanta\\Plugins\\"},
      {"per user, instance", Inputs(2, 7, "host.exe -inst:3"), "3",
       "C:\\Users\\u\\AppData\\Roaming\\Korvanta\\Instances\\3\\Plugins\\"},
      {"per user ignored outside NT", Inputs(1, 1, "host.exe"), "", "C:\\Program Files\\Korvanta\\Plugins\\"},
      {"per user ignored for Win32s", Inputs(0, 1, "host.exe"), "", "C:\\Program Files\\Korvanta\\Plugins\\"},
      {"no application-data folder: host folder", no_appdata, "", "C:\\Program Files\\Korvanta\\Plugins\\"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> created;
    const SettingsPaths paths =
        BuildSettingsPath("ZRL_TEVPlugin", c.inputs, [&](const std::string& folder) { created.push_back(folder); });
    EXPECT_EQ(paths.InstanceTag, c.tag) << c.what;
    EXPECT_EQ(paths.SettingsDirectory, c.directory) << c.what;
    EXPECT_EQ(paths.SettingsFileName, "ZRL_TEVPlugin.ini") << c.what;
    EXPECT_EQ(paths.SettingsFilePath, std::string(c.directory) + "ZRL_TEVPlugin.ini") << c.what;
    // Only the last level is created, once.
    EXPECT_EQ(created, std::vector<std::string>{c.directory}) << c.what;
  }
}

TEST(SettingsPathTest, InstanceTag) {
  struct Case {
    const char* command_line;
    const char* tag;
  };
  const Case cases[] = {
      {"host.exe", ""},
      {"host.exe /INST:B", "b"},
      {"host.exe -inst:3 /inst:5", "5"},   // "/inst:" wins over "-inst:"
      {"host.exe /inst:5 -inst:3", "5"},
      {"host.exe -inst:3", "3"},
      {"host.exe /inst:12", "1"},          // one character only
      {"host.exe /inst:a /inst:b", "a"},   // the first occurrence
      {"host.exe /inst:", ""},             // the prefix ends the line
      {"host.exe -inst:7 /inst:", ""},     // an empty "/inst:" still replaces the other
      {"host.exe inst:4", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(InstanceTagOf(c.command_line), c.tag) << c.command_line;
}

TEST(SettingsPathTest, NoPathRatherThanAWrongOne) {
  struct Case {
    const char* what;
    SettingsPathInputs inputs;
  };
  SettingsPathInputs no_version = Inputs(2, 0, "host.exe");
  no_version.VersionKnown = false;
  SettingsPathInputs no_exe = Inputs(2, 0, "host.exe");
  no_exe.ExecutablePath.clear();
  SettingsPathInputs bare_exe = Inputs(2, 0, "host.exe");
  bare_exe.ExecutablePath = "host.exe";
  SettingsPathInputs long_exe = Inputs(2, 0, "host.exe");
  long_exe.ExecutablePath = "C:\\" + std::string(300, 'd') + "\\host.exe";
  SettingsPathInputs long_appdata = Inputs(2, 1, "host.exe");
  long_appdata.AppDataFolder = "C:\\" + std::string(250, 'a');
  const Case cases[] = {
      {"no version", no_version},
      {"no executable path", no_exe},
      {"executable path without a folder", bare_exe},
      {"path beyond the platform's limit", long_exe},
      {"application-data folder beyond the limit", long_appdata},
      {"tag that is a separator", Inputs(2, 0, "host.exe /inst:\\")},
      {"tag that is a slash", Inputs(2, 0, "host.exe /inst:/x")},
      {"tag that is a dot", Inputs(2, 0, "host.exe /inst:.")},
      {"tag that is a quote", Inputs(2, 0, "\"host.exe /inst:\"")},
      {"tag that is a space", Inputs(2, 0, "host.exe /inst: x")},
  };
  for (const Case& c : cases) {
    int created = 0;
    const SettingsPaths paths = BuildSettingsPath("ZRL_TEVPlugin", c.inputs, [&](const std::string&) { ++created; });
    EXPECT_TRUE(paths.SettingsFilePath.empty()) << c.what << ": " << paths.SettingsFilePath;
    EXPECT_EQ(created, 0) << c.what;
  }
}

TEST(SettingsPathTest, LongPathsUpToTheLimitAreKeptWhole) {
  SettingsPathInputs inputs = Inputs(2, 0, "host.exe");
  // The file path plus the temporary suffix must stay below 260.
  const std::string tail = "\\Plugins\\ZRL_TEVPlugin.ini.tmp";
  const std::string folder = "C:\\" + std::string(259 - 3 - tail.size(), 'd');
  inputs.ExecutablePath = folder + "\\host.exe";
  const SettingsPaths paths = BuildSettingsPath("ZRL_TEVPlugin", inputs, nullptr);
  EXPECT_EQ(paths.SettingsFilePath, folder + "\\Plugins\\ZRL_TEVPlugin.ini");
  inputs.ExecutablePath = folder + "d\\host.exe";
  EXPECT_TRUE(BuildSettingsPath("ZRL_TEVPlugin", inputs, nullptr).SettingsFilePath.empty());
  inputs.MaxPath = 0;  // no limit
  EXPECT_FALSE(BuildSettingsPath("ZRL_TEVPlugin", inputs, nullptr).SettingsFilePath.empty());
}

}  // namespace
}  // namespace tev
