// tevhost.exe end to end: a small ghosted card through the real DLL comes out
// with the ghost removed, in both frame kinds; a run with its own settings
// never touches the plugin's own file, also when killed or run twice at once;
// two options naming one file, bad inputs and unwritable targets are clear
// errors with a non-zero exit and nothing written; non-ANSI names work.
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
#include "media/file_access.h"
#include "support/plugin_loader.h"
#include "support/started_program.h"
#include "support/store_in_users_folder.h"
#include "support/test_folder.h"

namespace tev {
namespace {

using media::FrameSize;
using media::PixelKind;

using HostRun = testing::ProgramRun;
using StartedHost = testing::StartedProgram;

bool Exists(const std::string& path) { return media::IdentifyFile(path).exists; }

// Output in the making is written under "<target>.tev-<pid>-<n>.part".
bool HasPartial(const std::string& target) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((target + ".tev-*.part").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

// Bytes of a file by UTF-8 path; "<missing>" when it cannot be read.
std::string Bytes(const std::string& path) {
  media::FilePtr file(media::OpenFile(path, "rb"));
  if (!file) return "<missing>";
  std::string bytes;
  char chunk[65536];
  size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, count);
  return bytes;
}

void Put(const std::string& path, const std::string& bytes) {
  media::FilePtr file(media::OpenFile(path, "wb"));
  ASSERT_TRUE(file) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file.get()), bytes.size());
}

class HostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = testing::WindowsPathFromEnv("TEV_HOST");
    dir_ = testing::MakeTestFolder("tev_host_test_");

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
    testing::RemoveFolderAndFiles(media::WideText(dir_));
  }

  static void Write(const std::string& name, const std::vector<uint8_t>& frame, PixelKind kind, PixelKind as,
                    int copies = 1) {
    media::FrameSink sink(dir_ + name, media::GuessFileFormat(name), kSize, "");
    for (int i = 0; i < copies; ++i) sink.Put(frame, kind);
    sink.Commit();
    ASSERT_EQ(media::NativeKind(media::GuessFileFormat(name)), as);
  }

  // Starts tevhost.exe with `args`; its output goes to `log_name` in the test's folder.
  static StartedHost Start(const std::string& args, const std::string& log_name = "host.log") {
    return testing::StartProgram("\"" + host_ + "\" " + args, dir_ + log_name);
  }

  static HostRun Finish(StartedHost& started) { return testing::FinishProgram(started); }

  // Runs tevhost.exe with `args` and waits for it.
  static HostRun Run(const std::string& args) {
    StartedHost started = Start(args);
    return Finish(started);
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

TEST_F(HostTest, RemovesTheGhostInBothFrameKindsWithoutThePluginsOwnFile) {
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
  // The tuned file was the plugin's only for the run, in a folder of its own.
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
    std::string message;
  };
  const std::string out = dir_ + "never.yuy2";
  Put(dir_ + "readonly.ini", "[DIALOG]\r\n");
  SetFileAttributesA((dir_ + "readonly.ini").c_str(), FILE_ATTRIBUTE_READONLY);
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
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --settings " + dir_ + " --out " + out, 1, "is a folder"},
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --out " + out + " --save-settings " + dir_ + "readonly.ini", 1,
       "'" + dir_ + "readonly.ini': Permission denied (the file is read-only)"},
      {"--in " + dir_ + "ghosted.yuy2 --size 240x192 --out " + out + " --save-settings " + dir_ + "nowhere\\s.ini", 1,
       "'" + dir_ + "nowhere\\s.ini': No such file or directory"},
      {"/inst:. --in " + dir_ + "ghosted.yuy2 --size 240x192 --out " + out, 2, "/inst:. gives the plugin no settings"},
      {"--size 240x192 --out " + out, 2, "no input"},
      {"--in " + dir_ + "ghosted.yuy2 --bogus", 2, "bogus"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const HostRun run = Run(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_FALSE(Exists(out));
    EXPECT_FALSE(HasPartial(out));
    EXPECT_FALSE(Exists(dir_ + "never.png"));
  }
  EXPECT_EQ(Bytes(dir_ + "readonly.ini"), "[DIALOG]\r\n");
  SetFileAttributesA((dir_ + "readonly.ini").c_str(), FILE_ATTRIBUTE_NORMAL);
  const HostRun help = Run("--help");
  EXPECT_EQ(help.exit_code, 0u);
  for (const char* option : {"--in", "--out", "--size", "--kind", "--settings", "--save-settings", "--channel",
                             "--stats", "--dialog", "/inst:"})
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
}

BOOL WINAPI LetConsoleEventPass(DWORD) { return TRUE; }

// The plugin's own settings file, with bytes of its own, for the test's
// duration; what was there before is put back.
class OwnSettingsFile {
 public:
  OwnSettingsFile(const std::string& path, const std::string& bytes) : path_(path), before_(Bytes(path)) {
    CreateDirectoryA(path.substr(0, path.find_last_of('\\')).c_str(), nullptr);
    Put(path, bytes);
  }
  ~OwnSettingsFile() {
    if (before_ == "<missing>") media::RemoveFile(path_);
    else Put(path_, before_);
  }

 private:
  std::string path_, before_;
};

TEST_F(HostTest, RunsWithTheirOwnSettingsNeverTouchThePluginsFile) {
  const std::string own_bytes = "[DIALOG]\r\nDlgWndPosX=7\r\n[" + std::to_string(kChannel) + "]\r\nProcEnable=0\r\n";
  OwnSettingsFile own(PluginSettingsFile(""), own_bytes);
  media::WriteWholeFile(dir_ + "empty.ini", {});
  const std::string input = " --size 240x192 --channel " + std::to_string(kChannel) + " --in " + dir_;

  // What each settings file gives, one run at a time.
  ASSERT_EQ(Run(input + "ghosted.yuy2 --settings " + dir_ + "tuned.ini --out " + dir_ + "alone.yuy2").exit_code, 0u);
  const std::string tuned_output = Bytes(dir_ + "alone.yuy2");
  ASSERT_NE(tuned_output, Bytes(dir_ + "ghosted.yuy2"));

  // Two at once with different settings: each gets its own.
  StartedHost a = Start(input + "ghosted.yuy2 --settings " + dir_ + "tuned.ini --out " + dir_ + "a.yuy2", "a.log");
  StartedHost b = Start(input + "ghosted.yuy2 --settings " + dir_ + "empty.ini --out " + dir_ + "b.yuy2", "b.log");
  const HostRun run_a = Finish(a), run_b = Finish(b);
  ASSERT_EQ(run_a.exit_code, 0u) << run_a.output;
  ASSERT_EQ(run_b.exit_code, 0u) << run_b.output;
  EXPECT_EQ(Bytes(dir_ + "a.yuy2"), tuned_output);
  EXPECT_EQ(Bytes(dir_ + "b.yuy2"), Bytes(dir_ + "ghosted.yuy2"));
  EXPECT_EQ(Bytes(PluginSettingsFile("")), own_bytes);

  // Ended mid-run (a long measurement after the frame is written): no output,
  // and the partial file goes with the private run. Ctrl+C goes to every
  // process of the console, which this test lets pass; Wine's console of a
  // program run from a pipe carries no events, so the test makes its own.
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  SetConsoleCtrlHandler(LetConsoleEventPass, TRUE);
  struct Ending {
    const char* how;
    void (*end)(const PROCESS_INFORMATION& process);
    DWORD exit_code;
  };
  const Ending endings[] = {
      {"killed", [](const PROCESS_INFORMATION& p) { TerminateProcess(p.hProcess, 9); }, 9},
      {"Ctrl+C", [](const PROCESS_INFORMATION&) { GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0); }, 130},
  };
  const std::string ended = dir_ + "ended.yuy2";
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.how);
    StartedHost victim = Start(input + "ghosted.yuy2 --settings " + dir_ + "tuned.ini --out " + ended +
                                   " --stats --repeat 100000",
                               "ended.log");
    for (int wait = 0; wait < 600 && !HasPartial(ended); ++wait) Sleep(50);
    ASSERT_TRUE(HasPartial(ended)) << Bytes(victim.log);
    ending.end(victim.process.info());
    const HostRun run = Finish(victim);
    EXPECT_EQ(run.exit_code, ending.exit_code) << run.output;
    for (int wait = 0; wait < 300 && HasPartial(ended); ++wait) Sleep(50);
    EXPECT_FALSE(HasPartial(ended));
    EXPECT_FALSE(Exists(ended));
    EXPECT_EQ(Bytes(PluginSettingsFile("")), own_bytes);
  }

  // An installation that keeps the plugin's settings in the user's folder
  // leaves no private place for them: refused.
  testing::ScopedStoreInUsersFolder per_user(1);
  ASSERT_TRUE(per_user.ok());
  const HostRun refused = Run(input + "ghosted.yuy2 --settings " + dir_ + "tuned.ini --out " + ended);
  EXPECT_EQ(refused.exit_code, 1u) << refused.output;
  EXPECT_NE(refused.output.find("cannot be kept apart from the plugin's own file"), std::string::npos) << refused.output;
  EXPECT_FALSE(Exists(ended));
}

TEST_F(HostTest, TwoOptionsNamingOneFileAreRefusedBeforeAnythingIsWritten) {
  media::WriteWholeFile(dir_ + "mine.ini", {'[', 'D', 'I', 'A', 'L', 'O', 'G', ']', '\r', '\n'});
  const std::string in = dir_ + "ghosted.yuy2", ini = dir_ + "mine.ini", fresh = dir_ + "fresh.ini";
  // The same file spelled another way: "./", case, forward slashes.
  std::string forward = in;
  for (char& c : forward) c = c == '\\' ? '/' : c;
  struct Case {
    std::string options;
    const char* message;
  };
  const Case cases[] = {
      {"--in " + in + " --out " + dir_ + ".\\ghosted.yuy2", "--out names the same file as --in"},
      {"--in " + in + " --out " + dir_ + "GHOSTED.YUY2", "--out names the same file as --in"},
      {"--in " + in + " --save-settings " + dir_ + "Ghosted.yuy2", "--save-settings names the same file as --in"},
      {"--in " + forward + " --out " + in, "--out names the same file as --in"},
      {"--in " + in + " --settings " + dir_ + ".\\ghosted.yuy2", "--settings names the same file as --in"},
      {"--in " + in + " --out " + ini + " --settings " + dir_ + "MINE.ini", "--settings names the same file as --out"},
      {"--in " + in + " --out " + fresh + " --save-settings " + dir_ + ".\\FRESH.ini",
       "--save-settings names the same file as --out"},
      {"--in " + in + " --settings " + ini + " --save-settings " + dir_ + ".\\mine.ini",
       "--save-settings names the same file as --settings"},
  };
  const std::string input_bytes = Bytes(in), ini_bytes = Bytes(ini);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const HostRun run = Run(c.options + " --size 240x192");
    EXPECT_EQ(run.exit_code, 1u) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    EXPECT_EQ(Bytes(in), input_bytes);
    EXPECT_EQ(Bytes(ini), ini_bytes);
    EXPECT_FALSE(Exists(fresh));
  }
}

TEST_F(HostTest, CyrillicAndCjkNamesWorkForEveryPathOption) {
  struct Case {
    const char* role;
    std::string in, settings, out, saved;
  };
  const std::string plain_in = dir_ + "ghosted.yuy2", plain_settings = dir_ + "tuned.ini";
  const std::string plain_out = dir_ + "u-out.yuy2", plain_saved = dir_ + "u-saved.ini";
  std::vector<Case> cases;
  for (const std::string name : {"Призрак", "幽霊"}) {
    cases.push_back({"input", dir_ + name + ".yuy2", plain_settings, plain_out, plain_saved});
    cases.push_back({"output", plain_in, plain_settings, dir_ + name + ".yuy2", plain_saved});
    cases.push_back({"settings", plain_in, dir_ + name + ".ini", plain_out, plain_saved});
    cases.push_back({"saved settings", plain_in, plain_settings, plain_out, dir_ + name + "-saved.ini"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.role) + " " + c.in + " " + c.settings + " " + c.out + " " + c.saved);
    if (c.in != plain_in) Put(c.in, Bytes(plain_in));
    if (c.settings != plain_settings) Put(c.settings, Bytes(plain_settings));
    const HostRun run = Run("--in \"" + c.in + "\" --size 240x192 --channel " + std::to_string(kChannel) +
                            " --settings \"" + c.settings + "\" --out \"" + c.out + "\" --save-settings \"" +
                            c.saved + "\"");
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    EXPECT_EQ(Bytes(c.out).size(), Bytes(plain_in).size());
    EXPECT_NE(Bytes(c.out), Bytes(plain_in));
    EXPECT_NE(Bytes(c.saved).find("[" + std::to_string(kChannel) + "]\r\nProcEnable=1\r\n"), std::string::npos);
    for (const std::string* path : {&c.in, &c.settings, &c.out, &c.saved})
      if (*path != plain_in && *path != plain_settings) media::RemoveFile(*path);
  }
}

}  // namespace
}  // namespace tev
