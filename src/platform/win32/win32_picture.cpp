#include "platform/win32/win32_picture.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/picture_header.h"
#include "platform/picture_size.h"
#include "platform/runtime_error.h"
#include "platform/win32/win32_com.h"
#include "platform/win32/win32_file.h"
#include "platform/win32/win32_text.h"

#include <wincodec.h>

namespace launcher {

namespace {

// An uninitialised top-down 32-bit DIB section; nullptr when there is no memory for it.
std::shared_ptr<PixelBitmap> CreatePixelBitmap(int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap != nullptr)
      DeleteObject(bitmap);
    return nullptr;
  }
  return std::make_shared<PixelBitmap>(bitmap, bits, width, height);
}

// Far more than any picture within the pixel limits takes, even uncompressed
// at 64 bits a pixel: a bigger file is refused before it is read.
constexpr std::int64_t kMaxPictureFileBytes = kMaxPicturePixels * 8;

[[noreturn]] void RaiseFileTooLarge(std::int64_t bytes) {
  throw RuntimeError(kErrInvalidPicture,
                     DescribeError(kErrInvalidPicture) + " (a file of " + std::to_string(bytes) +
                         " bytes; at most " + std::to_string(kMaxPictureFileBytes) + " are read)",
                     kProjectSource);
}

// The whole file, read once: the size is checked and the pixels decoded from
// these very bytes, whatever happens to the file meanwhile.
std::vector<BYTE> ReadPictureFile(const std::wstring& path) {
  const UniqueHandle file = OpenDiskFile(path);
  LARGE_INTEGER size = {};
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > kMaxPictureFileBytes)
    RaiseFileTooLarge(size.QuadPart);
  return ReadToEnd<std::vector<BYTE>>(file.get(), kMaxPictureFileBytes, &RaiseFileTooLarge);
}

// The formats whose sizes are read before decoding, each with the system's own
// decoder: no other codec installed for these bytes is loaded into the launcher.
// A cursor has none: the icon decoder takes icons alone, on Windows and Wine.
struct BuiltInDecoder {
  PictureFormat format;
  const CLSID* decoder;
  const char* name;
};

constexpr BuiltInDecoder kDecoders[] = {
    {PictureFormat::kPng, &CLSID_WICPngDecoder, "PNG"},
    {PictureFormat::kGif, &CLSID_WICGifDecoder, "GIF"},
    {PictureFormat::kJpeg, &CLSID_WICJpegDecoder, "JPEG"},
    {PictureFormat::kBmp, &CLSID_WICBmpDecoder, "BMP"},
    {PictureFormat::kIcon, &CLSID_WICIcoDecoder, "ICO"},
    {PictureFormat::kDds, &CLSID_WICDdsDecoder, "DDS"},
};

[[noreturn]] void RaiseInvalidPicture(const std::string& why) {
  throw RuntimeError(kErrInvalidPicture, DescribeError(kErrInvalidPicture) + " (" + why + ")",
                     kProjectSource);
}

const BuiltInDecoder& DecoderFor(std::span<const std::uint8_t> bytes) {
  const auto format = PictureFormatOf(bytes);
  for (const BuiltInDecoder& known : kDecoders) {
    if (format == known.format)
      return known;
  }
  std::string names;
  for (const BuiltInDecoder& known : kDecoders)
    names += (names.empty() ? "" : ", ") + std::string(known.name);
  RaiseInvalidPicture("the format is not one the launcher reads: " + names);
}

// Decodes the first frame of a picture in memory with the system's own
// decoder for its format (WIC). Every size the picture's headers declare is
// checked before the decoder is handed the bytes, since some take in every
// pixel at once (Wine's PNG, JPEG and GIF decoders do); the size the decoder
// tells is checked before a pixel is asked for, and the pixels then come from
// that same decoder, converted to premultiplied BGRA straight into the DIB.
std::shared_ptr<const PixelBitmap> DecodePicture(const std::vector<BYTE>& bytes, int density) {
  if (bytes.empty())
    Raise(kErrInvalidPicture);
  const BuiltInDecoder& known = DecoderFor(bytes);
  if (const auto declared = DeclaredSizes(bytes)) {
    for (const DeclaredSize& size : *declared)
      CheckPictureSize(size.width, size.height, density);
  }
  const ComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICStream> stream;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  UINT width = 0;
  UINT height = 0;
  // Windows before 8.1 has no DDS decoder.
  if (CoCreateInstance(*known.decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IWICBitmapDecoder,
                       decoder.put_void()) == REGDB_E_CLASSNOTREG)
    RaiseInvalidPicture("this system has no " + std::string(known.name) + " decoder");
  // ReadPictureFile keeps the bytes within kMaxPictureFileBytes: their count fits.
  if (decoder.get() == nullptr ||
      FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.put_void())) ||
      FAILED(factory->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(bytes.data()),
                                          static_cast<DWORD>(bytes.size()))) ||
      FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetSize(&width, &height)) ||
      width == 0 || height == 0)
    Raise(kErrInvalidPicture);
  CheckPictureSize(width, height, density);

  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    Raise(kErrInvalidPicture);
  auto pixels = CreatePixelBitmap(static_cast<int>(width), static_cast<int>(height));
  if (pixels == nullptr)
    Raise(kErrOutOfMemory);
  // Within the limits the whole bitmap stays below 4 GB, as CopyPixels counts.
  const UINT stride = width * 4;
  if (FAILED(converter->CopyPixels(nullptr, stride, stride * height,
                                   static_cast<BYTE*>(const_cast<void*>(pixels->bits())))))
    Raise(kErrInvalidPicture);
  return pixels;
}

// Windows 10's smoothest filter; older systems refuse it and get Fant's.
constexpr auto kHighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);

}  // namespace

std::unique_ptr<Picture> LoadWin32Picture(const std::string& path, int density) {
  const std::wstring wide = ToWide(path);
  // A folder, or an empty name (the bin folder itself), is no picture file.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (wide.empty() || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    Raise(kErrFileNotFound);
  return std::make_unique<Win32Picture>(DecodePicture(ReadPictureFile(wide), density), density);
}

std::shared_ptr<const PixelBitmap> ScalePixels(const PixelBitmap& source,
                                               int width,
                                               int height,
                                               const RECT& part) {
  const ComScope com;
  ComPtr<IWICImagingFactory> factory;
  ComPtr<IWICBitmap> bitmap;
  ComPtr<IWICBitmapScaler> scaler;
  const UINT stride = static_cast<UINT>(source.width()) * 4;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.put_void())) ||
      FAILED(factory->CreateBitmapFromMemory(
          static_cast<UINT>(source.width()), static_cast<UINT>(source.height()),
          GUID_WICPixelFormat32bppPBGRA, stride, stride * static_cast<UINT>(source.height()),
          static_cast<BYTE*>(const_cast<void*>(source.bits())), bitmap.put())) ||
      FAILED(factory->CreateBitmapScaler(scaler.put())))
    return nullptr;
  if (FAILED(scaler->Initialize(bitmap.get(), static_cast<UINT>(width), static_cast<UINT>(height),
                                kHighQualityCubic)) &&
      FAILED(scaler->Initialize(bitmap.get(), static_cast<UINT>(width), static_cast<UINT>(height),
                                WICBitmapInterpolationModeFant)))
    return nullptr;
  const WICRect rect = {part.left, part.top, part.right - part.left, part.bottom - part.top};
  auto scaled = CreatePixelBitmap(rect.Width, rect.Height);
  const UINT scaled_stride = static_cast<UINT>(rect.Width) * 4;
  if (scaled == nullptr || FAILED(scaler->CopyPixels(
                               &rect, scaled_stride, scaled_stride * static_cast<UINT>(rect.Height),
                               static_cast<BYTE*>(const_cast<void*>(scaled->bits())))))
    return nullptr;
  return scaled;
}

}  // namespace launcher
