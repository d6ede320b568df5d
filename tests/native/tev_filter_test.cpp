// tev filter as a user runs it: the plugin's luma and untouched chroma for
// every layout, the plugin's settings rules, FFmpeg on both sides of a pipe,
// clear failures on bad input, and a clean end on a closed pipe or Ctrl+C.
// The wide arithmetic of --precision high is held to worked values and to the
// ghost it removes from photographs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "demo/channel_model.h"
#include "demo/metrics.h"
#include "demo/test_card.h"
#include "demo/tuning.h"
#include "media/file_colour.h"
#include "media/image_file.h"
#include "media/whole_file.h"
#include "media/y4m_stream.h"
#include "processing/color_convert.h"
#include "processing/cpu_features.h"
#include "processing/luma_plane.h"
#include "tev/high_precision.h"

extern char** environ;

namespace tev {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(n, '\0');
  for (char& b : bytes) b = static_cast<char>(rng());
  return bytes;
}

// The stages a settings section below turns on; also the values written.
struct Section {
  int32_t proc = 1, corr = 0, brightness = 0, contrast = 0;
  std::vector<std::pair<int32_t, int32_t>> steps;  // shift, level; all enabled

  std::string Text(const std::string& name) const {
    std::string t = "[" + name + "]\r\nProcEnable=" + std::to_string(proc) + "\r\nCorrEnable=" +
                    std::to_string(corr) + "\r\nBrightness=" + std::to_string(brightness) + "\r\nContrast=" +
                    std::to_string(contrast) + "\r\n";
    for (size_t i = 0; i < steps.size(); ++i) {
      const std::string k = "Step" + std::to_string(i + 1);
      t += k + "_Enable=1\r\n" + k + "_Shift=" + std::to_string(steps[i].first) + "\r\n" + k +
           "_Level=" + std::to_string(steps[i].second) + "\r\n";
    }
    return t;
  }
  StageSettings Stages() const {
    StageSettings s;
    s.correct = corr != 0;
    s.brightness = brightness;
    s.contrast = contrast;
    for (const auto& [shift, level] : steps) s.steps[s.step_count++] = {shift, level};
    return s;
  }
};

// Correction and steps of both signs, shifts with and without a remainder of 4.
const Section kChannel{1, 1, 7, -7, {{25, -30}, {-13, 20}, {51, 9}, {7, -4}, {100, 1}}};
const Section kDefault{1, 0, 0, 0, {{38, -45}}};
const Section kOff{0, 1, 50, 50, {{25, -100}}};

class TevFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tev_filter_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    settings_ = "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n" + kDefault.Text("DEFAULT") +
                kChannel.Text("1001") + kOff.Text("2002");
    WriteFile(Path("tuned.ini"), settings_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs a bash command line in the test's folder; its exit status, standard
  // error in `err`.
  int Shell(const std::string& command, std::string* err = nullptr) const {
    WriteFile(Path("run.sh"), "cd '" + dir_.string() + "' || exit 99\n" + command + "\n");
    const int status = std::system(("bash '" + Path("run.sh") + "' 2>'" + Path("stderr") + "'").c_str());
    if (err) *err = ReadFile(Path("stderr"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int Tev(const std::string& args, std::string* err = nullptr) const {
    return Shell(std::string("'") + TEV_APP_PATH + "' filter " + args, err);
  }

  fs::path dir_;
  std::string settings_;
};

struct Frame {
  std::string params;
  std::string planes;
};

std::string Stream(const std::string& header, const std::vector<Frame>& frames) {
  std::string s = header + "\n";
  for (const Frame& f : frames) s += "FRAME" + f.params + "\n" + f.planes;
  return s;
}

std::string ExpectedLuma(std::string luma, int w, int h, const StageSettings& s, bool high) {
  auto* p = reinterpret_cast<uint8_t*>(luma.data());
  if (high)
    ProcessLumaPlaneHighPrecision(p, w, w, h, s);
  else
    ProcessLumaPlane(p, w, w, h, s);
  return luma;
}

TEST_F(TevFilterTest, EveryLayoutGetsThePluginsLumaAndKeepsChromaAndParameters) {
  struct Row {
    const char* chroma_tag;  // "" writes no C parameter: 4:2:0
    size_t chroma_plane;     // bytes of each chroma plane at 37x9
  };
  const Row rows[] = {{"", 95},          {" Cmono", 0},    {" C420jpeg", 95}, {" C420mpeg2", 95}, {" C420paldv", 95},
                      {" C420", 95},     {" C422", 171},   {" C444", 333},    {" C411", 90}};
  const int w = 37, h = 9;
  for (const Row& row : rows) {
    const std::string header =
        std::string("YUV4MPEG2 W37 H9 F30000:1001 It A10:11") + row.chroma_tag + " XCOLORRANGE=LIMITED Xtev=1";
    std::vector<Frame> in;
    for (unsigned i = 0; i < 3; ++i)
      in.push_back({i == 1 ? " Ixyz Xn=1" : "", Random(w * h + 2 * row.chroma_plane, 100 + i)});
    WriteFile(Path("in.y4m"), Stream(header, in));
    for (const bool high : {false, true}) {
      SCOPED_TRACE(std::string(row.chroma_tag) + (high ? " high" : " exact"));
      std::string err;
      ASSERT_EQ(Tev(std::string("-i in.y4m -o out.y4m --settings tuned.ini --channel 1001 -q") +
                        (high ? " --precision high" : ""),
                    &err),
                0)
          << err;
      std::vector<Frame> want = in;
      for (Frame& f : want)
        f.planes.replace(0, w * h, ExpectedLuma(f.planes.substr(0, w * h), w, h, kChannel.Stages(), high));
      ASSERT_EQ(ReadFile(Path("out.y4m")), Stream(header, want));
    }
  }
}

TEST_F(TevFilterTest, SettingsFollowThePluginsFileRulesOrComeInline) {
  struct Row {
    const char* args;
    bool enabled;
    StageSettings stages;
  };
  const Section inline_section{1, 1, 5, -5, {{25, -30}, {-13, 20}}};
  const Row rows[] = {
      {"--settings tuned.ini --channel 1001", true, kChannel.Stages()},
      {"--settings tuned.ini --channel 7", true, kDefault.Stages()},  // no section: a new channel's values
      {"--settings tuned.ini", true, kDefault.Stages()},
      {"--settings tuned.ini --channel 2002", false, {}},  // ProcEnable=0
      {"--step 25:-30 --step -13:20 --correct 5:-5", true, inline_section.Stages()},
  };
  const int w = 64, h = 6;
  const std::string luma = Random(w * h, 5);
  WriteFile(Path("in.y4m"), Stream("YUV4MPEG2 W64 H6 Cmono", {{"", luma}}));
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    std::string err;
    ASSERT_EQ(Tev(std::string("-i in.y4m -o out.y4m -q ") + row.args, &err), 0) << err;
    const std::string want = row.enabled ? ExpectedLuma(luma, w, h, row.stages, false) : luma;
    EXPECT_EQ(ReadFile(Path("out.y4m")), Stream("YUV4MPEG2 W64 H6 Cmono", {{"", want}}));
  }
  EXPECT_EQ(ReadFile(Path("tuned.ini")), settings_) << "the settings file must not be rewritten";
}

TEST_F(TevFilterTest, BadInputOrOptionsFailClearlyAndNeverWriteGarbage) {
  const std::string header = "YUV4MPEG2 W16 H4 C444";
  const std::string planes = Random(16 * 4 * 3, 9);
  const std::string two = Stream(header, {{"", planes}, {"", planes}});
  struct Row {
    const char* name;
    std::string input;
    std::string args;
    int status;
    const char* message;
    int frames_out;  // whole frames in the output; -1: no output file at all
  };
  const Row rows[] = {
      {"cut in frame data", two + "FRAME\n" + planes.substr(0, 100), "", 1, "frame 3 is truncated", 2},
      {"cut in FRAME line", two + "FRA", "", 1, "frame 3 is truncated", 2},
      {"not a frame", Stream(header, {{"", planes}}) + "JUNK\n" + planes, "", 1, "frame 2: expected a FRAME", 1},
      {"10-bit", "YUV4MPEG2 W16 H4 C420p10\nFRAME\n" + planes, "", 1, "more than 8 bits; supported: 8-bit", -1},
      {"alpha", "YUV4MPEG2 W16 H4 C444alpha\nFRAME\n" + planes, "", 1, "alpha plane; supported: 8-bit", -1},
      {"unknown layout", "YUV4MPEG2 W16 H4 C420xyz\nFRAME\n" + planes, "", 1, "unknown chroma layout; supported", -1},
      {"no size", "YUV4MPEG2 W16 C444\nFRAME\n" + planes, "", 1, "without W and H", -1},
      {"not Y4M", "RIFF....AVI LIST", "", 1, "not a YUV4MPEG2 stream", -1},
      {"empty", "", "", 1, "empty input", -1},
      {"no settings", two, "-q", 2, "no settings", -1},
      {"level out of range", two, "--step 25:-130", 2, "out of range", -1},
      {"settings and steps", two, "--settings tuned.ini --step 25:-30", 2, "exclude each other", -1},
      {"missing settings", two, "--settings missing.ini", 1, "cannot read settings file", -1},
      {"nine steps", two, "--step 1:1 --step 1:1 --step 1:1 --step 1:1 --step 1:1 --step 1:1 --step 1:1 --step 1:1 --step 1:1", 2,
       "at most 8", -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(Path("in.y4m"), row.input);
    fs::remove(Path("out.y4m"));
    std::string err;
    const std::string args = row.args.empty() ? "--step 25:-30" : row.args;
    EXPECT_EQ(Tev("-i in.y4m -o out.y4m " + args, &err), row.status) << err;
    EXPECT_NE(err.find(row.message), std::string::npos) << err;
    if (row.frames_out < 0) {
      EXPECT_FALSE(fs::exists(Path("out.y4m")));
    } else {
      const std::string out = ReadFile(Path("out.y4m"));
      ASSERT_EQ(out.size(), header.size() + 1 + row.frames_out * (6 + planes.size()));
      // The frames that were whole are written processed, as a clean run gives them.
      WriteFile(Path("in.y4m"), row.input.substr(0, out.size()));
      ASSERT_EQ(Tev("-i in.y4m -o whole.y4m --step 25:-30"), 0);
      EXPECT_EQ(out, ReadFile(Path("whole.y4m")));
    }
  }
  // The output must never be the file being read.
  WriteFile(Path("in.y4m"), two);
  EXPECT_EQ(Tev("-i in.y4m -o ./in.y4m --step 25:-30"), 1);
  EXPECT_EQ(ReadFile(Path("in.y4m")), two);
}

TEST_F(TevFilterTest, FfmpegOnBothSidesOfThePipe) {
  std::string err;
  ASSERT_EQ(Shell("set -o pipefail; ffmpeg -v error -f lavfi -i testsrc2=size=352x288:rate=30000/1001 -frames:v 12"
                      " -vf setsar=12/11,setfield=tff -pix_fmt yuv422p -f yuv4mpegpipe - | '" TEV_APP_PATH
                      "' filter --settings tuned.ini --channel 1001 | ffprobe -v error -f yuv4mpegpipe -i -"
                      " -count_frames -show_entries"
                      " stream=width,height,pix_fmt,r_frame_rate,sample_aspect_ratio,field_order,nb_read_frames"
                      " -of default=nw=1 > probe.txt",
                  &err),
            0)
      << err;
  EXPECT_EQ(ReadFile(Path("probe.txt")),
            "width=352\nheight=288\nsample_aspect_ratio=12:11\npix_fmt=yuv422p\nfield_order=tt\n"
            "r_frame_rate=30000/1001\nnb_read_frames=12\n");
}

// tev filter with standard input from a pipe we hold open, standard output to
// a file; returns the pid.
pid_t StartTev(const std::vector<std::string>& args, int stdin_fd, const std::string& out_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdin_fd, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all = {TEV_APP_PATH, "filter"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn(&pid, TEV_APP_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST_F(TevFilterTest, EndsCleanlyOnAClosedPipeOrCtrlC) {
  // An endless source and a reader that stops after the header and two frames.
  const size_t frame = 6 + 96 * 64 * 3 / 2;
  const std::string header = "YUV4MPEG2 W96 H64 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG\n";
  std::string err;
  EXPECT_EQ(Shell("ffmpeg -v error -f lavfi -i testsrc2=size=96x64:rate=25 -pix_fmt yuv420p"
                      " -f yuv4mpegpipe - 2>/dev/null | { timeout 60 '" TEV_APP_PATH
                      "' filter --step 25:-30; echo $? > status; } | head -c " +
                      std::to_string(header.size() + 2 * frame) + " > out.y4m",
                  &err),
            0);
  EXPECT_EQ(ReadFile(Path("status")), "0\n") << err;
  EXPECT_NE(err.find("output closed by its reader"), std::string::npos) << err;
  EXPECT_EQ(ReadFile(Path("out.y4m")).substr(0, header.size()), header);

  // Ctrl+C while the source is quiet: every frame that came is out whole.
  const std::string two = Stream("YUV4MPEG2 W96 H64 C420", {{"", Random(frame - 6, 1)}, {"", Random(frame - 6, 2)}});
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t pid = StartTev({"--step", "25:-30", "-q"}, fds[0], Path("out.y4m"));
  ASSERT_GT(pid, 0);
  close(fds[0]);
  ASSERT_EQ(write(fds[1], two.data(), two.size()), static_cast<ssize_t>(two.size()));
  std::error_code ignored;
  for (int i = 0; i < 500 && fs::file_size(Path("out.y4m"), ignored) < two.size(); ++i) usleep(10000);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  close(fds[1]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  WriteFile(Path("in.y4m"), two);
  ASSERT_EQ(Tev("-i in.y4m -o whole.y4m --step 25:-30"), 0);
  EXPECT_EQ(ReadFile(Path("out.y4m")), ReadFile(Path("whole.y4m")));
}

TEST(HighPrecision, RoundsOnceAtTheEnd) {
  struct Row {
    const char* name;
    int w, h;
    std::vector<uint8_t> in;
    StageSettings s;
    std::vector<uint8_t> want;
  };
  StageSettings twice_then_half;  // x2 then x0.5 on each pixel itself: no clamp in between
  twice_then_half.step_count = 2;
  twice_then_half.steps[0] = {0, 100};
  twice_then_half.steps[1] = {0, -50};
  StageSettings back2;  // Shift 250 on 8 pixels: s = 2, m = 128
  back2.step_count = 1;
  back2.steps[0] = {250, -50};
  StageSettings ahead2 = back2;
  ahead2.steps[0] = {-250, 50};
  StageSettings lift;  // Brightness 50: +128, on the first floor(W*H/4)*4 pixels only
  lift.correct = true;
  lift.brightness = 50;
  StageSettings half_up;  // +50 % of itself: 1 -> 1.5 -> 2, 3 -> 4.5 -> 5
  half_up.step_count = 1;
  half_up.steps[0] = {0, 50};
  // Lines of 20 and more also take the 16-pixel path of the final rounding.
  auto times5 = [](std::vector<uint8_t> v) {
    std::vector<uint8_t> out;
    for (int i = 0; i < 5; ++i) out.insert(out.end(), v.begin(), v.end());
    return out;
  };
  StageSettings below_zero;  // -150 % of itself: every value ends below 0
  below_zero.step_count = 1;
  below_zero.steps[0] = {0, -150};
  // Beyond the line is black, lifted by the correction and carried through
  // every step like the picture: a black picture stays flat.
  StageSettings lift_back2_twice = lift;  // 128 -> 64 -> 32
  lift_back2_twice.step_count = 2;
  lift_back2_twice.steps[0] = lift_back2_twice.steps[1] = back2.steps[0];
  StageSettings lift_ahead2 = lift;  // 128 -> 192
  lift_ahead2.step_count = 1;
  lift_ahead2.steps[0] = ahead2.steps[0];
  StageSettings identity;  // a correction that changes nothing: every pixel back in its place
  identity.correct = true;
  std::vector<uint8_t> ramp(70);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i * 37);
  const Row rows[] = {
      {"every pixel in its place", 70, 1, ramp, identity, ramp},
      {"no clamp between steps", 20, 1, times5({200, 100, 255, 0}), twice_then_half, times5({200, 100, 255, 0})},
      {"source before", 8, 1, {100, 200, 50, 0, 255, 128, 10, 60}, back2, {100, 200, 0, 0, 230, 128, 0, 0}},
      {"source after", 8, 1, {100, 200, 50, 0, 255, 128, 10, 60}, ahead2, {125, 200, 178, 64, 255, 158, 10, 60}},
      {"corrected pixels", 3, 3, {10, 10, 10, 10, 10, 10, 10, 10, 10}, lift, {138, 138, 138, 138, 138, 138, 138, 138, 10}},
      {"halves round up", 20, 1, times5({1, 3, 0, 171}), half_up, times5({2, 5, 0, 255})},
      {"below zero", 20, 1, times5({1, 3, 0, 171}), below_zero, times5({0, 0, 0, 0})},
      {"lifted black before the line", 8, 1, std::vector<uint8_t>(8, 0), lift_back2_twice, std::vector<uint8_t>(8, 32)},
      {"lifted black after the line", 8, 1, std::vector<uint8_t>(8, 0), lift_ahead2, std::vector<uint8_t>(8, 192)},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> plane = row.in;
    ProcessLumaPlaneHighPrecision(plane.data(), row.w, row.w, row.h, row.s);
    EXPECT_EQ(plane, row.want) << row.name;
  }
}

// --precision high is one definition: tests/win32/tev_filter_test.cpp runs
// tev.exe on the same frames (246x191, 4:2:2, three frames from mt19937 seed 3)
// with the same settings and must find the same digest of the luma.
constexpr uint64_t kHighLumaDigest = 10732073909543637724ull;

uint64_t Fnv1a(const uint8_t* bytes, size_t size, uint64_t hash = 14695981039346656037ull) {
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

TEST(HighPrecision, IsTheSameBytesInEveryBuildAndAtEveryCpuLevel) {
  const int w = 246, h = 191;
  const Section section{1, 1, 7, -7, {{25, -30}, {-13, 20}, {51, 9}, {7, -4}, {100, 1}}};
  for (const uint32_t mask : {~0u, static_cast<uint32_t>(kCpuSse2 | kCpuSsse3 | kCpuAvx2), static_cast<uint32_t>(kCpuSse2), 0u}) {
    MaskCpuFlags(mask);
    std::mt19937 rng(3);
    uint64_t digest = 14695981039346656037ull;
    for (int f = 0; f < 3; ++f) {
      std::vector<uint8_t> planes(static_cast<size_t>(w) * h * 2);
      for (uint8_t& b : planes) b = static_cast<uint8_t>(static_cast<char>(rng()));
      ProcessLumaPlaneHighPrecision(planes.data(), w, w, h, section.Stages());
      digest = Fnv1a(planes.data(), static_cast<size_t>(w) * h, digest);
    }
    EXPECT_EQ(digest, kHighLumaDigest) << std::hex << digest << " with CPU mask " << mask;
  }
  MaskCpuFlags(~0u);
}

// Luma of a photograph by the plugin's own rule, reduced by the largest whole
// factor that still covers w x h (each pixel the mean of its block) and cut
// from the middle: a PAL frame's worth of natural detail.
std::vector<uint8_t> PhotoLuma(const std::string& path, int w, int h) {
  const media::DecodedImage image = media::DecodeImage(media::ReadWholeFile(path), path);
  const int f = std::min(image.size.width / w, image.size.height / h);
  if (f < 1) return {};
  const int x0 = (image.size.width / f - w) / 2, y0 = (image.size.height / f - h) / 2;
  std::vector<uint8_t> luma(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sum = 0;
      for (int dy = 0; dy < f; ++dy) {
        const uint8_t* row = &image.bgr[3 * (static_cast<size_t>((y0 + y) * f + dy) * image.size.width)];
        for (int dx = 0; dx < f; ++dx) sum += LumaOfBgr(row + 3 * ((x0 + x) * f + dx));
      }
      luma[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>((sum + f * f / 2) / (f * f));
    }
  return luma;
}

struct Reduction {
  double exact, high;
};

Reduction MeasureBoth(const std::vector<uint8_t>& clean, const demo::ChannelModel& model, int w, int h,
                      const StageSettings& s) {
  const std::vector<uint8_t> ghosted = demo::ApplyChannel(model, clean, w, h);
  const double before = demo::MeasureAgainstClean(clean, ghosted).ghost_db;
  std::vector<uint8_t> exact = ghosted, high = ghosted;
  ProcessLumaPlane(exact.data(), w, w, h, s);
  ProcessLumaPlaneHighPrecision(high.data(), w, w, h, s);
  return {before - demo::MeasureAgainstClean(clean, exact).ghost_db,
          before - demo::MeasureAgainstClean(clean, high).ghost_db};
}

StageSettings FromDemo(const std::vector<demo::StepSetting>& steps, const demo::Headroom& headroom) {
  StageSettings s;
  s.correct = true;
  s.brightness = headroom.brightness;
  s.contrast = headroom.contrast;
  for (const demo::StepSetting& step : steps) s.steps[s.step_count++] = {step.shift, step.level};
  return s;
}

// Natural photographs shipped by Debian's mate-backgrounds (installed by setup.sh).
TEST(HighPrecision, RemovesMoreGhostFromPhotographsAndTheDefaultChannel) {
  const int w = 720, h = 576;
  const demo::ChannelModel unsmeared{{{2.5, 0.3}}, 1};
  const StageSettings cascade = FromDemo(demo::CascadeSteps(unsmeared, w), {});
  std::vector<fs::path> photos;
  for (const auto& entry : fs::directory_iterator(TEV_PHOTO_DIR))
    if (entry.path().extension() == ".jpg") photos.push_back(entry.path());
  std::sort(photos.begin(), photos.end());
  ASSERT_GE(photos.size(), 4u) << TEV_PHOTO_DIR;
  double gain = 0;
  for (const fs::path& photo : photos) {
    const std::vector<uint8_t> clean = PhotoLuma(photo.string(), w, h);
    ASSERT_EQ(clean.size(), size_t{w} * h) << photo;
    const Reduction r = MeasureBoth(clean, unsmeared, w, h, cascade);
    std::printf("  %-16s cascade: exact %.1f dB, high %.1f dB\n", photo.filename().c_str(), r.exact, r.high);
    gain += (r.high - r.exact) / photos.size();
  }
  std::printf("  high removes %.1f dB more on average\n", gain);
  EXPECT_GE(gain, 3.0);

  const demo::ChannelModel channel{{{2.5, 0.3}}, 3};
  const std::vector<demo::StepSetting> fit = demo::FitSteps(channel, w);
  const demo::Canvas card = demo::MakeTestCard(w, h, 0);
  const std::vector<uint8_t> clean = media::FileFrameLuma(card.bgr, media::PixelKind::Bgr24, {w, h});
  // The demo's settings file: the steps plus the pre-correction that keeps the
  // plugin's 8-bit stages from clipping.
  const Reduction file = MeasureBoth(clean, channel, w, h, FromDemo(fit, demo::ChooseHeadroom(channel, w, fit)));
  std::printf("  default channel, test card, the demo's settings: exact %.1f dB, high %.1f dB\n", file.exact,
              file.high);
  EXPECT_GE(file.exact, 17.5);
  EXPECT_GE(file.high, 21.0);
}

}  // namespace
}  // namespace tev
