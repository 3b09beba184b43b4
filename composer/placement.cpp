// A photo's road to its magnet: turns, the zoom and pan, the colour
// conversion, pasting and the frame.
#include "placement.h"

#include <algorithm>
#include <cstring>

#include "effects.h"
#include "imaging/pixels/resample.h"
#include "imaging/reading/exif.h"
#include "imaging/reading/photo_reader.h"
#include "job_file/unreadable_line.h"
#include "log.h"
#include "stage_times.h"

namespace sheetsmith {
namespace {

// A w x h image turned a quarter: result pixel (x, y) of the h x w result is
// source pixel `sourceOf(x, y)`. Walked in tiles so that both images stay in
// cache; a full-size photo is turned before it is scaled.
template <typename SourceOf>
void Turn(RgbaImage& image, SourceOf sourceOf) {
  if (image.empty()) return;
  StageTimer timer(GlobalStageTimes().turnNs);
  std::optional<RgbaImage> turned = MakeUnfilledImage(image.height, image.width);
  if (!turned) return;
  constexpr int kTile = 64;
  const auto* source = reinterpret_cast<const std::uint32_t*>(image.data());
  auto* target = reinterpret_cast<std::uint32_t*>(turned->data());
  const int width = turned->width;
  const int height = turned->height;
  for (int ty = 0; ty < height; ty += kTile) {
    for (int tx = 0; tx < width; tx += kTile) {
      const int yEnd = std::min(ty + kTile, height);
      const int xEnd = std::min(tx + kTile, width);
      for (int y = ty; y < yEnd; ++y) {
        for (int x = tx; x < xEnd; ++x) {
          const Point from = sourceOf(x, y);
          target[static_cast<std::size_t>(y) * width + x] =
              source[static_cast<std::size_t>(from.y) * image.width + from.x];
        }
      }
    }
  }
  image = std::move(*turned);
}

void TurnClockwise(RgbaImage& image, int quarters) {
  switch (quarters % 4) {
    case 1:
      Rotate90Clockwise(image);
      break;
    case 2:
      Rotate180(image);
      break;
    case 3:
      Rotate90CounterClockwise(image);
      break;
    default:
      break;
  }
}

// Scales the photo so that, once turned `quarters` times clockwise, it is
// width x height, turning the scaled rows as they are made. Scaling before
// turning turns the small image instead of the large one; the result is the
// same up to rounding. When the scaled copy cannot be made the whole photo
// is only turned. The time the decoder spends making rows for the scaling
// counts as decoding.
std::optional<RgbaImage> ScaleThenTurn(DecodedPhoto& photo, int width, int height, int quarters) {
  const std::int64_t start = StageClockNs();
  const bool sideways = quarters % 2 != 0;
  std::optional<RgbaImage> scaled =
      photo.Scale(sideways ? height : width, sideways ? width : height, quarters);
  const std::int64_t total = StageClockNs() - start;
  GlobalStageTimes().decodeNs += photo.rowNanoseconds();
  GlobalStageTimes().resizeNs += total - photo.rowNanoseconds();
  if (scaled) return scaled;
  std::optional<RgbaImage> whole;
  {
    StageTimer timer(GlobalStageTimes().decodeNs);
    whole = photo.Whole();
  }
  if (whole) TurnClockwise(*whole, quarters);
  return whole;
}

bool HasZoomOrPan(const GridImageEffects& e) {
  return (e.scale != 1.0f || e.offsetX != 0.0f || e.offsetY != 0.0f) && e.viewportWidth > 0.0f &&
         e.viewportHeight > 0.0f;
}

// Cuts the w x h rectangle at (x0, y0) out of the image.
void Crop(RgbaImage& image, int x0, int y0, int w, int h) {
  if (x0 == 0 && y0 == 0 && w == image.width && h == image.height) return;
  // In place: row y of the cut starts no later in the buffer than the row it
  // comes from, so rows moved top to bottom never overwrite one still to move.
  std::uint8_t* pixels = image.data();
  for (int y = 0; y < h; ++y) {
    std::memmove(pixels + static_cast<std::size_t>(y) * w * 4, image.At(x0, y0 + y),
                 static_cast<std::size_t>(w) * 4);
  }
  image.width = w;
  image.height = h;
}

// Truncates a positive scaled size, never below one pixel nor past the int range.
int ScaledSize(double s, int size) {
  const double scaled = s * size;
  if (!(scaled >= 1.0)) return 1;
  if (scaled >= 2147483647.0) return 2147483647;
  return static_cast<int>(scaled);
}

}  // namespace

void Rotate90Clockwise(RgbaImage& image) {
  const int h = image.height;
  // Result pixel (x, y) comes from column y, row h - 1 - x of the source.
  Turn(image, [h](int x, int y) { return Point{y, h - 1 - x}; });
}

void Rotate90CounterClockwise(RgbaImage& image) {
  const int w = image.width;
  // Source (x, y) goes to (y, w - 1 - x), so result (x, y) comes from (w - 1 - y, x).
  Turn(image, [w](int x, int y) { return Point{w - 1 - y, x}; });
}

void Rotate180(RgbaImage& image) {
  if (image.empty()) return;
  auto* pixels = reinterpret_cast<std::uint32_t*>(image.data());
  std::reverse(pixels, pixels + static_cast<std::size_t>(image.width) * image.height);
}

void ApplyOrientation(RgbaImage& image, int orientation) {
  switch (orientation) {
    case 3:
      Rotate180(image);
      break;
    case 6:
      Rotate90Clockwise(image);
      break;
    case 8:
      Rotate90CounterClockwise(image);
      break;
    default:
      break;
  }
}

namespace {

struct TransformFrame {
  float vpW, vpH, ratio, scaledOffX, scaledOffY, centreX, centreY;
};

TransformFrame ComputeTransformFrame(int w, int h, const GridImageEffects& e, bool wasRotated) {
  TransformFrame f{};
  f.vpW = wasRotated ? e.viewportHeight : e.viewportWidth;
  f.vpH = wasRotated ? e.viewportWidth : e.viewportHeight;
  f.ratio = std::min(static_cast<float>(w) / f.vpW, static_cast<float>(h) / f.vpH);
  f.scaledOffX = e.offsetX * f.ratio;
  f.scaledOffY = e.offsetY * f.ratio;
  f.centreX = static_cast<float>(w) * 0.5f + f.scaledOffX;
  f.centreY = static_cast<float>(h) * 0.5f + f.scaledOffY;
  return f;
}

}  // namespace

std::string TransformDebugLine(int w, int h, const GridImageEffects& e, int magnetWidth,
                               int magnetHeight, bool wasRotated) {
  const TransformFrame f = ComputeTransformFrame(w, h, e, wasRotated);
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on long
  // chains of string operator+ at -O3.
  std::string offsets = "(";
  offsets += FormatG(e.offsetX);
  offsets += ",";
  offsets += FormatG(e.offsetY);
  offsets += ")";
  std::string line = "Sheetsmith TRANSFORM DEBUG: imgSize=";
  for (const std::string& piece : {std::to_string(w),
                                   std::string("x"),
                                   std::to_string(h),
                                   std::string(" cellSize="),
                                   std::to_string(magnetWidth),
                                   std::string("x"),
                                   std::to_string(magnetHeight),
                                   std::string(" vpSize="),
                                   FormatG(f.vpW),
                                   std::string("x"),
                                   FormatG(f.vpH),
                                   std::string(" eff.offset="),
                                   offsets,
                                   std::string(" offXY="),
                                   offsets,
                                   std::string(" scaleRatio="),
                                   FormatG(f.ratio),
                                   std::string(" scaledOff=("),
                                   FormatG(f.scaledOffX),
                                   std::string(","),
                                   FormatG(f.scaledOffY),
                                   std::string(")"),
                                   std::string(" srcCenter=("),
                                   FormatG(f.centreX),
                                   std::string(","),
                                   FormatG(f.centreY),
                                   std::string(")"),
                                   std::string(" totalScale="),
                                   FormatG(e.scale),
                                   std::string(" wasRotated="),
                                   std::string(wasRotated ? "1" : "0")}) {
    line += piece;
  }
  return line;
}

void ApplyTransform(RgbaImage& image, const GridImageEffects& e, int magnetWidth, int magnetHeight,
                    bool wasRotated) {
  const int w = image.width;
  const int h = image.height;
  // Deliberately without the log mutex: this line may interleave.
  LogLine(TransformDebugLine(w, h, e, magnetWidth, magnetHeight, wasRotated));
  const TransformFrame f = ComputeTransformFrame(w, h, e, wasRotated);

  std::optional<RgbaImage> out = MakeImage(magnetWidth, magnetHeight, 255);
  if (!out) return;
  const float inverse = 1.0f / e.scale;
  const float halfW = static_cast<float>(magnetWidth) * 0.5f;
  const float halfH = static_cast<float>(magnetHeight) * 0.5f;
  const float maxX = static_cast<float>(w - 1);
  const float maxY = static_cast<float>(h - 1);
  for (int y = 0; y < magnetHeight; ++y) {
    const float sy = (static_cast<float>(y) - halfH) * inverse + f.centreY;
    if (!(sy >= 0.0f && sy < maxY)) continue;
    const int y0 = static_cast<int>(sy);
    const float fy = sy - static_cast<float>(y0);
    for (int x = 0; x < magnetWidth; ++x) {
      const float sx = (static_cast<float>(x) - halfW) * inverse + f.centreX;
      if (!(sx >= 0.0f && sx < maxX)) continue;
      const int x0 = static_cast<int>(sx);
      const float fx = sx - static_cast<float>(x0);
      const std::uint8_t* p00 = image.At(x0, y0);
      const std::uint8_t* p10 = image.At(x0 + 1, y0);
      const std::uint8_t* p01 = image.At(x0, y0 + 1);
      const std::uint8_t* p11 = image.At(x0 + 1, y0 + 1);
      std::uint8_t* q = out->At(x, y);
      for (int ch = 0; ch < 4; ++ch) {
        const float value = (p10[ch] * fx + p00[ch] * (1.0f - fx)) * (1.0f - fy) +
                            (p11[ch] * fx + p01[ch] * (1.0f - fx)) * fy;
        q[ch] = ClampToByte(value);
      }
    }
  }
  image = std::move(*out);
}

void PastePhoto(RgbaImage& canvas, const RgbaImage& photo, int x, int y) {
  PasteRegion(canvas, photo, 0, 0, photo.width, photo.height, x, y);
}

namespace {

// Whether PasteRegion copies anything for these arguments.
bool PastesRegion(const RgbaImage& canvas, const RgbaImage& photo, int fromX, int fromY, int width,
                  int height, int x, int y) {
  if (photo.empty() || canvas.empty() || x < 0 || y < 0 || fromX < 0 || fromY < 0) return false;
  if (width <= 0 || height <= 0 || width > photo.width - fromX || height > photo.height - fromY) {
    return false;
  }
  return static_cast<long long>(x) + width <= canvas.width;
}

}  // namespace

void PasteRegion(RgbaImage& canvas, const RgbaImage& photo, int fromX, int fromY, int width,
                 int height, int x, int y) {
  if (!PastesRegion(canvas, photo, fromX, fromY, width, height, x, y)) return;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  for (int row = 0; row < height; ++row) {
    if (static_cast<long long>(y) + row >= canvas.height) break;
    std::memcpy(canvas.At(x, y + row), photo.At(fromX, fromY + row), rowBytes);
  }
}

void FillRect(RgbaImage& canvas, long long x, long long y, long long w, long long h, Rgb color) {
  const long long x0 = std::clamp<long long>(x, 0, canvas.width);
  const long long x1 = std::clamp<long long>(x + w, x0, canvas.width);
  const long long y0 = std::clamp<long long>(y, 0, canvas.height);
  const long long y1 = std::clamp<long long>(y + h, y0, canvas.height);
  const std::uint8_t pixel[4] = {color.r, color.g, color.b, 255};
  const bool white = color.r == 255 && color.g == 255 && color.b == 255;
  for (long long row = y0; row < y1 && x1 > x0; ++row) {
    std::uint8_t* p = canvas.At(static_cast<int>(x0), static_cast<int>(row));
    if (white) {
      std::memset(p, 255, static_cast<std::size_t>(x1 - x0) * 4);
    } else {
      for (long long i = x0; i < x1; ++i, p += 4) std::memcpy(p, pixel, 4);
    }
  }
}

void BlendFrame(RgbaImage& canvas, const RgbaImage& frame, int x, int y) {
  if (frame.empty() || canvas.empty()) return;
  for (int fy = 0; fy < frame.height; ++fy) {
    const long long cy = static_cast<long long>(y) + fy;
    if (cy < 0) continue;
    if (cy >= canvas.height) break;
    for (int fx = 0; fx < frame.width; ++fx) {
      const long long cx = static_cast<long long>(x) + fx;
      if (cx < 0) continue;
      if (cx >= canvas.width) break;
      const std::uint8_t* f = frame.At(fx, fy);
      std::uint8_t* c = canvas.At(static_cast<int>(cx), static_cast<int>(cy));
      const int a = f[3];
      if (a == 255) {
        std::memcpy(c, f, 4);
      } else if (a != 0) {
        for (int ch = 0; ch < 3; ++ch)
          c[ch] = static_cast<std::uint8_t>((f[ch] * a + c[ch] * (255 - a)) / 255);
        c[3] = 255;
      }
    }
  }
}

std::shared_ptr<const ColorConversion> ConversionFor(DecodedPhoto& photo, const std::string& path,
                                                     RunColors* colors, bool& tagged) {
  tagged = false;
  if (!colors) return nullptr;
  const SourcePlan plan =
      PlanSourceColors(photo.profile(), photo.colors(), true, colors->target, colors->conversions);
  if (!plan.problem.empty()) {
    LogLine("Sheetsmith: The color profile of " + path + " cannot be used (" + plan.problem +
            "); its colors are taken as sRGB");
  }
  if (plan.keepInks) photo.KeepInks();
  tagged = plan.tagged;
  return plan.conversion;
}

Rgb TargetColor(Rgb srgb, RunColors* colors) {
  return colors ? ChosenColorInTarget(srgb, colors->target, colors->conversions) : srgb;
}

bool PlacePhoto(RgbaImage& canvas, std::size_t index, int row, int col, const GridConfig& config,
                const GridGeometry& geometry, RunColors* colors) {
  std::optional<PreparedPhoto> prepared = PreparePhoto(index, row, col, config, geometry, colors);
  if (!prepared) return false;
  PastePrepared(canvas, *prepared);
  return true;
}

std::optional<PreparedPhoto> PreparePhoto(std::size_t index, int row, int col,
                                          const GridConfig& config, const GridGeometry& geometry,
                                          RunColors* colors) {
  const int mw = geometry.magnetWidth;
  const int mh = geometry.magnetHeight;
  const Point origin = MagnetOrigin(config, geometry, row, col);
  PreparedPhoto prepared;
  prepared.magnet = origin;
  prepared.magnetWidth = mw;
  prepared.magnetHeight = mh;
  prepared.slot = row * config.cols + col;

  const std::string& path = config.images[index];
  std::optional<DecodedPhoto> decoded;
  ReadProblem problem;
  {
    StageTimer timer(GlobalStageTimes().decodeNs);
    decoded = DecodedPhoto::Open(path, &problem);
  }
  if (!decoded) {
    LogLine(FormatUnreadableLine({false, index, problem, path}));
    return std::nullopt;
  }
  const std::shared_ptr<const ColorConversion> conversion =
      ConversionFor(*decoded, path, colors, prepared.tagged);

  // The photo's size upright, and whether it is turned to the magnet.
  const int uprightTurns = decoded->uprightQuarterTurns();
  int width = decoded->width();
  int height = decoded->height();
  if (uprightTurns % 2 != 0) std::swap(width, height);
  bool wasRotated = false;
  if ((geometry.landscape && height > width) || (geometry.portrait && width > height)) {
    std::swap(width, height);
    wasRotated = true;
  }
  // Scaled to cover the magnet, then turned.
  const double s = std::max(static_cast<double>(mw) / width, static_cast<double>(mh) / height);
  std::optional<RgbaImage> photo = ScaleThenTurn(
      *decoded, ScaledSize(s, width), ScaledSize(s, height), uprightTurns + (wasRotated ? 1 : 0));
  if (!photo) {
    LogLine(FormatUnreadableLine({false, index, decoded->problem(), path}));
    return std::nullopt;
  }
  decoded.reset();

  const GridImageEffects* effects =
      index < config.effects.size() ? &config.effects[index] : nullptr;
  // The part of the photo that goes onto the page.
  int pasteWidth = photo->width;
  int pasteHeight = photo->height;
  if (effects && HasZoomOrPan(*effects)) {
    ApplyTransform(*photo, *effects, mw, mh, wasRotated);
  } else {
    const int w = photo->width;
    const int h = photo->height;
    prepared.fromX = std::max(0, (w - mw) / 2);
    prepared.fromY = std::max(0, (h - mh) / 2);
    pasteWidth = std::min(w, mw);
    pasteHeight = std::min(h, mh);
    // Effects work on the cut; without them its middle is pasted as it is.
    if (effects) {
      Crop(*photo, prepared.fromX, prepared.fromY, pasteWidth, pasteHeight);
      prepared.fromX = prepared.fromY = 0;
    }
  }

  if (conversion) {
    StageTimer timer(GlobalStageTimes().colorNs);
    conversion->ApplyRows(photo->At(prepared.fromX, prepared.fromY), pasteWidth, pasteHeight,
                          static_cast<std::size_t>(photo->width) * 4);
  }
  if (effects) {
    StageTimer timer(GlobalStageTimes().effectsNs);
    ApplyEffects(*photo, *effects);
    ApplyStroke(*photo, *effects, [colors](Rgb srgb) { return TargetColor(srgb, colors); });
    pasteWidth = photo->width;
    pasteHeight = photo->height;
  }
  prepared.width = pasteWidth;
  prepared.height = pasteHeight;
  prepared.x = static_cast<long long>(origin.x) + (mw - pasteWidth) / 2;
  prepared.y = static_cast<long long>(origin.y) + (mh - pasteHeight) / 2;
  prepared.photo = std::move(*photo);
  photo.reset();

  if (index < config.frames.size() && !config.frames[index].empty()) {
    const std::string& framePath = config.frames[index];
    std::optional<RgbaImage> frame;
    std::shared_ptr<const ColorConversion> frameConversion;
    bool frameTagged = false;
    int frameTurns = 0;
    {
      StageTimer timer(GlobalStageTimes().decodeNs);
      ReadProblem frameProblem;
      if (std::optional<DecodedPhoto> file = DecodedPhoto::Open(framePath, &frameProblem)) {
        frameConversion = ConversionFor(*file, framePath, colors, frameTagged);
        frameTurns = file->uprightQuarterTurns();
        frame = file->Whole();
        if (!frame) frameProblem = file->problem();
      }
      if (!frame) LogLine(FormatUnreadableLine({true, index, frameProblem, framePath}));
    }
    if (frame) {
      const int quarters = frameTurns + (wasRotated ? 1 : 0);
      const bool sideways = quarters % 2 != 0;
      {
        StageTimer timer(GlobalStageTimes().resizeNs);
        prepared.frame = Resample(*frame, sideways ? mh : mw, sideways ? mw : mh, quarters);
      }
      if (prepared.frame && frameConversion) {
        StageTimer timer(GlobalStageTimes().colorNs);
        frameConversion->Apply(prepared.frame->data(),
                               static_cast<std::size_t>(prepared.frame->width) *
                                   static_cast<std::size_t>(prepared.frame->height));
        prepared.tagged = prepared.tagged || frameTagged;
      }
      prepared.frameX = origin.x;
      prepared.frameY = origin.y;
    }
  }
  return prepared;
}

void PastePrepared(RgbaImage& canvas, const PreparedPhoto& prepared, bool whitenMagnet) {
  const int x = static_cast<int>(std::clamp<long long>(prepared.x, 0, canvas.width));
  const int y = static_cast<int>(std::clamp<long long>(prepared.y, 0, canvas.height));
  // The magnet on the canvas, and whether the pasted part covers it.
  const long long left = std::clamp<long long>(prepared.magnet.x, 0, canvas.width);
  const long long top = std::clamp<long long>(prepared.magnet.y, 0, canvas.height);
  const long long right = std::clamp<long long>(
      static_cast<long long>(prepared.magnet.x) + prepared.magnetWidth, left, canvas.width);
  const long long bottom = std::clamp<long long>(
      static_cast<long long>(prepared.magnet.y) + prepared.magnetHeight, top, canvas.height);
  const bool covered = PastesRegion(canvas, prepared.photo, prepared.fromX, prepared.fromY,
                                    prepared.width, prepared.height, x, y) &&
                       x <= left && y <= top &&
                       x + static_cast<long long>(prepared.width) >= right &&
                       y + static_cast<long long>(prepared.height) >= bottom;
  if (whitenMagnet && !covered) WhitenRect(canvas, left, top, right - left, bottom - top);
  PasteRegion(canvas, prepared.photo, prepared.fromX, prepared.fromY, prepared.width,
              prepared.height, x, y);
  if (prepared.frame) BlendFrame(canvas, *prepared.frame, prepared.frameX, prepared.frameY);
}

}  // namespace sheetsmith
