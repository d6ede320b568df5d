// libFuzzer target over the image decoders and the frame-file readers:
//  1. any bytes either decode to a picture of the size they claim or are
//     refused with FrameFileError; a decoded picture written as PNG and read
//     again gives the very same pixels;
//  2. the same bytes as a Y4M file give frames, or a FrameFileError; frames
//     read, written and read again are the same;
//  3. the same bytes as a Y4M stream of any chroma layout (what tev filter
//     reads) are refused with a reason, or give whole frames of the size their
//     layout says, up to a reason naming the frame; written back, they are
//     the very bytes that were read.
// Anything else thrown, a disagreement or a sanitizer report is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "media/frame_sink.h"
#include "media/frame_source.h"
#include "media/image_file.h"
#include "media/y4m_stream.h"

namespace tev::fuzz {
namespace {

using namespace tev::media;

// Keeps each run fast; the size checks themselves are exercised below it.
// A Y4M file needs no such limit: it is refused unless it holds a whole frame.
constexpr size_t kMaxPixels = 1 << 20;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "media fuzz: %s\n", what);
    std::abort();
  }
}

std::string ScratchPath(const char* name) {
  static const std::string folder = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/tev-media-fuzz-" + std::to_string(getpid()) + "-";
  }();
  return folder + name;
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot write the scratch file");
  if (size) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

void ImagesDecodeOrAreRefused(const std::vector<uint8_t>& bytes) {
  DecodedImage image;
  try {
    image = DecodeImage(bytes, "fuzz", kMaxPixels);
  } catch (const FrameFileError&) {
    return;
  }
  const FrameSize size = image.size;
  Check(size.width >= 1 && size.height >= 1, "decoded an empty picture");
  Check(image.bgr.size() == FrameBytes(PixelKind::Bgr24, size), "picture bytes do not match its size");
  std::vector<uint8_t> rgb = image.bgr;
  for (size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
  const DecodedImage again = DecodeImage(EncodeImage("again.png", rgb, size), "again", kMaxPixels);
  Check(again.bgr == image.bgr, "PNG round trip changed the picture");
}

void Y4mReadsOrIsRefused(const uint8_t* data, size_t size) {
  const std::string in = ScratchPath("in.y4m"), out = ScratchPath("out.y4m");
  WriteFile(in, data, size);
  std::vector<std::vector<uint8_t>> frames;
  FrameSize frame_size;
  std::string params;
  try {
    auto source = OpenFrameSource(in, FileFormat::Y4m, {});
    frame_size = source->size();
    params = source->y4m_params();
    std::vector<uint8_t> frame;
    while (frames.size() < 4 && source->Next(frame)) {
      Check(frame.size() == FrameBytes(PixelKind::Yuy2, frame_size), "frame bytes do not match the size");
      frames.push_back(frame);
    }
  } catch (const FrameFileError&) {
  }
  std::remove(in.c_str());
  if (frames.empty()) return;
  {
    FrameSink sink(out, FileFormat::Y4m, frame_size, params);
    for (const auto& frame : frames) sink.Put(frame, PixelKind::Yuy2);
    sink.Commit();
  }
  auto again = OpenFrameSource(out, FileFormat::Y4m, frame_size);
  std::vector<uint8_t> frame;
  for (const auto& expected : frames) {
    Check(again->Next(frame), "a written frame is missing");
    Check(frame == expected, "Y4M round trip changed a frame");
  }
  std::remove(out.c_str());
}

size_t ChromaPlaneBytes(const Y4mFormat& f) {
  const size_t w = f.width, h = f.height;
  switch (f.chroma) {
    case Y4mChroma::Mono: return 0;
    case Y4mChroma::C420: return ((w + 1) / 2) * ((h + 1) / 2);
    case Y4mChroma::C422: return ((w + 1) / 2) * h;
    case Y4mChroma::C444: return w * h;
    case Y4mChroma::C411: return ((w + 3) / 4) * h;
  }
  return 0;
}

void Y4mStreamRoundTrips(const uint8_t* data, size_t size) {
  if (size == 0) return;
  std::FILE* in = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  Check(in != nullptr, "cannot open the bytes as a stream");
  Y4mReader reader(in);
  if (!reader.ReadHeader()) {
    Check(!reader.error().empty() && reader.refusal() != Y4mRefusal::None, "header refused without a reason");
    std::fclose(in);
    return;
  }
  const Y4mFormat& f = reader.format();
  Check(f.luma_bytes == size_t{1} * f.width * f.height && f.chroma_plane_bytes == ChromaPlaneBytes(f) &&
            f.frame_bytes == f.luma_bytes + 2 * f.chroma_plane_bytes,
        "plane sizes do not match the layout");
  char* written = nullptr;
  size_t written_size = 0;
  std::FILE* out = open_memstream(&written, &written_size);
  Y4mWriter writer(out);
  Check(writer.WriteHeader(f), "cannot write the header");
  long whole = std::ftell(in);  // the bytes read up to the last whole frame
  // A frame larger than the input cannot come whole; it would only cost memory.
  if (f.frame_bytes < size) {
    std::string params;
    std::vector<uint8_t> planes;
    Y4mReader::Result got;
    while ((got = reader.ReadFrame(params, planes)) == Y4mReader::Result::Frame) {
      Check(planes.size() == f.frame_bytes, "frame bytes do not match the layout");
      Check(writer.WriteFrame(params, planes.data(), planes.size()), "cannot write a frame");
      whole = std::ftell(in);
    }
    if (got == Y4mReader::Result::Error) {
      const std::string frame = "frame " + std::to_string(reader.frames_read() + 1);
      Check(reader.error().compare(0, frame.size(), frame) == 0, "a bad frame is not named by its number");
    }
  }
  std::fclose(out);
  std::fclose(in);
  Check(written_size == static_cast<size_t>(whole) && std::memcmp(written, data, written_size) == 0,
        "the stream written back differs from the bytes read");
  std::free(written);
}

}  // namespace
}  // namespace tev::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tev::fuzz;
  ImagesDecodeOrAreRefused(std::vector<uint8_t>(data, data + size));
  Y4mReadsOrIsRefused(data, size);
  Y4mStreamRoundTrips(data, size);
  return 0;
}
