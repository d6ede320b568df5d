#include "media/frame_format.h"

#include <algorithm>
#include <cctype>

namespace tev::media {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string FileExtension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(path.substr(dot + 1));
}

size_t FrameBytes(PixelKind kind, FrameSize size) {
  return static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * (kind == PixelKind::Yuy2 ? 2 : 3);
}

const char* KindName(PixelKind kind) { return kind == PixelKind::Yuy2 ? "YUY2" : "BGR24"; }

FileFormat ParseFileFormat(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "yuy2" || n == "yuyv" || n == "yuyv422") return FileFormat::RawYuy2;
  if (n == "bgr24" || n == "bgr") return FileFormat::RawBgr24;
  if (n == "y4m") return FileFormat::Y4m;
  if (n == "image") return FileFormat::Image;
  return FileFormat::Unknown;
}

FileFormat GuessFileFormat(const std::string& path) {
  const std::string ext = FileExtension(path);
  if (ext == "yuy2" || ext == "yuyv") return FileFormat::RawYuy2;
  if (ext == "bgr" || ext == "bgr24") return FileFormat::RawBgr24;
  if (ext == "y4m") return FileFormat::Y4m;
  // Names of image formats that are not read still count as images, so the
  // user hears which formats are read rather than "unknown format".
  for (const char* image : {"png", "bmp", "jpg", "jpeg", "tga", "ppm", "pgm", "pnm", "gif"})
    if (ext == image) return FileFormat::Image;
  return FileFormat::Unknown;
}

FileFormat ResolveFileFormat(const std::string& name, const std::string& path) {
  if (!name.empty() && Lower(name) != "auto") {
    const FileFormat format = ParseFileFormat(name);
    if (format == FileFormat::Unknown)
      throw FrameFileError("unknown format '" + name + "': use yuy2, bgr24, y4m or image");
    return format;
  }
  const FileFormat format = GuessFileFormat(path);
  if (format == FileFormat::Unknown)
    throw FrameFileError("unknown format of '" + path +
                         "': name it .yuy2, .bgr24, .y4m or an image (.png, .bmp, .jpg), or give the format");
  return format;
}

const char* FileFormatName(FileFormat format) {
  switch (format) {
    case FileFormat::RawYuy2: return "raw YUY2";
    case FileFormat::RawBgr24: return "raw BGR24";
    case FileFormat::Y4m: return "Y4M 4:2:2";
    case FileFormat::Image: return "image";
    default: return "unknown";
  }
}

PixelKind NativeKind(FileFormat format) {
  return format == FileFormat::RawBgr24 || format == FileFormat::Image ? PixelKind::Bgr24 : PixelKind::Yuy2;
}

FrameSize ParseFrameSize(const std::string& text) {
  const size_t x = Lower(text).find('x');
  auto side = [&](const std::string& digits) {
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      throw FrameFileError("bad frame size '" + text + "': expected WIDTHxHEIGHT, e.g. 720x576");
    return std::stoi(digits);
  };
  if (x == std::string::npos) side("");
  FrameSize size{side(text.substr(0, x)), side(text.substr(x + 1))};
  if (size.width < 1 || size.height < 1 || size.width > kMaxSide || size.height > kMaxSide)
    throw FrameFileError("bad frame size '" + text + "': each side must be 1.." + std::to_string(kMaxSide));
  return size;
}

void CheckFrameSize(PixelKind kind, FrameSize size) {
  if (size.width < 1 || size.height < 1 || size.width > kMaxSide || size.height > kMaxSide)
    throw FrameFileError("frame size " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                         " is outside 1.." + std::to_string(kMaxSide));
  if (kind == PixelKind::Yuy2 && size.width % 2 != 0)
    throw FrameFileError("YUY2 frames need an even width, not " + std::to_string(size.width));
}

}  // namespace tev::media
