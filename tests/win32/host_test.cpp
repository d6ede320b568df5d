// tevhost.exe end to end: a small ghosted card through the real DLL comes out
// with the ghost removed, in both frame kinds; the settings file goes where the
// plugin reads it and the host folder is left as it was; bad inputs are clear
// errors with a non-zero exit and no output file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo/channel_model.h"
#include "demo/metrics.h"
#include "demo/test_card.h"
#include "demo/tuning.h"
#include "media/file_colour.h"
#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/whole_file.h"
#include "support/plugin_loader.h"

namespace tev {
namespace {

using media::FrameSize;
using media::PixelKind;

struct HostRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string output;  // stdout and stderr together
};

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class HostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = testing::WindowsPathFromEnv("TEV_HOST");
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "tev_host_test_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir_.c_str(), nullptr);

    // A small card through the default channel; settings from the model alone.
    const demo::Canvas card = demo::MakeTestCard(kSize.width, kSize.height, 0);
    std::vector<uint8_t> clean = media::ConvertFileFrame(card.bgr, PixelKind::Bgr24, PixelKind::Yuy2, kSize);
    clean_luma_ = media::FileFrameLuma(clean, PixelKind::Yuy2, kSize);
    std::vector<uint8_t> ghosted = clean;
    demo::ApplyChannelYuy2(kModel, ghosted, kSize.width, kSize.height);
    Write("ghosted.yuy2", ghosted, PixelKind::Yuy2, PixelKind::Yuy2);
    Write("ghosted.bgr24", ghosted, PixelKind::Yuy2, PixelKind::Bgr24);
    Write("two.yuy2", ghosted, PixelKind::Yuy2, PixelKind::Yuy2, 2);

    demo::PluginSettings settings;
    settings.steps = demo::FitSteps(kModel, kSize.width);
    const demo::Headroom headroom = demo::ChooseHeadroom(kModel, kSize.width, settings.steps);
    settings.brightness = headroom.brightness;
    settings.contrast = headroom.contrast;
    const std::string text = demo::ComposeSettingsFile(settings, kChannel, false);
    media::WriteWholeFile(dir_ + "tuned.ini", std::vector<uint8_t>(text.begin(), text.end()));
  }

  static void TearDownTestSuite() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do DeleteFileA((dir_ + found.cFileName).c_str());
      while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(dir_.c_str());
  }

  static void Write(const std::string& name, const std::vector<uint8_t>& frame, PixelKind kind, PixelKind as,
                    int copies = 1) {
    media::FrameSink sink(dir_ + name, media::GuessFileFormat(name), kSize, "");
    for (int i = 0; i < copies; ++i) sink.Put(frame, kind);
    sink.Commit();
    ASSERT_EQ(media::NativeKind(media::GuessFileFormat(name)), as);
  }

  // Runs tevhost.exe with `args` and waits for it.
  static HostRun Run(const std::string& args) {
    const std::string log = dir_ + "host.log";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE out = CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    std::string command = "\"" + host_ + "\" " + args;
    PROCESS_INFORMATION process{};
    HostRun run;
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      WaitForSingleObject(process.hProcess, 120000);
      GetExitCodeProcess(process.hProcess, &run.exit_code);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    CloseHandle(out);
    const std::vector<uint8_t> text = media::ReadWholeFile(log);
    run.output.assign(text.begin(), text.end());
    return run;
  }

  static double GhostDb(const std::string& name) {
    auto source = media::OpenFrameSource(dir_ + name, media::GuessFileFormat(name), kSize);
    std::vector<uint8_t> frame;
    EXPECT_TRUE(source->Next(frame));
    return demo::MeasureAgainstClean(clean_luma_, media::FileFrameLuma(frame, source->kind(), kSize)).ghost_db;
  }

  static std::string PluginSettingsFile(const std::string& instance) {
    const std::string host_folder = host_.substr(0, host_.find_last_of('\\') + 1);
    return host_folder + (instance.empty() ? "" : "Instances\\" + instance + "\\") + "Plugins\\ZRL_TEVPlugin.ini";
  }

  static constexpr FrameSize kSize{240, 192};
  static constexpr int64_t kChannel = 4242;
  static const demo::ChannelModel kModel;
  static std::string host_;
  static std::string dir_;
  static std::vector<uint8_t> clean_luma_;
};

const demo::ChannelModel HostTest::kModel{{{2.5, 0.3}}, 3};
std::string HostTest::host_;
std::string HostTest::dir_;
std::vector<uint8_t> HostTest::clean_luma_;

TEST_F(HostTest, RemovesTheGhostInBothFrameKindsAndPutsTheSettingsFileBack) {
  const double before = GhostDb("ghosted.yuy2");
  ASSERT_GT(before, -16);
  const bool had_file = Exists(PluginSettingsFile(""));
  for (const char* kind : {"yuy2", "bgr24"}) {
    SCOPED_TRACE(kind);
    const std::string out = std::string("clean.") + kind;
    const HostRun run = Run("--in " + dir_ + "ghosted." + kind + " --size 240x192 --out " + dir_ + out +
                            " --settings " + dir_ + "tuned.ini --channel " + std::to_string(kChannel));
    ASSERT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_NE(run.output.find("1 frame(s) processed"), std::string::npos) << run.output;
    const double after = GhostDb(out);
    EXPECT_LE(after, before - 12) << "ghost energy " << before << " dB before, " << after << " dB after";
  }
  // The tuned file was the plugin's only for the run.
  EXPECT_EQ(Exists(PluginSettingsFile("")), had_file);

  // With an empty settings file the plugin's defaults leave a YUY2 frame alone.
  media::WriteWholeFile(dir_ + "empty.ini", {});
  const HostRun plain = Run("--in " + dir_ + "ghosted.yuy2 --size 240x192 --out " + dir_ + "plain.yuy2 --channel 77" +
                            " --settings " + dir_ + "empty.ini");
  ASSERT_EQ(plain.exit_code, 0u) << plain.output;
  EXPECT_EQ(media::ReadWholeFile(dir_ + "plain.yuy2"), media::ReadWholeFile(dir_ + "ghosted.yuy2"));
}

TEST_F(HostTest, InstanceOptionAndSavedSettingsFollowThePluginsOwnRules) {
  // With /inst:q the plugin reads Instances\q\Plugins\; the host installs there.
  const HostRun run = Run("/inst:Q --in " + dir_ + "ghosted.yuy2 --size 240x192 --out " + dir_ + "inst.yuy2 --settings " +
                          dir_ + "tuned.ini --channel " + std::to_string(kChannel) + " --save-settings " + dir_ +
                          "saved.ini");
  ASSERT_EQ(run.exit_code, 0u) << run.output;
  EXPECT_LE(GhostDb("inst.yuy2"), GhostDb("ghosted.yuy2") - 12);
  EXPECT_FALSE(Exists(PluginSettingsFile("q")));
  // The file as the plugin rewrote it at Shutdown: the channel's section, CR LF lines.
  const std::vector<uint8_t> saved = media::ReadWholeFile(dir_ + "saved.ini");
  const std::string text(saved.begin(), saved.end());
  EXPECT_NE(text.find("[" + std::to_string(kChannel) + "]\r\nProcEnable=1\r\n"), std::string::npos) << text;
}

TEST_F(HostTest, StatsMeasureProcessFrameBesideAMemcpy) {
  const HostRun run = Run("--in " + dir_ + "ghosted.bgr24 --size 240x192 --settings " + dir_ + "tuned.ini --channel " +
                          std::to_string(kChannel) + " --stats --repeat 20");
  ASSERT_EQ(run.exit_code, 0u) << run.output;
  for (const char* line : {"stats: 240x192 RGB24, 138240 bytes a frame, median of 20 calls each",
                           "stats: ProcessFrame ", "frames/s", "stats: memcpy of one frame ",
                           "stats: ProcessFrame / memcpy = "})
    EXPECT_NE(run.output.find(line), std::string::npos) << line << "\n" << run.output;
}

TEST_F(HostTest, BadInputsFailClearlyAndLeaveNoOutput) {
  media::WriteWholeFile(dir_ + "c420.y4m", {'Y', 'U', 'V', '4', 'M', 'P', 'E', 'G', '2', ' ', 'W', '2', ' ', 'H', '2', ' ',
                                           'C', '4', '2', '0', '\n'});
  struct Case {
    std::string args;
    DWORD exit_code;
    const char* message;
  };
  const std::string out = dir_ + "never.yuy2";
  const Case cases[] = {
      {"--in " + dir_ + "missing.yuy2 --size 240x192 --out " + out, 1, "cannot read input file"},
      {"--in " + dir_ + "ghosted.yuy2 --size 320x240 --out " + out, 1, "size does not match"},
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --in-format nv12 --out " + out, 1, "unknown format 'nv12'"},
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --out " + dir_ + "never.xyz", 1, "unknown format of"},
      {"--in " + dir_ + "c420.y4m --out " + out, 1, "not supported"},
      {"--in " + dir_ + "two.yuy2 --size 240x192 --out " + dir_ + "never.png", 1, "holds one frame"},
      {"--in " + dir_ + "ghosted.yuy2 --out " + out, 1, "needs a frame size"},
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --plugin " + dir_ + "none.dll --out " + out, 1,
       "cannot load plugin"},
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --settings " + dir_ + "none.ini --out " + out, 1,
       "cannot read settings file"},
      {"--size 240x192 --out " + out, 2, "no input"},
      {"--in " + dir_ + "ghosted.yuy2 --bogus", 2, "bogus"},
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --out " + dir_ + "GHOSTED.yuy2", 2, "names the input file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const HostRun run = Run(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_FALSE(Exists(out));
    EXPECT_FALSE(Exists(out + ".part"));
    EXPECT_FALSE(Exists(dir_ + "never.png"));
  }
  const HostRun help = Run("--help");
  EXPECT_EQ(help.exit_code, 0u);
  for (const char* option : {"--in", "--out", "--size", "--kind", "--settings", "--save-settings", "--channel",
                             "--stats", "--dialog", "/inst:"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace tev
