// Thumbnails from the shell's image factory, encoded as PNG with WIC, and a
// photo's first-frame size and metadata read with WIC.
#include <objidl.h>
#include <propidl.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wincodec.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstring>

#include "command_line.h"
#include "gdiplus_owners.h"
#include "photo_views.h"
#include "reader_photos.h"

namespace runner {
namespace {

using Microsoft::WRL::ComPtr;

struct BitmapDeleter {
  void operator()(HBITMAP bitmap) const { DeleteObject(bitmap); }
};
using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

// A PROPVARIANT that is cleared on every path.
class PropVariant {
 public:
  PropVariant() { PropVariantInit(&value_); }
  ~PropVariant() { PropVariantClear(&value_); }
  PropVariant(const PropVariant&) = delete;
  PropVariant& operator=(const PropVariant&) = delete;
  PROPVARIANT* get() { return &value_; }
  const PROPVARIANT& operator*() const { return value_; }

 private:
  PROPVARIANT value_;
};

ComPtr<IWICImagingFactory> ImagingFactory() {
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory)))) {
    return nullptr;
  }
  return factory;
}

// The text of a VT_LPSTR metadata item, or nothing.
std::optional<std::string> TextItem(IWICMetadataQueryReader* reader, const wchar_t* query) {
  PropVariant value;
  if (FAILED(reader->GetMetadataByName(query, value.get())) || (*value).vt != VT_LPSTR ||
      !(*value).pszVal) {
    return std::nullopt;
  }
  return std::string((*value).pszVal);
}

}  // namespace

namespace {

// A bitmap source as the bytes of a PNG file of its own size.
std::optional<std::vector<std::uint8_t>> EncodePng(IWICImagingFactory* factory,
                                                   IWICBitmapSource* source) {
  ComPtr<IStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, &options)) ||
      FAILED(frame->Initialize(options.Get()))) {
    return std::nullopt;
  }
  UINT width = 0;
  UINT height = 0;
  source->GetSize(&width, &height);
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  frame->SetSize(width, height);
  frame->SetPixelFormat(&format);
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(source, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0.0, WICBitmapPaletteTypeMedianCut)) ||
      FAILED(frame->WriteSource(converter.Get(), nullptr)) || FAILED(frame->Commit()) ||
      FAILED(encoder->Commit())) {
    return std::nullopt;
  }
  return StreamBytes(stream.Get());
}

// The shell's thumbnail as a bitmap. With `thumbnailOnly` the shell gives
// none rather than the icon of a file it has no thumbnail handler for.
UniqueBitmap ShellThumbnail(const std::wstring& file, PixelSize size, bool thumbnailOnly) {
  ComPtr<IShellItem> item;
  if (FAILED(SHCreateItemFromParsingName(file.c_str(), nullptr, IID_PPV_ARGS(&item)))) {
    return nullptr;
  }
  ComPtr<IShellItemImageFactory> images;
  if (FAILED(item.As(&images))) return nullptr;
  HBITMAP made = nullptr;
  const SIZE wanted = {static_cast<LONG>(size.width), static_cast<LONG>(size.height)};
  const SIIGBF flags = thumbnailOnly ? SIIGBF_BIGGERSIZEOK | SIIGBF_THUMBNAILONLY
                                     : SIIGBF_BIGGERSIZEOK;
  if (FAILED(images->GetImage(wanted, flags, &made)) || !made) return nullptr;
  return UniqueBitmap(made);
}

// Whether the shell's bitmap is a thumbnail of the photo: a thumbnail
// handler makes one near the size asked (or the photo's own, when that is
// smaller); a bitmap of a side or two in all is no picture of it (Wine's
// shell gives a 1 x 1 one for every file).
bool IsThumbnail(HBITMAP bitmap) {
  BITMAP described = {};
  if (!GetObjectW(bitmap, sizeof described, &described)) return false;
  return described.bmWidth > 2 || described.bmHeight > 2;
}

// A thumbnail the shared reader makes: the photo upright, fitted within
// the size asked (never larger than the photo), as a PNG file.
std::optional<std::vector<std::uint8_t>> ReaderThumbnail(IWICImagingFactory* factory,
                                                         const std::string& path,
                                                         PixelSize size) {
  const SizeRule fit = [size](UprightSize upright) -> std::optional<UprightSize> {
    const PixelSize fitted = ThumbnailSize(static_cast<std::uint32_t>(upright.width),
                                           static_cast<std::uint32_t>(upright.height), size);
    return UprightSize{static_cast<int>(fitted.width), static_cast<int>(fitted.height)};
  };
  std::optional<PhotoForDrawing> read = ReadForDrawing(path, fit, nullptr, nullptr);
  if (!read) return std::nullopt;
  GdiplusBitmap bitmap = BitmapFromImage(read->image, read->turnsLeft);
  if (!bitmap) return std::nullopt;
  // The bitmap's pixels as blue, green, red, alpha rows, for WIC.
  UINT width = 0;
  UINT height = 0;
  gdip::GdipGetImageWidth(bitmap.get(), &width);
  gdip::GdipGetImageHeight(bitmap.get(), &height);
  Gdiplus::Rect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  Gdiplus::BitmapData locked = {};
  if (gdip::GdipBitmapLockBits(bitmap.get(), &all, Gdiplus::ImageLockModeRead,
                               PixelFormat32bppARGB, &locked) != Gdiplus::Ok) {
    return std::nullopt;
  }
  ComPtr<IWICBitmap> source;
  const HRESULT made = factory->CreateBitmapFromMemory(
      width, height, GUID_WICPixelFormat32bppBGRA, static_cast<UINT>(locked.Stride),
      static_cast<UINT>(locked.Stride) * height, static_cast<BYTE*>(locked.Scan0), &source);
  gdip::GdipBitmapUnlockBits(bitmap.get(), &locked);
  if (FAILED(made)) return std::nullopt;
  return EncodePng(factory, source.Get());
}

}  // namespace

std::optional<std::vector<std::uint8_t>> MakeThumbnail(const std::string& path, PixelSize size) {
  const std::optional<std::wstring> file = PlatformText(path);
  ComPtr<IWICImagingFactory> factory = ImagingFactory();
  if (!file || !factory) return std::nullopt;
  // A photo the shared reader reads gets the shell's thumbnail when the
  // shell has one, else the reader's, before the shell's icon.
  UniqueBitmap bitmap;
  if (ReaderTakes(path)) {
    bitmap = ShellThumbnail(*file, size, true);
    if (!bitmap || !IsThumbnail(bitmap.get())) {
      GdiplusSession session;
      if (session.ok()) {
        if (std::optional<std::vector<std::uint8_t>> png =
                ReaderThumbnail(factory.Get(), path, size)) {
          return png;
        }
      }
    }
  }
  if (!bitmap) bitmap = ShellThumbnail(*file, size, false);
  if (!bitmap) return std::nullopt;
  ComPtr<IWICBitmap> source;
  if (FAILED(factory->CreateBitmapFromHBITMAP(bitmap.get(), nullptr, WICBitmapUseAlpha, &source))) {
    return std::nullopt;
  }
  // The frame has the bitmap's own size: the shell may give a larger one.
  return EncodePng(factory.Get(), source.Get());
}

std::optional<PhotoHeader> ReadPhotoHeader(const std::string& path) {
  ComPtr<IWICImagingFactory> factory = ImagingFactory();
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  const std::optional<std::wstring> file = PlatformText(path);
  if (!factory || !file ||
      FAILED(factory->CreateDecoderFromFilename(file->c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder)) ||
      FAILED(decoder->GetFrame(0, &frame))) {
    // No codec here for it (HEIC, AVIF or WebP without Windows's
    // extensions): the shared reader's header instead.
    return ReaderPhotoHeader(path);
  }
  PhotoHeader header;
  UINT width = 0;
  UINT height = 0;
  if (FAILED(frame->GetSize(&width, &height))) width = height = 0;
  header.width = width;
  header.height = height;
  ComPtr<IWICMetadataQueryReader> reader;
  if (FAILED(frame->GetMetadataQueryReader(&reader)) || !reader) return header;
  header.hasMetadata = true;
  {
    PropVariant orientation;
    if (SUCCEEDED(reader->GetMetadataByName(L"/app1/ifd/{ushort=274}", orientation.get())) &&
        (*orientation).vt == VT_UI2) {
      header.orientation = (*orientation).uiVal;
    }
  }
  header.dateTaken = TextItem(reader.Get(), L"/app1/ifd/exif/{ushort=36867}");
  if (!header.dateTaken) header.dateChanged = TextItem(reader.Get(), L"/app1/ifd/{ushort=306}");
  return header;
}

}  // namespace runner
