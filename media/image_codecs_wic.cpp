// Image decoding on Windows with the system's own decoders (WIC): nothing of
// libpng or libjpeg has to be built for the cross compiler, and the system's
// decoders are the ones Windows keeps patched. BMP is read here as well, since
// WIC reads every BMP layout (bottom-up and top-down).
#ifdef _WIN32

#include <windows.h>
#include <wincodec.h>

#include <cstring>

#include "media/image_codecs.h"

namespace tev::media {
namespace {

// Owns one COM interface pointer.
template <class Interface>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (pointer_) pointer_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  Interface** Out() { return &pointer_; }
  Interface* operator->() const { return pointer_; }
  Interface* get() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();  // also S_FALSE: COM was already on, the count went up
  }

 private:
  HRESULT result_;
};

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// A BMP whose pixel rows end before the header says: refused here, since a
// decoder may fill the missing rows instead of failing.
bool BmpIsTruncated(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 54 || ReadLe32(bytes, 14) < 40) return false;  // the decoder judges other headers
  const uint64_t offset = ReadLe32(bytes, 10);
  const int32_t width = static_cast<int32_t>(ReadLe32(bytes, 18));
  const int32_t height = static_cast<int32_t>(ReadLe32(bytes, 22));
  const uint32_t bits = bytes[28] | bytes[29] << 8;
  const uint32_t compression = ReadLe32(bytes, 30);
  if (compression != 0 /*BI_RGB*/ && compression != 3 /*BI_BITFIELDS*/) return false;
  const uint64_t row = (static_cast<uint64_t>(width < 0 ? 0 : width) * bits + 31) / 32 * 4;
  const uint64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
  return offset + row * rows > bytes.size();
}

// Converts the picture to `format` (B, G, R first in each pixel) and keeps
// the first three bytes of every pixel.
bool CopyAsBgr(IWICImagingFactory* factory, IWICBitmapSource* source, const GUID& format, size_t bytes_per_pixel,
               std::vector<uint8_t>& bgr) {
  ComPtr<IWICFormatConverter> converter;
  UINT width = 0, height = 0;
  if (FAILED(factory->CreateFormatConverter(converter.Out())) ||
      FAILED(converter->Initialize(source, format, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom)) ||
      FAILED(converter->GetSize(&width, &height)))
    return false;
  const size_t pixels = static_cast<size_t>(width) * height;
  if (bytes_per_pixel == 3)
    return SUCCEEDED(converter->CopyPixels(nullptr, width * 3, static_cast<UINT>(bgr.size()), bgr.data()));
  std::vector<uint8_t> wide(pixels * bytes_per_pixel);
  if (FAILED(converter->CopyPixels(nullptr, static_cast<UINT>(width * bytes_per_pixel), static_cast<UINT>(wide.size()),
                                   wide.data())))
    return false;
  for (size_t i = 0; i < pixels; ++i) std::memcpy(&bgr[3 * i], &wide[bytes_per_pixel * i], 3);
  return true;
}

}  // namespace

bool CanDecode(ImageType) { return true; }

DecodedImage DecodeImageOfType(ImageType type, const std::vector<uint8_t>& bytes, const std::string& name,
                               size_t max_pixels) {
  const char* format = type == ImageType::Png ? "PNG" : type == ImageType::Jpeg ? "JPEG" : "BMP";
  const auto refuse = [&](const char* why) {
    return FrameFileError("cannot decode image '" + name + "' as " + format + ": " + why);
  };
  if (type == ImageType::Bmp && BmpIsTruncated(bytes)) throw refuse("the pixel rows end early (damaged or cut short)");
  if (bytes.size() > 0x7fffffff) throw refuse("file too large");

  ComScope com;
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              reinterpret_cast<void**>(factory.Out()))))
    throw FrameFileError("cannot decode image '" + name + "': the system's image decoders (WIC) are not available");
  ComPtr<IWICStream> stream;
  if (FAILED(factory->CreateStream(stream.Out())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()))))
    throw refuse("cannot open the bytes");
  ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Out())))
    throw refuse("damaged, or not of this format");
  // Only the format the first bytes named, never whatever else a decoder accepts.
  GUID container{};
  const GUID& wanted = type == ImageType::Png    ? GUID_ContainerFormatPng
                       : type == ImageType::Jpeg ? GUID_ContainerFormatJpeg
                                                 : GUID_ContainerFormatBmp;
  if (FAILED(decoder->GetContainerFormat(&container)) || !IsEqualGUID(container, wanted))
    throw refuse("damaged, or not of this format");
  ComPtr<IWICBitmapFrameDecode> frame;
  UINT width = 0, height = 0;
  if (FAILED(decoder->GetFrame(0, frame.Out())) || FAILED(frame->GetSize(&width, &height)))
    throw refuse("no picture");
  CheckImageSize(name, width, height, max_pixels);
  DecodedImage out{{static_cast<int>(width), static_cast<int>(height)}, {}};
  out.bgr.resize(FrameBytes(PixelKind::Bgr24, out.size));
  // Not every decoder's format converts straight to 24-bit (Wine's 16-bit
  // grey does not); 32-bit BGRA is the format every converter offers.
  if (!CopyAsBgr(factory.get(), frame.get(), GUID_WICPixelFormat24bppBGR, 3, out.bgr) &&
      !CopyAsBgr(factory.get(), frame.get(), GUID_WICPixelFormat32bppBGRA, 4, out.bgr))
    throw refuse("its pixels cannot be read as 24-bit colour");
  return out;
}

}  // namespace tev::media

#endif  // _WIN32
