// Conversions through Little CMS transforms, and the quick road beside them.
#include "imaging/color/conversion.h"

#include <algorithm>
#include <cmath>

#include "imaging/color/lcms_profile.h"
#include "imaging/color/profile_check.h"

namespace sheetsmith {

std::optional<SourceColors> SourceColorsOf(const ProfileInfo& profile) {
  if (profile.colorSpace == IccSignature("RGB ")) return SourceColors::kRgb;
  if (profile.colorSpace == IccSignature("GRAY")) return SourceColors::kGray;
  if (profile.colorSpace == IccSignature("CMYK")) return SourceColors::kCmyk;
  return std::nullopt;
}

namespace {

cmsUInt32Number Format(SourceColors colors, PixelLayout layout) {
  switch (colors) {
    case SourceColors::kGray:
      return COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) |
             EXTRA_SH(layout == PixelLayout::kBgr ? 2 : 3);
    case SourceColors::kCmyk:
      return TYPE_CMYK_8_REV;
    case SourceColors::kRgb:
      break;
  }
  switch (layout) {
    case PixelLayout::kBgra:
      return TYPE_BGRA_8;
    case PixelLayout::kBgr:
      return TYPE_BGR_8;
    case PixelLayout::kRgba:
      break;
  }
  return TYPE_RGBA_8;
}

}  // namespace

struct ColorConversion::Quick {
  static constexpr int kSteps = 16384;
  float in[3][256];
  float matrix[3][3];
  std::uint8_t out[3][kSteps + 1];
};

namespace {

// The quick road's tables for two profiles, or null when either is not an
// RGB matrix/TRC profile whose perceptual conversion is its matrix (one
// with perceptual tables is converted through them).
std::shared_ptr<const ColorConversion::Quick> MakeQuick(cmsHPROFILE from, cmsHPROFILE to) {
  // Little CMS takes the float tags before the matrix when a profile has
  // them: such a profile is left to it.
  static constexpr cmsTagSignature kFloatTags[] = {
      cmsSigDToB0Tag, cmsSigDToB1Tag, cmsSigDToB2Tag, cmsSigDToB3Tag,
      cmsSigBToD0Tag, cmsSigBToD1Tag, cmsSigBToD2Tag, cmsSigBToD3Tag};
  for (cmsHPROFILE profile : {from, to}) {
    if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile)) return nullptr;
    for (const cmsTagSignature tag : kFloatTags) {
      if (cmsIsTag(profile, tag)) return nullptr;
    }
  }
  if (cmsIsCLUT(from, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT) ||
      cmsIsCLUT(to, INTENT_PERCEPTUAL, LCMS_USED_AS_OUTPUT)) {
    return nullptr;
  }
  const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                        cmsSigBlueColorantTag};
  const cmsTagSignature curves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  double source[3][3];
  double target[3][3];
  for (int c = 0; c < 3; ++c) {
    const auto* a = static_cast<const cmsCIEXYZ*>(cmsReadTag(from, colorants[c]));
    const auto* b = static_cast<const cmsCIEXYZ*>(cmsReadTag(to, colorants[c]));
    if (!a || !b) return nullptr;
    source[0][c] = a->X;
    source[1][c] = a->Y;
    source[2][c] = a->Z;
    target[0][c] = b->X;
    target[1][c] = b->Y;
    target[2][c] = b->Z;
  }
  const double det = target[0][0] * (target[1][1] * target[2][2] - target[1][2] * target[2][1]) -
                     target[0][1] * (target[1][0] * target[2][2] - target[1][2] * target[2][0]) +
                     target[0][2] * (target[1][0] * target[2][1] - target[1][1] * target[2][0]);
  if (std::abs(det) < 1e-9) return nullptr;
  double inverse[3][3];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      inverse[r][c] = (target[r1][c1] * target[r2][c2] - target[r1][c2] * target[r2][c1]) / det;
    }
  }
  auto quick = std::make_shared<ColorConversion::Quick>();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += inverse[r][k] * source[k][c];
      // A damaged profile's numbers are left to Little CMS.
      if (!std::isfinite(sum) || std::abs(sum) > 1e6) return nullptr;
      quick->matrix[r][c] = static_cast<float>(sum);
    }
  }
  for (int c = 0; c < 3; ++c) {
    const auto* in = static_cast<const cmsToneCurve*>(cmsReadTag(from, curves[c]));
    const auto* out = static_cast<const cmsToneCurve*>(cmsReadTag(to, curves[c]));
    if (!in || !out) return nullptr;
    // A profile whose black is not zero gets Little CMS's black-point
    // compensation in perceptual conversions into version 4 profiles, which
    // the tables do not make: it is left to Little CMS.
    constexpr float kNoLight = 1e-6f;
    if (cmsEvalToneCurveFloat(in, 0.0f) > kNoLight || cmsEvalToneCurveFloat(out, 0.0f) > kNoLight) {
      return nullptr;
    }
    for (int v = 0; v < 256; ++v) {
      const float linear = cmsEvalToneCurveFloat(in, static_cast<cmsFloat32Number>(v / 255.0));
      if (!std::isfinite(linear)) return nullptr;
      quick->in[c][v] = linear;
    }
    // The output level of a light is the number of levels whose lower edge
    // (half a level below) the target's curve takes to at most that light:
    // the inverted curve, rounded, from 255 evaluations of the curve itself.
    // A curve that does not rise is left to Little CMS.
    float edges[256];
    for (int k = 1; k < 256; ++k) {
      edges[k] = cmsEvalToneCurveFloat(out, static_cast<cmsFloat32Number>((k - 0.5) / 255.0));
      if (!std::isfinite(edges[k]) || (k > 1 && edges[k] < edges[k - 1])) return nullptr;
    }
    int level = 0;
    for (int step = 0; step <= ColorConversion::Quick::kSteps; ++step) {
      const float light = static_cast<float>(step) / ColorConversion::Quick::kSteps;
      while (level < 255 && edges[level + 1] <= light) ++level;
      quick->out[c][step] = static_cast<std::uint8_t>(level);
    }
  }
  return quick;
}

}  // namespace

void ColorConversion::ApplyQuick(std::uint8_t* pixels, std::size_t count) const {
  const Quick& q = *quick_;
  const int red = red_;
  const int blue = blue_;
  const std::size_t step = pixelBytes_;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* p = pixels + i * step;
    const float r = q.in[0][p[red]];
    const float g = q.in[1][p[1]];
    const float b = q.in[2][p[blue]];
    const auto level = [&q](int c, float v) {
      v = v * static_cast<float>(Quick::kSteps) + 0.5f;
      // Written so that a value that is no number lands at 0 too.
      v = !(v > 0.0f)                             ? 0.0f
          : v > static_cast<float>(Quick::kSteps) ? static_cast<float>(Quick::kSteps)
                                                  : v;
      return q.out[c][static_cast<int>(v)];
    };
    const std::uint8_t outRed =
        level(0, q.matrix[0][0] * r + q.matrix[0][1] * g + q.matrix[0][2] * b);
    const std::uint8_t outGreen =
        level(1, q.matrix[1][0] * r + q.matrix[1][1] * g + q.matrix[1][2] * b);
    const std::uint8_t outBlue =
        level(2, q.matrix[2][0] * r + q.matrix[2][1] * g + q.matrix[2][2] * b);
    p[red] = outRed;
    p[1] = outGreen;
    p[blue] = outBlue;
  }
}

std::shared_ptr<const ColorConversion> ColorConversion::Make(std::string_view source,
                                                             SourceColors sourceColors,
                                                             std::string_view target,
                                                             PixelLayout layout,
                                                             std::string* problem) {
  const auto refuse = [problem](const char* why) -> std::shared_ptr<const ColorConversion> {
    if (problem) *problem = why;
    return nullptr;
  };
  for (const std::string_view profile : {source, target}) {
    if (const std::optional<std::string> unsafe = ReasonProfileTagsUnsafe(profile)) {
      if (problem) *problem = *unsafe;
      return nullptr;
    }
  }
  const UniqueProfile from = OpenProfile(source);
  const UniqueProfile to = OpenProfile(target);
  if (!from || !to) return refuse("a profile cannot be opened");
  if (sourceColors == SourceColors::kRgb && source == target) {
    std::shared_ptr<ColorConversion> same(new ColorConversion);
    same->identity_ = true;
    return same;
  }
  cmsHTRANSFORM transform =
      cmsCreateTransform(from.get(), Format(sourceColors, layout), to.get(),
                         Format(SourceColors::kRgb, layout), INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
  if (!transform) return refuse("the two profiles cannot be joined into a conversion");
  std::shared_ptr<ColorConversion> conversion(new ColorConversion);
  conversion->transform_ = transform;
  conversion->cmyk_ = sourceColors == SourceColors::kCmyk;
  conversion->pixelBytes_ = layout == PixelLayout::kBgr ? 3 : 4;
  conversion->red_ = layout == PixelLayout::kRgba ? 0 : 2;
  conversion->blue_ = layout == PixelLayout::kRgba ? 2 : 0;
  if (sourceColors == SourceColors::kRgb) conversion->quick_ = MakeQuick(from.get(), to.get());
  return conversion;
}

ColorConversion::~ColorConversion() {
  if (transform_) cmsDeleteTransform(transform_);
}

void ColorConversion::Apply(std::uint8_t* pixels, std::size_t count) const {
  if (identity_) return;
  // In pieces, so that no count passes Little CMS's 32-bit one.
  constexpr std::size_t kPiece = std::size_t{1} << 24;
  for (std::size_t done = 0; done < count; done += kPiece) {
    const std::size_t piece = std::min(kPiece, count - done);
    std::uint8_t* at = pixels + done * pixelBytes_;
    if (quick_) {
      ApplyQuick(at, piece);
      continue;
    }
    cmsDoTransform(transform_, at, at, static_cast<cmsUInt32Number>(piece));
    if (cmyk_) {
      for (std::size_t i = 0; i < piece; ++i) at[i * 4 + 3] = 255;
    }
  }
}

void ColorConversion::ApplyRows(std::uint8_t* first, int width, int height,
                                std::size_t stride) const {
  if (identity_ || width <= 0 || height <= 0) return;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = first + static_cast<std::size_t>(y) * stride;
    if (quick_) {
      ApplyQuick(row, static_cast<std::size_t>(width));
      continue;
    }
    cmsDoTransform(transform_, row, row, static_cast<cmsUInt32Number>(width));
    if (cmyk_) {
      for (int x = 0; x < width; ++x) row[x * 4 + 3] = 255;
    }
  }
}

}  // namespace sheetsmith
