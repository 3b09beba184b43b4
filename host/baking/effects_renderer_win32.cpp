// The host renderer with GDI+: the photo drawn onto one magnet's canvas, with
// its stroke and frame.
#include <wincodec.h>
#include <wrl/client.h>

#include <cstring>
#include <vector>

#include "bake_geometry.h"
#include "command_line.h"
#include "effects_renderer.h"
#include "imaging/reading/exif.h"
#include "logging.h"
#include "win32_owners.h"

namespace runner {
namespace {

using Microsoft::WRL::ComPtr;

// WICBitmapInterpolationModeHighQualityCubic; older SDK headers lack it.
constexpr WICBitmapInterpolationMode kHighQualityCubic = static_cast<WICBitmapInterpolationMode>(4);
constexpr PROPID kOrientationTag = 0x0112;

// High-quality drawing as the canvas and the turns use it.
void SetHighQuality(GpGraphics* graphics) {
  gdip::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
  gdip::GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeHighQuality);
}

Size ImageSize(GpImage* image) {
  UINT width = 0;
  UINT height = 0;
  gdip::GdipGetImageWidth(image, &width);
  gdip::GdipGetImageHeight(image, &height);
  return {static_cast<int>(width), static_cast<int>(height)};
}

// The EXIF orientation of a decoded bitmap, or 1.
int OrientationOf(GpImage* image) {
  UINT size = 0;
  if (gdip::GdipGetPropertyItemSize(image, kOrientationTag, &size) != Gdiplus::Ok ||
      size < sizeof(Gdiplus::PropertyItem)) {
    return 1;
  }
  std::vector<std::uint8_t> buffer(size);
  auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
  if (gdip::GdipGetPropertyItem(image, kOrientationTag, size, item) != Gdiplus::Ok) return 1;
  if (item->type != PropertyTagTypeShort || item->length < 2 || !item->value) return 1;
  std::uint16_t value = 0;
  std::memcpy(&value, item->value, sizeof(value));
  return value;
}

}  // namespace

GdiplusBitmap CorrectOrientation(GdiplusBitmap decoded) {
  const int orientation = OrientationOf(decoded.get());
  return TurnUpright(std::move(decoded), orientation);
}

GdiplusBitmap TurnUpright(GdiplusBitmap decoded, int orientation) {
  if (orientation != 3 && orientation != 6 && orientation != 8) return decoded;
  const Size size = ImageSize(decoded.get());
  Gdiplus::PixelFormat format = 0;
  gdip::GdipGetImagePixelFormat(decoded.get(), &format);
  const Gdiplus::PixelFormat target =
      format == PixelFormat32bppARGB || format == PixelFormat32bppPARGB ? PixelFormat32bppARGB
                                                                        : PixelFormat24bppRGB;
  const bool quarter = orientation != 3;
  GdiplusBitmap upright =
      CreateBitmap(quarter ? size.height : size.width, quarter ? size.width : size.height, target);
  GdiplusGraphics graphics = GraphicsFor(upright.get());
  if (!upright || !graphics) return decoded;
  SetHighQuality(graphics.get());
  gdip::GdipSetCompositingMode(graphics.get(), Gdiplus::CompositingModeSourceCopy);
  const auto prepend = Gdiplus::MatrixOrderPrepend;
  if (orientation == 3) {
    gdip::GdipTranslateWorldTransform(graphics.get(), static_cast<float>(size.width),
                                      static_cast<float>(size.height), prepend);
    gdip::GdipRotateWorldTransform(graphics.get(), 180.0f, prepend);
  } else if (orientation == 6) {
    gdip::GdipTranslateWorldTransform(graphics.get(), static_cast<float>(size.height), 0.0f,
                                      prepend);
    gdip::GdipRotateWorldTransform(graphics.get(), 90.0f, prepend);
  } else {
    gdip::GdipTranslateWorldTransform(graphics.get(), 0.0f, static_cast<float>(size.width),
                                      prepend);
    gdip::GdipRotateWorldTransform(graphics.get(), 270.0f, prepend);
  }
  gdip::GdipDrawImageRectI(graphics.get(), decoded.get(), 0, 0, size.width, size.height);
  return upright;
}

namespace {

// The frame turned a quarter clockwise onto a new bitmap.
GdiplusBitmap TurnFrame(GpBitmap* frame) {
  const Size size = ImageSize(frame);
  GdiplusBitmap turned = CreateBitmap(size.height, size.width, PixelFormat32bppARGB);
  GdiplusGraphics graphics = GraphicsFor(turned.get());
  if (!turned || !graphics) return nullptr;
  gdip::GdipSetPageUnit(graphics.get(), Gdiplus::UnitPixel);
  gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
  gdip::GdipTranslateWorldTransform(graphics.get(), static_cast<float>(size.height), 0.0f,
                                    Gdiplus::MatrixOrderPrepend);
  gdip::GdipRotateWorldTransform(graphics.get(), 90.0f, Gdiplus::MatrixOrderPrepend);
  gdip::GdipDrawImageRectI(graphics.get(), frame, 0, 0, size.width, size.height);
  return turned;
}

}  // namespace

GdiplusBitmap DecodeScaled(const std::wstring& path, int wantedWidth, int wantedHeight) {
  ComApartment com;
  ComPtr<IWICImagingFactory> factory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                              IID_PPV_ARGS(&factory)))) {
    return nullptr;
  }
  ComPtr<IWICBitmapDecoder> decoder;
  if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ,
                                                WICDecodeMetadataCacheOnDemand, &decoder))) {
    return nullptr;
  }
  ComPtr<IWICBitmapFrameDecode> frame;
  UINT w = 0;
  UINT h = 0;
  if (FAILED(decoder->GetFrame(0, &frame)) || FAILED(frame->GetSize(&w, &h)) || w == 0 || h == 0) {
    return nullptr;
  }
  ComPtr<IWICBitmapSource> source = frame;
  if (const auto reduced =
          ScaledDecodeSize(static_cast<int>(w), static_cast<int>(h), wantedWidth, wantedHeight)) {
    ComPtr<IWICBitmapScaler> scaler;
    if (FAILED(factory->CreateBitmapScaler(&scaler)) ||
        FAILED(scaler->Initialize(frame.Get(), static_cast<UINT>(reduced->width),
                                  static_cast<UINT>(reduced->height), kHighQualityCubic))) {
      return nullptr;
    }
    LogError("DEBUG: Scaled decode " + std::to_string(w) + "x" + std::to_string(h) + " -> " +
             std::to_string(reduced->width) + "x" + std::to_string(reduced->height));
    source = scaler;
  }
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(factory->CreateFormatConverter(&converter)) ||
      FAILED(converter->Initialize(source.Get(), GUID_WICPixelFormat32bppBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom))) {
    return nullptr;
  }
  UINT cw = 0;
  UINT ch = 0;
  if (FAILED(converter->GetSize(&cw, &ch))) return nullptr;
  GdiplusBitmap bitmap =
      CreateBitmap(static_cast<int>(cw), static_cast<int>(ch), PixelFormat32bppARGB);
  if (!bitmap) return nullptr;
  Gdiplus::Rect all(0, 0, static_cast<INT>(cw), static_cast<INT>(ch));
  Gdiplus::BitmapData locked = {};
  if (gdip::GdipBitmapLockBits(bitmap.get(), &all, Gdiplus::ImageLockModeWrite,
                               PixelFormat32bppARGB, &locked) != Gdiplus::Ok) {
    return nullptr;
  }
  bool copied = true;
  auto* rows = static_cast<BYTE*>(locked.Scan0);
  for (UINT y = 0; y < ch && copied; ++y) {
    const WICRect row = {0, static_cast<INT>(y), static_cast<INT>(cw), 1};
    copied = SUCCEEDED(converter->CopyPixels(&row, cw * 4, cw * 4, rows + y * locked.Stride));
  }
  gdip::GdipBitmapUnlockBits(bitmap.get(), &locked);
  if (!copied) return nullptr;
  return bitmap;
}

GdiplusBitmap LoadCanvasImage(const std::wstring& path, int wantedWidth, int wantedHeight) {
  // WIC's scaled decode carries no metadata and GDI+ may not report it, so
  // the orientation is read from the file itself. Files the probe does not
  // understand (not JPEG) keep what the plain decoder reports.
  const int fileOrientation = sheetsmith::ReadExifOrientation(Utf8FromUtf16(path.c_str()));
  // The scaled decode works on the stored pixels: ask for the wanted size
  // in their space when the turn exchanges the sides.
  const bool sideways = fileOrientation == 6 || fileOrientation == 8;
  if (GdiplusBitmap scaled = DecodeScaled(path, sideways ? wantedHeight : wantedWidth,
                                          sideways ? wantedWidth : wantedHeight)) {
    return TurnUpright(std::move(scaled), fileOrientation);
  }
  GpBitmap* plain = nullptr;
  const Gdiplus::GpStatus status = gdip::GdipCreateBitmapFromFile(path.c_str(), &plain);
  if (status != Gdiplus::Ok || !plain) {
    if (plain) gdip::GdipDisposeImage(plain);
    LogError("ERROR: Failed to load image, status=" + std::to_string(static_cast<int>(status)));
    return nullptr;
  }
  GdiplusBitmap decoded(plain);
  if (fileOrientation != 1) return TurnUpright(std::move(decoded), fileOrientation);
  return CorrectOrientation(std::move(decoded));
}

CanvasPhoto ReadCanvasPhoto(const std::string& path, Size want, const ColorStep& colors) {
  const SizeRule size = [want](UprightSize upright) -> std::optional<UprightSize> {
    const std::optional<Size> reduced =
        ScaledDecodeSize(upright.width, upright.height, want.width, want.height);
    if (!reduced) return std::nullopt;
    return UprightSize{reduced->width, reduced->height};
  };
  sheetsmith::ReadProblem problem;
  std::optional<PhotoForDrawing> read = ReadForDrawing(path, size, colors, &problem);
  if (!read) {
    const std::string reason = ReadProblemReason(problem);
    LogError("ERROR: Failed to load image: " + reason);
    return {nullptr, reason};
  }
  // The size read, in the stored pixels' space, as a scaled decode is asked.
  const bool turned = read->turnsLeft == 0 && read->uprightTurns % 2 != 0;
  LogError("DEBUG: Reader decode " + std::to_string(read->storedWidth) + "x" +
           std::to_string(read->storedHeight) + " -> " +
           std::to_string(turned ? read->image.height : read->image.width) + "x" +
           std::to_string(turned ? read->image.width : read->image.height));
  GdiplusBitmap bitmap = BitmapFromImage(read->image, read->turnsLeft);
  if (!bitmap) return {nullptr, "out of memory"};
  return {std::move(bitmap), ""};
}

namespace {

// A frame as the photos are read: by the shared reader when it takes the
// file, upright, else by GDI+ as it stands.
GdiplusBitmap LoadFrame(const std::string& path, const ColorStep& colors) {
  if (ReaderTakes(path)) {
    sheetsmith::ReadProblem problem;
    std::optional<PhotoForDrawing> frame = ReadForDrawing(path, nullptr, colors, &problem);
    if (!frame) {
      LogError("ERROR: Failed to load frame: " + ReadProblemReason(problem));
      return nullptr;
    }
    return BitmapFromImage(frame->image, frame->turnsLeft);
  }
  const std::optional<std::wstring> file = PlatformText(path);
  return file ? LoadBitmapFromFile(*file) : nullptr;
}

}  // namespace

GdiplusBitmap CopyBitmap(GpBitmap* source) {
  const Size size = ImageSize(source);
  Gdiplus::PixelFormat format = 0;
  gdip::GdipGetImagePixelFormat(source, &format);
  GdiplusBitmap copy = CreateBitmap(size.width, size.height, format);
  if (!copy) return nullptr;
  Gdiplus::Rect all(0, 0, size.width, size.height);
  Gdiplus::BitmapData from = {};
  if (gdip::GdipBitmapLockBits(source, &all, Gdiplus::ImageLockModeRead, format, &from) !=
      Gdiplus::Ok) {
    LogError("ERROR: Failed to lock source bitmap");
    return nullptr;
  }
  Gdiplus::BitmapData to = {};
  if (gdip::GdipBitmapLockBits(copy.get(), &all, Gdiplus::ImageLockModeWrite, format, &to) !=
      Gdiplus::Ok) {
    gdip::GdipBitmapUnlockBits(source, &from);
    LogError("ERROR: Failed to lock destination bitmap");
    return nullptr;
  }
  const std::size_t rowBytes =
      (static_cast<std::size_t>(size.width) * ((format >> 8) & 0xFF) + 7) / 8;
  for (int y = 0; y < size.height; ++y) {
    std::memcpy(static_cast<BYTE*>(to.Scan0) + static_cast<std::ptrdiff_t>(y) * to.Stride,
                static_cast<const BYTE*>(from.Scan0) + static_cast<std::ptrdiff_t>(y) * from.Stride,
                rowBytes);
  }
  gdip::GdipBitmapUnlockBits(copy.get(), &to);
  gdip::GdipBitmapUnlockBits(source, &from);
  return copy;
}

GdiplusBitmap RenderImageWithEffects(const BakeRequest& r, const CanvasPhotoLoader& load,
                                     std::string* reason, const CanvasColors& colors) {
  const int w = r.canvasWidth;
  const int h = r.canvasHeight;
  const std::string rotate = r.rotateForOutput ? "1" : "0";
  LogError("DEBUG RenderImage INPUT: Canvas=" + std::to_string(w) + "x" + std::to_string(h) +
           " Scale=" + FormatG(r.imageScale) + " Offset=(" + FormatG(r.offsetX) + "," +
           FormatG(r.offsetY) + ") Rotate=" + rotate);
  if (!CanvasSizeIsUsable(w, h)) {
    LogError("ERROR: Invalid canvas size");
    return nullptr;
  }
  const Size want = WantedDecodeSize(w, h);
  LogError("DEBUG: Required image size=" + std::to_string(want.width) + "x" +
           std::to_string(want.height));
  CanvasPhoto loaded = load(r.sourcePath, want);
  if (!loaded.bitmap) {
    LogError("ERROR: Failed to load image");
    if (reason) *reason = loaded.reason;
    return nullptr;
  }
  GdiplusBitmap photo = CopyBitmap(loaded.bitmap.get());
  if (!photo) {
    LogError("ERROR: Failed to apply effects");
    return nullptr;
  }

  GdiplusBitmap canvas = CreateBitmap(w, h, PixelFormat32bppARGB);
  GdiplusGraphics graphics = GraphicsFor(canvas.get());
  if (!canvas || !graphics) return nullptr;
  gdip::GdipSetPageUnit(graphics.get(), Gdiplus::UnitPixel);
  SetHighQuality(graphics.get());
  gdip::GdipSetPixelOffsetMode(graphics.get(), Gdiplus::PixelOffsetModeHighQuality);
  gdip::GdipSetCompositingQuality(graphics.get(), Gdiplus::CompositingQualityHighQuality);
  gdip::GdipSetCompositingMode(graphics.get(), Gdiplus::CompositingModeSourceOver);
  gdip::GdipSetRenderingOrigin(graphics.get(), 0, 0);
  gdip::GdipGraphicsClear(graphics.get(), 0xFFFFFFFF);

  const Size size = ImageSize(photo.get());
  LogError("DEBUG RenderImage: Canvas=" + std::to_string(w) + "x" + std::to_string(h) +
           " Image=" + std::to_string(size.width) + "x" + std::to_string(size.height) +
           " Scale=" + FormatG(r.imageScale) + " Rotate=" + rotate);
  const PhotoPlacement place = PlacePhotoOnCanvas(w, h, size.width, size.height, r.imageScale,
                                                  r.offsetX, r.offsetY, r.rotateForOutput);
  if (r.rotateForOutput) gdip::GdipImageRotateFlip(photo.get(), Gdiplus::Rotate90FlipNone);
  LogError("DEBUG Position: x=" + FormatG(place.x) + " y=" + FormatG(place.y) +
           " scaledSize=" + std::to_string(place.width) + "x" + std::to_string(place.height));
  gdip::GdipDrawImageRectI(graphics.get(), photo.get(), static_cast<INT>(place.x),
                           static_cast<INT>(place.y), place.width, place.height);
  // The photo's colours go to the target before the border and the frame,
  // which have colours of their own, are drawn over them.
  gdip::GdipFlush(graphics.get(), Gdiplus::FlushIntentionSync);
  if (colors.convertPhoto && !colors.convertPhoto(canvas.get())) {
    LogError("ERROR: Failed to convert the photo's colors");
    return nullptr;
  }

  const BakeEffects& e = r.effects;
  if (e.stroke > 0.0f) {
    const float penWidth = static_cast<float>(static_cast<double>(e.stroke) * 20.0 * e.strokeScale);
    const std::uint32_t strokeColor = colors.stroke ? colors.stroke(e.strokeColor) : e.strokeColor;
    Gdiplus::GpPen* pen = nullptr;
    if (gdip::GdipCreatePen1(strokeColor, penWidth, Gdiplus::UnitWorld, &pen) == Gdiplus::Ok) {
      if (e.strokeExternal) {
        gdip::GdipDrawRectangleI(graphics.get(), pen, 0, 0, w - 1, h - 1);
      } else {
        gdip::GdipDrawRectangle(graphics.get(), pen, penWidth / 2, penWidth / 2, w - penWidth,
                                h - penWidth);
      }
      gdip::GdipDeletePen(pen);
    }
  }

  if (!r.framePath.empty()) {
    if (GdiplusBitmap frame = LoadFrame(r.framePath, colors.frame)) {
      if (r.rotateForOutput) frame = TurnFrame(frame.get());
      if (frame) gdip::GdipDrawImageRectI(graphics.get(), frame.get(), 0, 0, w, h);
    }
  }
  graphics.reset();
  return canvas;
}

}  // namespace runner
