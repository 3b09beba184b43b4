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

std::optional<std::vector<std::uint8_t>> MakeThumbnail(const std::string& path, PixelSize size) {
  const std::optional<std::wstring> file = PlatformText(path);
  ComPtr<IShellItem> item;
  if (!file || FAILED(SHCreateItemFromParsingName(file->c_str(), nullptr, IID_PPV_ARGS(&item)))) {
    return std::nullopt;
  }
  ComPtr<IShellItemImageFactory> images;
  if (FAILED(item.As(&images))) return std::nullopt;
  HBITMAP made = nullptr;
  const SIZE wanted = {static_cast<LONG>(size.width), static_cast<LONG>(size.height)};
  if (FAILED(images->GetImage(wanted, SIIGBF_BIGGERSIZEOK, &made)) || !made) return std::nullopt;
  UniqueBitmap bitmap(made);

  ComPtr<IWICImagingFactory> factory = ImagingFactory();
  ComPtr<IWICBitmap> source;
  ComPtr<IStream> stream;
  ComPtr<IWICBitmapEncoder> encoder;
  ComPtr<IWICBitmapFrameEncode> frame;
  ComPtr<IPropertyBag2> options;
  if (!factory ||
      FAILED(factory->CreateBitmapFromHBITMAP(bitmap.get(), nullptr, WICBitmapUseAlpha, &source)) ||
      FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) ||
      FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
      FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
      FAILED(encoder->CreateNewFrame(&frame, &options)) ||
      FAILED(frame->Initialize(options.Get()))) {
    return std::nullopt;
  }
  // The frame has the bitmap's own size: the shell may give a larger one.
  UINT width = 0;
  UINT height = 0;
  source->GetSize(&width, &height);
  WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
  frame->SetSize(width, height);
  frame->SetPixelFormat(&format);
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(source.Get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeMedianCut)) ||
      FAILED(frame->WriteSource(converter.Get(), nullptr)) || FAILED(frame->Commit()) ||
      FAILED(encoder->Commit())) {
    return std::nullopt;
  }
  return StreamBytes(stream.Get());
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
    return std::nullopt;
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
