#include "media/image_file.h"

#include <cstring>

#include "media/image_codecs.h"
#include "media/whole_file.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
// Writing only, where it sees no hostile input: PNG, BMP and TGA on both
// builds (the same bytes), JPEG on Windows.
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include "stb_image_write.h"
#pragma GCC diagnostic pop

namespace tev::media {
namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, const char* magic, size_t length) {
  return bytes.size() >= length && std::memcmp(bytes.data(), magic, length) == 0;
}

// What the first bytes say, so that a misnamed file still reads and a format
// that is not read is named in the refusal.
struct Sniffed {
  const char* name = nullptr;
  bool decodable = false;
  ImageType type = ImageType::Png;
};

Sniffed Sniff(const std::vector<uint8_t>& bytes) {
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n", 8)) return {"PNG", CanDecode(ImageType::Png), ImageType::Png};
  if (StartsWith(bytes, "\xff\xd8\xff", 3)) return {"JPEG", CanDecode(ImageType::Jpeg), ImageType::Jpeg};
  if (StartsWith(bytes, "BM", 2)) return {"BMP", CanDecode(ImageType::Bmp), ImageType::Bmp};
  if (bytes.size() >= 2 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7') return {"PNM"};
  if (StartsWith(bytes, "GIF8", 4)) return {"GIF"};
  if (StartsWith(bytes, "II*\0", 4) || StartsWith(bytes, "MM\0*", 4)) return {"TIFF"};
  return {};
}

// A chunk's length is read before its bytes, and the decoders allocate it
// first: a few hundred hostile bytes could claim gigabytes. The whole file is
// in memory, so no chunk can be longer than what is left of it.
void CheckPngChunks(const std::vector<uint8_t>& bytes, const std::string& name) {
  size_t at = 8;
  while (bytes.size() - at >= 8) {
    const uint32_t length = static_cast<uint32_t>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
    if (length > bytes.size() - at - 8 || bytes.size() - at - 8 - length < 4)
      throw FrameFileError("cannot decode image '" + name + "': damaged PNG (a chunk runs past the end of the file)");
    if (std::memcmp(&bytes[at + 4], "IEND", 4) == 0) return;
    at += 12 + static_cast<size_t>(length);
  }
}

void AppendToVector(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(context);
  out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

}  // namespace

const char* ReadableImageFormats() {
  return CanDecode(ImageType::Bmp) ? "PNG, JPEG, BMP" : "PNG, JPEG";
}

void CheckImageSize(const std::string& name, uint64_t width, uint64_t height, size_t max_pixels) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || width * height > max_pixels)
    throw FrameFileError("'" + name + "': image size " + std::to_string(width) + "x" + std::to_string(height) +
                         " is outside what is read (sides 1.." + std::to_string(kMaxSide) + ")");
}

DecodedImage DecodeImage(const std::vector<uint8_t>& bytes, const std::string& name, size_t max_pixels) {
  const Sniffed sniffed = Sniff(bytes);
  if (!sniffed.name)
    throw FrameFileError("'" + name + "' is not an image this program reads (" + ReadableImageFormats() + ")");
  if (!sniffed.decodable)
    throw FrameFileError("'" + name + "' is a " + sniffed.name + " image, which this program does not read (it reads " +
                         ReadableImageFormats() + ")");
  if (sniffed.type == ImageType::Png) CheckPngChunks(bytes, name);
  DecodedImage image = DecodeImageOfType(sniffed.type, bytes, name, max_pixels);
  image.lossy = sniffed.type == ImageType::Jpeg;
  return image;
}

std::vector<uint8_t> EncodeImage(const std::string& path, const std::vector<uint8_t>& rgb, FrameSize size) {
  std::vector<uint8_t> encoded;
  const std::string ext = FileExtension(path);
  int ok = 0;
  if (ext == "png") {
    ok = stbi_write_png_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data(), size.width * 3);
  } else if (ext == "bmp") {
    ok = stbi_write_bmp_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data());
  } else if (ext == "jpg" || ext == "jpeg") {
#ifdef _WIN32
    ok = stbi_write_jpg_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data(), 95);
#else
    encoded = EncodeJpeg(rgb, size, 95);
    ok = 1;
#endif
  } else if (ext == "tga") {
    ok = stbi_write_tga_to_func(AppendToVector, &encoded, size.width, size.height, 3, rgb.data());
  } else {
    throw FrameFileError("cannot write image '" + path + "': use a .png, .bmp, .jpg or .tga name");
  }
  if (!ok) throw FrameFileError("cannot encode image '" + path + "'");
  return encoded;
}

void WriteRgbImage(const std::string& path, const std::vector<uint8_t>& rgb, FrameSize size) {
  WriteWholeFile(path, EncodeImage(path, rgb, size));
}

}  // namespace tev::media
