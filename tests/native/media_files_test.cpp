// Frame and image files: every format round-trips, every image the decoders
// meet comes out right or is refused with a clear error, and a bad input or an
// interrupted run leaves no output behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "media/file_colour.h"
#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/image_file.h"
#include "media/temporary_files.h"

namespace tev::media {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

class FrameIoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tev_frame_io_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                        "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void WriteBytes(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

  fs::path dir_;
};

TEST_F(FrameIoTest, EveryFormatRoundTripsItsOwnFrames) {
  const FrameSize size{6, 4};
  struct Case {
    const char* name;
    FileFormat format;
    PixelKind kind;
  };
  for (const Case& c : {Case{"a.yuy2", FileFormat::RawYuy2, PixelKind::Yuy2},
                        Case{"a.bgr24", FileFormat::RawBgr24, PixelKind::Bgr24},
                        Case{"a.y4m", FileFormat::Y4m, PixelKind::Yuy2}}) {
    SCOPED_TRACE(c.name);
    const std::vector<std::vector<uint8_t>> frames = {Random(FrameBytes(c.kind, size), 1),
                                                      Random(FrameBytes(c.kind, size), 2)};
    {
      FrameSink sink(Path(c.name), GuessFileFormat(c.name), size, "");
      for (const auto& frame : frames) sink.Put(frame, c.kind);
      sink.Commit();
    }
    auto source = OpenFrameSource(Path(c.name), c.format, c.format == FileFormat::Y4m ? FrameSize{} : size);
    EXPECT_EQ(source->kind(), c.kind);
    EXPECT_EQ(source->size().width, 6);
    std::vector<uint8_t> frame;
    for (const auto& expected : frames) {
      ASSERT_TRUE(source->Next(frame));
      EXPECT_EQ(frame, expected);
    }
    EXPECT_FALSE(source->Next(frame));
  }
}

TEST_F(FrameIoTest, Y4mPlanesBecomeYuy2PairsAndKeepStreamParameters) {
  // 4x1 frame: Y 10 20 30 40, U 1 2, V 7 8.
  WriteBytes("in.y4m", std::string("YUV4MPEG2 W4 H1 F30000:1001 It A1:1 C422 XCOLORRANGE=FULL\nFRAME\n") +
                           std::string("\x0a\x14\x1e\x28\x01\x02\x07\x08", 8));
  auto source = OpenFrameSource(Path("in.y4m"), FileFormat::Y4m, {});
  std::vector<uint8_t> frame;
  ASSERT_TRUE(source->Next(frame));
  EXPECT_EQ(frame, (std::vector<uint8_t>{10, 1, 20, 7, 30, 2, 40, 8}));
  EXPECT_EQ(source->y4m_params(), " F30000:1001 It A1:1 XCOLORRANGE=FULL");
}

TEST_F(FrameIoTest, StillImagesComeInAsBgrAndGoOutAsTheirFormat) {
  const FrameSize size{3, 2};
  const std::vector<uint8_t> bgr = {0, 0, 255, 0, 255, 0, 255, 0, 0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
  {
    FrameSink sink(Path("p.png"), FileFormat::Image, size, "");
    sink.Put(bgr, PixelKind::Bgr24);
    sink.Commit();
  }
  auto source = OpenFrameSource(Path("p.png"), FileFormat::Image, {});
  std::vector<uint8_t> frame;
  ASSERT_TRUE(source->Next(frame));
  EXPECT_EQ(frame, bgr);  // PNG is lossless
}

TEST_F(FrameIoTest, BadInputsAreClearErrors) {
  WriteBytes("odd.yuy2", std::string(7, '\0'));
  WriteBytes("empty.yuy2", "");
  WriteBytes("c420.y4m", "YUV4MPEG2 W4 H2 F25:1 C420jpeg\nFRAME\n" + std::string(12, '\0'));
  WriteBytes("short.y4m", "YUV4MPEG2 W4 H2 C422\nFRAME\n" + std::string(16, '\0') + "FRAME\n" + std::string(5, '\0'));
  WriteBytes("huge.y4m", "YUV4MPEG2 W16384 H8192 C422\nFRAME\n" + std::string(5, '\0'));
  WriteBytes("big.y4m", "YUV4MPEG2 W4 H2 C422\nFRAME\n" + std::string(16, '\0'));
  WriteBytes("junk.y4m", "not a stream\n");
  WriteBytes("junk.png", "not a picture");
  struct Case {
    const char* file;
    const char* format;
    FrameSize size;
    const char* message;
  };
  const Case cases[] = {
      {"missing.yuy2", "auto", {4, 2}, "cannot read input file"},
      {"odd.yuy2", "auto", {2, 1}, "size does not match"},
      {"empty.yuy2", "auto", {2, 1}, "is empty"},
      {"odd.yuy2", "auto", {}, "needs a frame size"},
      {"odd.yuy2", "auto", {3, 1}, "even width"},
      {"odd.yuy2", "nv12", {2, 1}, "unknown format 'nv12'"},
      {"odd.raw", "auto", {2, 1}, "unknown format of"},
      {"c420.y4m", "auto", {}, "not supported"},
      {"big.y4m", "auto", {8, 2}, "size does not match"},
      {"junk.y4m", "auto", {}, "not a YUV4MPEG2 file"},
      {"huge.y4m", "auto", {}, "truncated Y4M frame"},  // refused before a quarter of a gigabyte is allocated
      {"junk.png", "auto", {}, "is not an image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    try {
      auto source = OpenFrameSource(Path(c.file), ResolveFileFormat(c.format, Path(c.file)), c.size);
      FAIL() << "accepted";
    } catch (const FrameFileError& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
  }
  // A damaged later frame shows up while reading.
  auto source = OpenFrameSource(Path("short.y4m"), FileFormat::Y4m, {});
  std::vector<uint8_t> frame;
  EXPECT_TRUE(source->Next(frame));
  EXPECT_THROW(source->Next(frame), FrameFileError);
}

TEST_F(FrameIoTest, AnUnfinishedOutputLeavesNothingBehind) {
  const FrameSize size{2, 2};
  const std::vector<uint8_t> frame(FrameBytes(PixelKind::Yuy2, size), 100);
  {
    FrameSink sink(Path("out.yuy2"), FileFormat::RawYuy2, size, "");
    sink.Put(frame, PixelKind::Yuy2);
    // destroyed without Commit, as when a later frame fails
  }
  {
    FrameSink sink(Path("one.png"), FileFormat::Image, size, "");
    sink.Put(frame, PixelKind::Yuy2);
    EXPECT_THROW(sink.Put(frame, PixelKind::Yuy2), FrameFileError);
  }
  EXPECT_THROW(FrameSink(Path("out.gif"), FileFormat::Image, size, ""), FrameFileError);
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(FrameIoTest, TemporariesBelongToTheirRunAndAnInterruptRemovesThem) {
  const FrameSize size{2, 1};
  FrameSink first(Path("out.yuy2"), FileFormat::RawYuy2, size, "");
  FrameSink second(Path("out.yuy2"), FileFormat::RawYuy2, size, "");
  first.Put({1, 2, 3, 4}, PixelKind::Yuy2);
  second.Put({5, 6, 7, 8}, PixelKind::Yuy2);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  RemoveAllTemporaries();  // as the console's Ctrl+C handler does, with both still open
  EXPECT_TRUE(fs::is_empty(dir_));
}

// A PNG of one row, built by hand so that the test chooses every header field.
std::string Png(int width, int bit_depth, int colour_type, const std::string& row) {
  const auto chunk = [](const std::string& type, const std::string& data) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(data.size() >> shift);
    const std::string body = type + data;
    out += body;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(crc >> shift);
    return out;
  };
  std::string header(13, '\0');
  for (int i = 0; i < 4; ++i) header[i] = static_cast<char>(width >> (24 - 8 * i));
  header[7] = 1;  // height
  header[8] = static_cast<char>(bit_depth);
  header[9] = static_cast<char>(colour_type);
  const std::string raw = std::string(1, '\0') + row;  // filter type None
  std::string packed(compressBound(static_cast<uLong>(raw.size())), '\0');
  uLongf packed_size = packed.size();
  compress(reinterpret_cast<Bytef*>(packed.data()), &packed_size, reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  packed.resize(packed_size);
  return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", packed) + chunk("IEND", "");
}

TEST(ImageDecoding, EveryImageComesOutRightOrIsRefusedClearly) {
  const std::vector<uint8_t> grey_jpeg = EncodeImage("g.jpg", std::vector<uint8_t>(16 * 16 * 3, 128), {16, 16});
  const std::string jpeg(grey_jpeg.begin(), grey_jpeg.end());
  // Noise, so that the cut falls inside the coded pixels, past every header.
  const std::vector<uint8_t> noise = EncodeImage("n.jpg", Random(64 * 64 * 3, 3), {64, 64});
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<uint8_t> bgr;  // the expected pixels, or empty when refused
    const char* refusal;
  };
  const Case cases[] = {
      // 16-bit samples k*257 are the 8-bit value k, whatever the rounding.
      {"16-bit grey PNG", Png(2, 16, 0, std::string("\x00\x00\xff\xff", 4)), {0, 0, 0, 255, 255, 255}, ""},
      {"16-bit RGB PNG", Png(1, 16, 2, std::string("\x12\x12\x34\x34\x56\x56", 6)), {0x56, 0x34, 0x12}, ""},
      // Alpha is dropped, never composed over a background.
      {"RGBA PNG", Png(1, 8, 6, std::string("\x10\x20\x30\x80", 4)), {0x30, 0x20, 0x10}, ""},
      {"1-bit grey PNG", Png(3, 1, 0, std::string("\xa0", 1)), {255, 255, 255, 0, 0, 0, 255, 255, 255}, ""},
      {"JPEG", jpeg, std::vector<uint8_t>(16 * 16 * 3, 128), ""},
      {"truncated PNG", Png(2, 16, 0, std::string(4, '\x7f')).substr(0, 45), {}, "damaged PNG"},
      // An ancillary chunk claiming 1.7 GB in a file of a hundred bytes.
      {"PNG chunk past the end",
       Png(1, 8, 0, "x").insert(33, std::string("\x67\x32\x00\x26tEXt", 8)), {}, "chunk runs past the end"},
      {"truncated JPEG", std::string(noise.begin(), noise.end() - 100), {}, "damaged JPEG"},
      {"PNG wider than any frame", Png(20000, 8, 0, std::string(20000, '\0')), {}, "image size 20000x1"},
      {"PNM", "P5\n2 1\n65535\n\x01\x02\x03\x04", {}, "PNM image, which this program does not read"},
      {"BMP", "BM" + std::string(60, '\0'), {}, "BMP image, which this program does not read"},
      {"text", "hello", {}, "is not an image this program reads (PNG, JPEG)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> bytes(c.bytes.begin(), c.bytes.end());
    try {
      const DecodedImage image = DecodeImage(bytes, "in.img");
      EXPECT_EQ(image.bgr, c.bgr);
      EXPECT_EQ(static_cast<size_t>(image.size.width) * image.size.height * 3, image.bgr.size());
    } catch (const FrameFileError& error) {
      EXPECT_TRUE(c.bgr.empty()) << error.what();
      EXPECT_NE(std::string(error.what()).find(c.refusal), std::string::npos) << error.what();
    }
  }
  // A caller's pixel limit applies before any pixel is decoded.
  EXPECT_THROW(DecodeImage(grey_jpeg, "in.jpg", 255), FrameFileError);
}

TEST(ColourConversion, GreysStayGreyAndColoursComeBackClose) {
  const FrameSize size{256, 1};
  std::vector<uint8_t> grey(256 * 3);
  for (int i = 0; i < 256; ++i) grey[3 * i] = grey[3 * i + 1] = grey[3 * i + 2] = static_cast<uint8_t>(i);
  const auto yuy2 = ConvertFileFrame(grey, PixelKind::Bgr24, PixelKind::Yuy2, size);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(yuy2[2 * i], i);
  EXPECT_EQ(ConvertFileFrame(yuy2, PixelKind::Yuy2, PixelKind::Bgr24, size), grey);

  // Pairs of equal colours lose nothing to the shared chroma: only rounding remains.
  std::mt19937 rng(7);
  std::vector<uint8_t> colours(256 * 3);
  for (int i = 0; i < 256; i += 2)
    for (int c = 0; c < 3; ++c) colours[3 * i + c] = colours[3 * i + 3 + c] = static_cast<uint8_t>(rng());
  const auto back = ConvertFileFrame(ConvertFileFrame(colours, PixelKind::Bgr24, PixelKind::Yuy2, size), PixelKind::Yuy2,
                                 PixelKind::Bgr24, size);
  for (size_t i = 0; i < colours.size(); ++i) EXPECT_NEAR(back[i], colours[i], 3) << i;
}

TEST(FrameSizeText, AcceptsOnlyWidthByHeightWithinLimits) {
  EXPECT_EQ(ParseFrameSize("720x576").width, 720);
  EXPECT_EQ(ParseFrameSize("2X1").height, 1);
  for (const char* bad : {"", "720", "x576", "720x", "0x10", "-2x4", "720x576x3", "99999999x2", "20000x2", "7 x5"})
    EXPECT_THROW(ParseFrameSize(bad), FrameFileError) << bad;
}

}  // namespace
}  // namespace tev::media
