// tev.exe gives the DLL's luma: the same 4:2:2 frames through tevhost.exe with
// the real DLL and through tev.exe filter (standard streams, which must be
// binary) come out with the same luma bytes; tev.exe leaves the chroma and
// every header parameter as they came.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "media/y4m_stream.h"
#include "support/child_process.h"
#include "support/plugin_loader.h"

namespace tev {
namespace {

struct ProgramRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string log;
};

HANDLE OpenInherited(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
}

// Runs `command`, standard input and output from and to files when named.
ProgramRun Start(const std::string& command, const std::string& dir, const std::string& in = "",
          const std::string& out = "") {
  HANDLE log = OpenInherited(dir + "run.log", true);
  HANDLE input = in.empty() ? GetStdHandle(STD_INPUT_HANDLE) : OpenInherited(in, false);
  HANDLE output = out.empty() ? log : OpenInherited(out, true);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = log;
  std::string line = command;
  PROCESS_INFORMATION process{};
  ProgramRun run;
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    run.exit_code = testing::ChildProcess(process).Await(120000);
  }
  if (!in.empty()) CloseHandle(input);
  if (!out.empty()) CloseHandle(output);
  CloseHandle(log);
  if (std::FILE* f = std::fopen((dir + "run.log").c_str(), "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) run.log.append(buffer, n);
    std::fclose(f);
  }
  return run;
}

struct Stream {
  media::Y4mFormat format;
  std::vector<std::vector<uint8_t>> frames;
};

Stream ReadStream(const std::string& path) {
  Stream s;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return s;
  media::Y4mReader reader(file);
  std::string params;
  std::vector<uint8_t> planes;
  if (reader.ReadHeader()) {
    s.format = reader.format();
    while (reader.ReadFrame(params, planes) == media::Y4mReader::Result::Frame) s.frames.push_back(planes);
  }
  std::fclose(file);
  return s;
}

// tev.exe --precision high on these frames and settings: the digest that
// tests/native/tev_filter_test.cpp pins for the native build.
constexpr uint64_t kHighLumaDigest = 10732073909543637724ull;

TEST(TevFilterUnderWine, GivesTheDllsLumaAndKeepsChroma) {
  const std::string host = testing::WindowsPathFromEnv("TEV_HOST");
  const std::string tev = host.substr(0, host.find_last_of('\\') + 1) + "tev.exe";
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string dir = std::string(temp) + "tev_filter_test_" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(dir.c_str(), nullptr);

  // A width and a frame that are no multiple of 4, so that the steps' edge
  // groups and the correction's frame-wide pixel limit both matter.
  const int w = 246, h = 191;
  const std::string header = "YUV4MPEG2 W246 H191 F25:1 Ip A1:1 C422";
  std::mt19937 rng(3);
  std::string input = header + "\n";
  for (int f = 0; f < 3; ++f) {
    input += "FRAME\n";
    for (int i = 0; i < w * h * 2; ++i) input += static_cast<char>(rng());
  }
  const std::string settings =
      "[DIALOG]\r\nDlgWndPosX=-100\r\nDlgWndPosY=-100\r\n[1001]\r\nProcEnable=1\r\nCorrEnable=1\r\n"
      "Brightness=7\r\nContrast=-7\r\nStep1_Enable=1\r\nStep1_Shift=25\r\nStep1_Level=-30\r\n"
      "Step2_Enable=1\r\nStep2_Shift=-13\r\nStep2_Level=20\r\nStep3_Enable=0\r\nStep3_Shift=40\r\nStep3_Level=50\r\n"
      "Step4_Enable=1\r\nStep4_Shift=51\r\nStep4_Level=9\r\nStep5_Enable=1\r\nStep5_Shift=7\r\nStep5_Level=-4\r\n"
      "Step6_Enable=1\r\nStep6_Shift=100\r\nStep6_Level=1\r\n";
  for (const auto& [name, text] : {std::pair{"in.y4m", input}, std::pair{"tuned.ini", settings}}) {
    std::FILE* f = std::fopen((dir + name).c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }

  const ProgramRun by_host = Start("\"" + host + "\" --in " + dir + "in.y4m --out " + dir + "host.y4m --settings " + dir +
                                "tuned.ini --channel 1001",
                            dir);
  ASSERT_EQ(by_host.exit_code, 0u) << by_host.log;
  const ProgramRun by_tev = Start("\"" + tev + "\" filter --settings " + dir + "tuned.ini --channel 1001 -q", dir,
                           dir + "in.y4m", dir + "tev.y4m");
  ASSERT_EQ(by_tev.exit_code, 0u) << by_tev.log;

  const ProgramRun high = Start("\"" + tev + "\" filter --settings " + dir + "tuned.ini --channel 1001 -q --precision high",
                                dir, dir + "in.y4m", dir + "high.y4m");
  ASSERT_EQ(high.exit_code, 0u) << high.log;

  const Stream in = ReadStream(dir + "in.y4m");
  const Stream by_dll = ReadStream(dir + "host.y4m");
  const Stream out = ReadStream(dir + "tev.y4m");
  ASSERT_EQ(in.frames.size(), 3u);
  ASSERT_EQ(by_dll.frames.size(), 3u);
  ASSERT_EQ(out.frames.size(), 3u);
  EXPECT_EQ(out.format.header, header);
  const size_t luma = static_cast<size_t>(w) * h;
  for (size_t f = 0; f < 3; ++f) {
    EXPECT_NE(out.frames[f], in.frames[f]) << "frame " << f << " was not processed";
    EXPECT_TRUE(std::equal(out.frames[f].begin(), out.frames[f].begin() + luma, by_dll.frames[f].begin()))
        << "frame " << f << ": luma differs from the DLL's";
    EXPECT_TRUE(std::equal(out.frames[f].begin() + luma, out.frames[f].end(), in.frames[f].begin() + luma))
        << "frame " << f << ": chroma changed";
  }

  // The same wide arithmetic as the native build, byte for byte.
  const Stream by_high = ReadStream(dir + "high.y4m");
  ASSERT_EQ(by_high.frames.size(), 3u);
  uint64_t digest = 14695981039346656037ull;  // FNV-1a over the luma of every frame
  for (const std::vector<uint8_t>& frame : by_high.frames)
    for (size_t i = 0; i < luma; ++i) digest = (digest ^ frame[i]) * 1099511628211ull;
  EXPECT_EQ(digest, kHighLumaDigest);

  for (const char* name : {"in.y4m", "tuned.ini", "host.y4m", "tev.y4m", "high.y4m", "run.log"})
    DeleteFileA((dir + name).c_str());
  RemoveDirectoryA(dir.c_str());
}

}  // namespace
}  // namespace tev
