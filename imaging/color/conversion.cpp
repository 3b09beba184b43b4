// Conversions through Little CMS transforms, and the quick road beside them.
#include "imaging/color/conversion.h"

#include <algorithm>
#include <cmath>

#include "imaging/color/lcms_profile.h"
#include "imaging/color/profile_check.h"
#include "imaging/color/quick_kernels.h"

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

// Little CMS's rounding of a number to 14 fraction bits.
std::int32_t Fixed14(double value) {
  return static_cast<std::int32_t>(std::floor(value * QuickTables::kSteps + 0.5));
}

// The quick road's tables for two profiles, or null when either is not an
// RGB matrix/TRC profile whose perceptual conversion is its matrix (one
// with perceptual tables is converted through them), or when its numbers
// could overflow the fixed-point sums.
std::shared_ptr<const QuickTables> MakeQuick(cmsHPROFILE from, cmsHPROFILE to) {
  // Little CMS takes the float tags before the matrix when a profile has
  // them: such a profile is left to it.
  static constexpr cmsTagSignature kFloatTags[] = {cmsSigDToB0Tag, cmsSigDToB1Tag, cmsSigDToB2Tag,
                                                   cmsSigDToB3Tag, cmsSigBToD0Tag, cmsSigBToD1Tag,
                                                   cmsSigBToD2Tag, cmsSigBToD3Tag};
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
  auto quick = std::make_shared<QuickTables>();
  // Three lights of at most 1.001 through entries of at most 2.0 either way
  // keep every sum within 31 bits.
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += inverse[r][k] * source[k][c];
      if (!(std::abs(sum) <= 2.0)) return nullptr;  // no number, too
      quick->matrix[r][c] = Fixed14(sum);
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
      const float light = cmsEvalToneCurveFloat(in, static_cast<cmsFloat32Number>(v / 255.0));
      if (!(light >= 0.0f && light <= 1.001f)) return nullptr;
      quick->in[c][v] = Fixed14(light);
    }
    // The target's curve inverted as Little CMS inverts it for its matrix
    // road (exactly when it is a formula, at 4096 points when it is a table),
    // taken at every step to 16 bits and those to 8 as it takes them.
    cmsToneCurve* inverted = cmsReverseToneCurve(out);
    if (!inverted) return nullptr;
    for (int step = 0; step <= QuickTables::kSteps; ++step) {
      double value = cmsEvalToneCurveFloat(
          inverted, static_cast<cmsFloat32Number>(step / static_cast<double>(QuickTables::kSteps)));
      value = !(value > 0.0) ? 0.0 : std::min(value, 1.0);
      const auto word = static_cast<std::uint32_t>(std::floor(value * 65535.0 + 0.5));
      quick->out[c][step] = static_cast<std::uint8_t>((word * 65281u + 8388608u) >> 24);
    }
    cmsFreeToneCurve(inverted);
  }
  return quick;
}

}  // namespace

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
      ChosenQuickKernel()(*quick_, at, piece, pixelBytes_, red_, blue_);
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
      ChosenQuickKernel()(*quick_, row, static_cast<std::size_t>(width), pixelBytes_, red_, blue_);
      continue;
    }
    cmsDoTransform(transform_, row, row, static_cast<cmsUInt32Number>(width));
    if (cmyk_) {
      for (int x = 0; x < width; ++x) row[x * 4 + 3] = 255;
    }
  }
}

}  // namespace sheetsmith
