// Native image coding with the formats' own libraries: libpng and
// libjpeg-turbo, both fuzzed upstream and kept current by Debian.
#ifndef _WIN32

#include <png.h>
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <cstdlib>
#include <memory>

#include "media/image_codecs.h"

namespace tev::media {
namespace {

DecodedImage DecodePng(const std::vector<uint8_t>& bytes, const std::string& name, size_t max_pixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  struct Release {
    png_image* image;
    ~Release() { png_image_free(image); }
  } release{&image};
  const auto fail = [&]() {
    return FrameFileError("cannot decode image '" + name + "': damaged PNG (" + image.message + ")");
  };
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) throw fail();
  CheckImageSize(name, image.width, image.height, max_pixels);
  // 16-bit samples are taken as they are coded, reduced to their top 8 bits'
  // rounding, not treated as linear light.
  const bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  DecodedImage out{{static_cast<int>(image.width), static_cast<int>(image.height)}, {}};
  out.bgr.resize(FrameBytes(PixelKind::Bgr24, out.size));
  // The colour is kept and the alpha dropped, as the Windows build's decoder
  // does: a TV picture has no transparency.
  std::vector<uint8_t> bgra(alpha ? out.bgr.size() / 3 * 4 : 0);
  if (!png_image_finish_read(&image, nullptr, alpha ? bgra.data() : out.bgr.data(), 0, nullptr)) throw fail();
  for (size_t i = 0; i < bgra.size() / 4; ++i)
    for (int c = 0; c < 3; ++c) out.bgr[3 * i + c] = bgra[4 * i + c];
  return out;
}

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegFail(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  error->manager.format_message(info, error->message);
  std::longjmp(error->jump, 1);
}

// libjpeg only warns about a truncated or corrupt stream and fills the rest
// with grey; a picture with invented rows is refused instead.
void JpegWarning(j_common_ptr info, int level) {
  if (level < 0) JpegFail(info);
}

DecodedImage DecodeJpeg(const std::vector<uint8_t>& bytes, const std::string& name, size_t max_pixels) {
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegFail;
  error.manager.emit_message = JpegWarning;
  // Held by pointer: locals changed between setjmp and longjmp are not
  // reliable afterwards, and only the pointee changes.
  auto out = std::make_unique<DecodedImage>();
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    throw FrameFileError("cannot decode image '" + name + "': damaged JPEG (" + error.message + ")");
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  try {
    CheckImageSize(name, info.image_width, info.image_height, max_pixels);
  } catch (const FrameFileError&) {
    jpeg_destroy_decompress(&info);
    throw;
  }
  info.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  out->size = {static_cast<int>(info.output_width), static_cast<int>(info.output_height)};
  out->bgr.resize(FrameBytes(PixelKind::Bgr24, out->size));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out->bgr.data() + static_cast<size_t>(info.output_scanline) * out->size.width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return std::move(*out);
}

}  // namespace

std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t>& rgb, FrameSize size, int quality) {
  jpeg_compress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegFail;
  // The library fills these in; held by pointer so that they are reliable
  // after a long jump.
  struct Destination {
    unsigned char* buffer = nullptr;
    unsigned long length = 0;
    ~Destination() { std::free(buffer); }
  };
  auto destination = std::make_unique<Destination>();
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    throw FrameFileError(std::string("cannot encode JPEG: ") + error.message);
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &destination->buffer, &destination->length);
  info.image_width = static_cast<JDIMENSION>(size.width);
  info.image_height = static_cast<JDIMENSION>(size.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + static_cast<size_t>(info.next_scanline) * size.width * 3;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::vector<uint8_t>(destination->buffer, destination->buffer + destination->length);
}

bool CanDecode(ImageType type) { return type == ImageType::Png || type == ImageType::Jpeg; }

DecodedImage DecodeImageOfType(ImageType type, const std::vector<uint8_t>& bytes, const std::string& name,
                               size_t max_pixels) {
  return type == ImageType::Png ? DecodePng(bytes, name, max_pixels) : DecodeJpeg(bytes, name, max_pixels);
}

}  // namespace tev::media

#endif  // !_WIN32
