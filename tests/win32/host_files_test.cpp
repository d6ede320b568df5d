// tevhost.exe's files under Wine: every image it is given decodes to the right
// pixels or is refused with a clear error and no output; a full disk and a
// read-only target are reported with the system's own reason, and leave
// neither a partial output nor a temporary behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/file_access.h"
#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/image_file.h"
#include "media/whole_file.h"
#include "support/plugin_loader.h"
#include "support/started_program.h"
#include "support/test_folder.h"

namespace tev {
namespace {

using HostRun = testing::ProgramRun;

std::string Le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}

std::string Be32(uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

// A 4x3 picture, given top row first, with a distinct colour in every pixel.
constexpr int kWidth = 4, kHeight = 3;
uint8_t Level(int x, int y) { return static_cast<uint8_t>(10 * x + 50 * y + 5); }

std::string ExpectedBgr(bool grey) {
  std::string bgr;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t v = Level(x, y);
      bgr += grey ? std::string(3, static_cast<char>(v)) : std::string{char(v), char(v / 2), char(255 - v)};
    }
  return bgr;
}

// 24-bit BMP, rows bottom-up (positive height) or top-down (negative height).
std::string Bmp(bool top_down) {
  std::string rows[kHeight];
  for (int y = 0; y < kHeight; ++y) rows[y] = ExpectedBgr(false).substr(y * kWidth * 3, kWidth * 3);  // 12: no padding
  std::string pixels;
  for (int i = 0; i < kHeight; ++i) pixels += rows[top_down ? i : kHeight - 1 - i];
  const std::string info = Le(40, 4) + Le(kWidth, 4) + Le(top_down ? -kHeight : kHeight, 4) + Le(1, 2) + Le(24, 2) +
                           Le(0, 4) + Le(static_cast<uint32_t>(pixels.size()), 4) + Le(2835, 4) + Le(2835, 4) +
                           Le(0, 4) + Le(0, 4);
  return "BM" + Le(static_cast<uint32_t>(14 + info.size() + pixels.size()), 4) + Le(0, 4) + Le(54, 4) + info + pixels;
}

// 16-bit grey samples k*257, which are the 8-bit value k however they are reduced.
std::string Grey16Samples() {
  std::string samples;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) samples += std::string(2, static_cast<char>(Level(x, y)));
  return samples;
}

// A 16-bit grey PNG with stored (uncompressed) deflate blocks.
std::string Png16Grey() {
  const auto crc = [](const std::string& bytes) {
    uint32_t c = 0xFFFFFFFF;
    for (unsigned char b : bytes) {
      c ^= b;
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
  };
  const auto chunk = [&](const std::string& type, const std::string& data) {
    return Be32(static_cast<uint32_t>(data.size())) + type + data + Be32(crc(type + data));
  };
  std::string raw;
  const std::string samples = Grey16Samples();
  for (int y = 0; y < kHeight; ++y) raw += '\0' + samples.substr(y * kWidth * 2, kWidth * 2);
  uint32_t a = 1, b = 0;
  for (unsigned char c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  const std::string zlib = std::string("\x78\x01\x01", 3) + Le(static_cast<uint32_t>(raw.size()), 2) +
                           Le(~static_cast<uint32_t>(raw.size()), 2) + raw + Be32(b << 16 | a);
  const std::string header = Be32(kWidth) + Be32(kHeight) + std::string("\x10\x00\x00\x00\x00", 5);
  return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", zlib) + chunk("IEND", "");
}

class HostFilesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    host_ = testing::WindowsPathFromEnv("TEV_HOST");
    dir_ = testing::MakeTestFolder("tev_host_files_test_");
    Write("empty.ini", "");  // the plugin's defaults: frames pass unchanged
  }

  static void TearDownTestSuite() {
    testing::RemoveFolderAndFiles(media::WideText(dir_));
  }

  static std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
  }

  static void Write(const std::string& name, const std::string& bytes) {
    media::WriteWholeFile(dir_ + name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }

  static std::string Read(const std::string& path) {
    const std::vector<uint8_t> bytes = media::ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
  }

  // Runs tevhost.exe with `args` (and the empty settings) and waits for it.
  static HostRun Run(const std::string& args) {
    // A log of its own per run: the finished child may still hold the last one.
    static int runs = 0;
    testing::StartedProgram started = testing::StartProgram(
        "\"" + host_ + "\" --settings " + dir_ + "empty.ini " + args, dir_ + "run" + std::to_string(++runs) + ".log");
    return testing::FinishProgram(started);
  }

  static std::string host_;
  static std::string dir_;
};

std::string HostFilesTest::host_;
std::string HostFilesTest::dir_;

TEST_F(HostFilesTest, ImagesDecodeToTheirPixelsOrAreRefusedCleanly) {
  const std::string bottom_up = Bmp(false);
  struct Case {
    const char* name;
    std::string bytes;
    std::string bgr;      // the pixels the plugin must get, or empty when refused
    const char* refusal;  // a part of the message when refused
  };
  const Case cases[] = {
      {"bottom-up.bmp", bottom_up, ExpectedBgr(false), ""},
      {"top-down.bmp", Bmp(true), ExpectedBgr(false), ""},
      // Wine's decoder cannot convert 16-bit grey straight to 24-bit colour.
      {"grey16.png", Png16Grey(), ExpectedBgr(true), ""},
      {"truncated.bmp", bottom_up.substr(0, bottom_up.size() - 12), "", "as BMP: the pixel rows end early"},
      {"grey16.pgm", "P5\n4 3\n65535\n" + Grey16Samples(), "", "is a PNM image, which this program does not read"},
      {"text.png", "not a picture", "", "is not an image this program reads (PNG, JPEG, BMP)"},
  };
  const std::string out = dir_ + "out.bgr24";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(c.name, c.bytes);
    const HostRun run = Run("--in " + dir_ + c.name + " --out " + out);
    if (c.bgr.empty()) {
      EXPECT_EQ(run.exit_code, 1u) << run.output;
      EXPECT_NE(run.output.find(c.refusal), std::string::npos) << run.output;
      EXPECT_EQ(GetFileAttributesA(out.c_str()), INVALID_FILE_ATTRIBUTES);
    } else {
      ASSERT_EQ(run.exit_code, 0u) << run.output;
      EXPECT_EQ(Read(out), c.bgr);
      DeleteFileA(out.c_str());
    }
    DeleteFileA((dir_ + c.name).c_str());
  }
}

TEST_F(HostFilesTest, FullDiskAndReadOnlyTargetGiveTheSystemsReason) {
  Write("frame.yuy2", std::string(720 * 576 * 2, '\x40'));
  const std::string in = "--in " + dir_ + "frame.yuy2 --size 720x576 --out ";

  // A read-only output file is left as it was; the temporary goes too.
  const std::string locked = dir_ + "locked.yuy2";
  Write("locked.yuy2", "keep");
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
  const HostRun read_only = Run(in + locked);
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(read_only.exit_code, 1u) << read_only.output;
  EXPECT_NE(read_only.output.find("cannot write output file '" + locked + "': Permission denied"), std::string::npos)
      << read_only.output;
  EXPECT_TRUE(Read(locked) == "keep");
  for (const std::string& name : FilesIn(dir_)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;

  // CTest mounts a file system of 256 KiB there when it runs as root.
  std::string full = testing::WindowsPathFromEnv("TEV_FULL_DISK");
  ULARGE_INTEGER total{};
  if (full.empty() || !GetDiskFreeSpaceExA(full.c_str(), nullptr, &total, nullptr) ||
      total.QuadPart > (1u << 20))
    GTEST_SKIP() << "no small file system at TEV_FULL_DISK (mounting one needs root)";
  full += "\\";
  const HostRun full_disk = Run(in + full + "out.yuy2");
  EXPECT_EQ(full_disk.exit_code, 1u) << full_disk.output;
  EXPECT_NE(full_disk.output.find("cannot write output file '" + full + "out.yuy2': No space left on device"),
            std::string::npos)
      << full_disk.output;
  EXPECT_TRUE(FilesIn(full).empty());
}

TEST_F(HostFilesTest, MediaFilesTakeCyrillicAndCjkNames) {
  // UTF-8 names in, and the very same names on disk, by the wide calls.
  const std::vector<uint8_t> frame = {1, 2, 3, 4};
  {
    media::FrameSink sink(dir_ + "кадр-画像.yuy2", media::FileFormat::RawYuy2, {2, 1}, "");
    sink.Put(frame, media::PixelKind::Yuy2);
    sink.Commit();
  }
  std::vector<uint8_t> read;
  ASSERT_TRUE(media::OpenFrameSource(dir_ + "кадр-画像.yuy2", media::FileFormat::RawYuy2, {2, 1})->Next(read));
  EXPECT_EQ(read, frame);
  media::WriteRgbImage(dir_ + "снимок.png", {10, 20, 30}, {1, 1});
  ASSERT_TRUE(media::OpenFrameSource(dir_ + "снимок.png", media::FileFormat::Image, {})->Next(read));
  EXPECT_EQ(read, (std::vector<uint8_t>{30, 20, 10}));
  const std::wstring folder(dir_.begin(), dir_.end());
  for (const wchar_t* name : {L"кадр-画像.yuy2", L"снимок.png"})
    EXPECT_NE(GetFileAttributesW((folder + name).c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace tev
