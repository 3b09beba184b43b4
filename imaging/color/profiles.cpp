#include "color_management.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>

// Only the zlib decoder of stb_image is used here, for PNG iCCP chunks; its
// functions stay private to this file.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace sheetsmith {
namespace {

std::uint32_t Read32(std::string_view bytes, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

std::uint16_t Read16(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                    static_cast<unsigned char>(bytes[at + 1]));
}

std::uint32_t Crc32(std::string_view bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : bytes) {
    crc ^= static_cast<unsigned char>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

constexpr std::string_view kIccChunkMark("ICC_PROFILE\0", 12);
constexpr std::size_t kMaxChunkData = 65535 - 2 - kIccChunkMark.size() - 2;

EmbeddedProfile Damaged(std::string problem) {
  EmbeddedProfile damaged;
  damaged.state = EmbeddedProfile::State::kDamaged;
  damaged.problem = std::move(problem);
  return damaged;
}

// Owns a Little CMS profile.
struct ProfileCloser {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using UniqueProfile = std::unique_ptr<void, ProfileCloser>;

UniqueProfile OpenProfile(std::string_view bytes) {
  return UniqueProfile(
      cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}

// The descriptions of the profiles the composer makes.
constexpr const char* kSrgbName = "sRGB IEC61966-2.1 (Korvela)";
constexpr const char* kAdobeRgbName = "Adobe RGB (1998) compatible (Korvela)";

// The profile's bytes, with its creation date set to 1 January 2025, so that
// the same profile is the same bytes on every run, on every platform.
std::string SaveProfile(cmsHPROFILE profile, const char* description) {
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", description);
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
  cmsMLUsetASCII(text, "en", "US", "No copyright, use freely");
  cmsWriteTag(profile, cmsSigCopyrightTag, text);
  cmsMLUfree(text);
  cmsSetDeviceClass(profile, cmsSigDisplayClass);
  cmsUInt32Number size = 0;
  std::string bytes;
  if (cmsSaveProfileToMem(profile, nullptr, &size) && size >= 128) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  cmsCloseProfile(profile);
  if (bytes.size() >= 128) {
    const std::uint16_t date[6] = {2025, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i) {
      bytes[24 + 2 * i] = static_cast<char>(date[i] >> 8);
      bytes[25 + 2 * i] = static_cast<char>(date[i] & 0xFF);
    }
    // No primary platform (Little CMS names the one it was built for), no
    // profile ID.
    std::fill(bytes.begin() + 40, bytes.begin() + 44, '\0');
    std::fill(bytes.begin() + 84, bytes.begin() + 100, '\0');
  }
  return bytes;
}

cmsCIExyY D65() { return cmsCIExyY{0.3127, 0.3290, 1.0}; }

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

ColorSelection ParseColorSelection(const std::string& stored) {
  static const std::string kCustom = "custom:";
  ColorSelection selection;
  if (stored == "adobe_rgb") {
    selection.kind = ColorSelection::Kind::kAdobeRgb;
  } else if (stored == "no_conversion") {
    selection.kind = ColorSelection::Kind::kNone;
  } else if (stored.compare(0, kCustom.size(), kCustom) == 0) {
    selection.kind = ColorSelection::Kind::kCustom;
    selection.customPath = stored.substr(kCustom.size());
  }
  return selection;
}

std::string SignatureText(std::uint32_t signature) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((signature >> shift) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::optional<ProfileInfo> InspectProfile(std::string_view bytes, std::string* problem) {
  const auto refuse = [problem](const char* why) -> std::optional<ProfileInfo> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  // The header's own claims are checked first: Little CMS would take a
  // declared size beyond the bytes as a profile cut short and fail anyway,
  // but says less about why.
  if (bytes.size() > kMaxProfileBytes) return refuse("it is larger than any profile");
  if (bytes.size() < 132) return refuse("it is too short for an ICC profile");
  if (Read32(bytes, 36) != IccSignature("acsp")) return refuse("it is not an ICC profile");
  const std::uint32_t declared = Read32(bytes, 0);
  if (declared < 132) return refuse("its header is damaged");
  if (declared > bytes.size()) return refuse("it is cut short");
  const UniqueProfile profile = OpenProfile(bytes.substr(0, declared));
  if (!profile) return refuse("its tags are damaged");
  ProfileInfo info;
  info.size = declared;
  char description[256] = {};
  if (cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", description,
                             sizeof description) > 0) {
    info.description = description;
  }
  info.deviceClass = static_cast<std::uint32_t>(cmsGetDeviceClass(profile.get()));
  info.colorSpace = static_cast<std::uint32_t>(cmsGetColorSpace(profile.get()));
  return info;
}

std::optional<std::string> ReasonNotATarget(const ProfileInfo& profile) {
  if (profile.colorSpace != IccSignature("RGB ")) {
    return "it holds " + SignatureText(profile.colorSpace) + " colors, not RGB";
  }
  for (const std::uint32_t cannot :
       {IccSignature("abst"), IccSignature("link"), IccSignature("nmcl")}) {
    if (profile.deviceClass == cannot) {
      return "colors cannot be converted to a profile of class " + SignatureText(cannot);
    }
  }
  return std::nullopt;
}

std::optional<SourceColors> SourceColorsOf(const ProfileInfo& profile) {
  if (profile.colorSpace == IccSignature("RGB ")) return SourceColors::kRgb;
  if (profile.colorSpace == IccSignature("GRAY")) return SourceColors::kGray;
  if (profile.colorSpace == IccSignature("CMYK")) return SourceColors::kCmyk;
  return std::nullopt;
}

const std::string& SrgbProfile() {
  static const std::string profile = SaveProfile(cmsCreate_sRGBProfile(), kSrgbName);
  return profile;
}

const std::string& AdobeRgbProfile() {
  static const std::string profile = [] {
    const cmsCIExyY white = D65();
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE made = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    return SaveProfile(made, kAdobeRgbName);
  }();
  return profile;
}

EmbeddedProfile JoinIccChunks(const std::vector<std::string_view>& app2Segments, bool cutShort) {
  std::map<int, std::string_view> chunks;
  int count = -1;
  std::size_t total = 0;
  for (const std::string_view segment : app2Segments) {
    if (segment.size() < kIccChunkMark.size() + 2 ||
        segment.substr(0, kIccChunkMark.size()) != kIccChunkMark) {
      continue;
    }
    const int number = static_cast<unsigned char>(segment[12]);
    const int chunkCount = static_cast<unsigned char>(segment[13]);
    if (count >= 0 && chunkCount != count) return Damaged("its chunks disagree on their count");
    count = chunkCount;
    if (number < 1 || number > chunkCount) return Damaged("a chunk is numbered out of range");
    if (chunks.count(number)) return Damaged("a chunk comes twice");
    chunks[number] = segment.substr(kIccChunkMark.size() + 2);
    total += chunks[number].size();
    if (total > kMaxProfileBytes) return Damaged("it is larger than any profile");
  }
  if (chunks.empty()) return {};
  if (static_cast<int>(chunks.size()) != count) {
    return Damaged(cutShort ? "the file is cut short" : "a chunk is missing");
  }
  EmbeddedProfile found;
  found.state = EmbeddedProfile::State::kFound;
  found.bytes.reserve(total);
  for (const auto& [number, data] : chunks) found.bytes.append(data);
  return found;
}

EmbeddedProfile IccpProfile(std::string_view data) {
  const std::size_t nameEnd = data.find('\0');
  if (nameEnd == std::string_view::npos || nameEnd == 0 || nameEnd > 79 ||
      nameEnd + 2 > data.size() || data[nameEnd + 1] != 0) {
    return Damaged("its chunk is not laid out as PNG asks");
  }
  const std::string_view compressed = data.substr(nameEnd + 2);
  // Inflated into a buffer of a common profile's size, else of the largest
  // size taken: a chunk that would inflate past it is refused rather than
  // followed.
  std::string inflated;
  int size = -1;
  for (const std::size_t room : {std::size_t{1} << 16, kMaxProfileBytes}) {
    inflated.assign(room, '\0');
    size = stbi_zlib_decode_buffer(inflated.data(), static_cast<int>(room), compressed.data(),
                                   static_cast<int>(compressed.size()));
    if (size > 0) break;
  }
  if (size <= 0) return Damaged("its compressed data cannot be inflated");
  inflated.resize(static_cast<std::size_t>(size));
  EmbeddedProfile found;
  found.state = EmbeddedProfile::State::kFound;
  found.bytes = std::move(inflated);
  return found;
}

namespace {

EmbeddedProfile FromJpeg(std::string_view file) {
  std::vector<std::string_view> segments;
  bool cutShort = false;
  std::size_t at = 2;
  while (at + 4 <= file.size()) {
    if (static_cast<unsigned char>(file[at]) != 0xFF) break;
    const unsigned marker = static_cast<unsigned char>(file[at + 1]);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // the picture's data, or its end
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      at += 2;
      continue;
    }
    const std::size_t length = Read16(file, at + 2);
    if (length < 2) break;
    if (at + 2 + length > file.size()) {
      cutShort = true;
      break;
    }
    if (marker == 0xE2) segments.push_back(file.substr(at + 4, length - 2));
    at += 2 + length;
  }
  return JoinIccChunks(segments, cutShort);
}

EmbeddedProfile FromPng(std::string_view file) {
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    const std::uint32_t length = Read32(file, at);
    const std::uint32_t type = Read32(file, at + 4);
    if (type == IccSignature("IDAT") || type == IccSignature("IEND")) break;
    const bool profile = type == IccSignature("iCCP");
    if (length > file.size() - at - 12) {
      if (profile) return Damaged("the file is cut short");
      break;
    }
    if (profile) {
      if (Crc32(file.substr(at + 4, length + 4)) != Read32(file, at + 8 + length)) {
        return Damaged("its chunk's checksum is wrong");
      }
      return IccpProfile(file.substr(at + 8, length));
    }
    at += 12 + length;
  }
  return {};
}

}  // namespace

EmbeddedProfile FindEmbeddedProfile(std::string_view file) {
  if (file.size() >= 2 && static_cast<unsigned char>(file[0]) == 0xFF &&
      static_cast<unsigned char>(file[1]) == 0xD8) {
    return FromJpeg(file);
  }
  if (file.size() >= 8 && file.substr(0, 8) == std::string_view("\x89PNG\r\n\x1A\n", 8)) {
    return FromPng(file);
  }
  return {};
}

std::vector<std::string> IccSegments(std::string_view profile) {
  std::vector<std::string> segments;
  const std::size_t count = (profile.size() + kMaxChunkData - 1) / kMaxChunkData;
  if (count == 0 || count > 255) return segments;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view data = profile.substr(i * kMaxChunkData, kMaxChunkData);
    const std::size_t length = 2 + kIccChunkMark.size() + 2 + data.size();
    std::string segment("\xFF\xE2", 2);
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    segment += kIccChunkMark;
    segment += static_cast<char>(i + 1);
    segment += static_cast<char>(count);
    segment += data;
    segments.push_back(std::move(segment));
  }
  return segments;
}

std::optional<std::string> EmbedSegments(std::string_view jpeg,
                                         const std::vector<std::string>& segments) {
  if (jpeg.size() < 4 || static_cast<unsigned char>(jpeg[0]) != 0xFF ||
      static_cast<unsigned char>(jpeg[1]) != 0xD8) {
    return std::nullopt;
  }
  std::size_t at = 2;
  if (static_cast<unsigned char>(jpeg[2]) == 0xFF && static_cast<unsigned char>(jpeg[3]) == 0xE0 &&
      jpeg.size() >= 6) {
    const std::size_t length = Read16(jpeg, 4);
    if (4 + length <= jpeg.size()) at = 2 + 2 + length;
  }
  std::string out(jpeg.substr(0, at));
  for (const std::string& segment : segments) out += segment;
  out += jpeg.substr(at);
  return out;
}

ColorTarget ResolveColorTarget(const ColorSelection& selection, const ProfileFileReader& read) {
  ColorTarget target;
  switch (selection.kind) {
    case ColorSelection::Kind::kNone:
      target.name = "none";
      return target;
    case ColorSelection::Kind::kSrgb:
    case ColorSelection::Kind::kAdobeRgb: {
      const bool adobe = selection.kind == ColorSelection::Kind::kAdobeRgb;
      target.convert = true;
      target.isSrgb = !adobe;
      target.profile = adobe ? AdobeRgbProfile() : SrgbProfile();
      target.name = adobe ? kAdobeRgbName : kSrgbName;
      return target;
    }
    case ColorSelection::Kind::kCustom:
      break;
  }
  const std::string& path = selection.customPath;
  const auto fail = [&](const std::string& why) {
    target.failure = "Color profile " + path + " cannot be used: " + why;
    return target;
  };
  std::optional<std::string> bytes = read ? read(path) : std::nullopt;
  if (!bytes) return fail("the file cannot be read");
  std::string problem;
  const std::optional<ProfileInfo> info = InspectProfile(*bytes, &problem);
  if (!info) return fail(problem);
  if (const std::optional<std::string> reason = ReasonNotATarget(*info)) return fail(*reason);
  // One that Little CMS opens but cannot convert to fails here too, before
  // any photo is converted.
  std::string joined;
  if (!ColorConversion::Make(SrgbProfile(), SourceColors::kRgb, *bytes, PixelLayout::kRgba,
                             &joined)) {
    return fail(joined);
  }
  target.convert = true;
  target.profile = bytes->substr(0, info->size);
  target.name = info->description.empty() ? path : info->description;
  return target;
}

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
  for (cmsHPROFILE profile : {from, to}) {
    if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile)) return nullptr;
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
  const UniqueProfile from = OpenProfile(source);
  const UniqueProfile to = OpenProfile(target);
  if (!from || !to) return refuse("a profile cannot be opened");
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
  if (width <= 0 || height <= 0) return;
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

SourcePlan PlanSourceColors(const EmbeddedProfile& embedded, SourceColors pixels,
                            bool inksAvailable, const ColorTarget& target,
                            ConversionCache& conversions) {
  SourcePlan plan;
  if (!target.convert) return plan;
  if (embedded.state == EmbeddedProfile::State::kDamaged) {
    plan.problem = embedded.problem;
  } else if (embedded.state == EmbeddedProfile::State::kFound) {
    if (const std::optional<ProfileInfo> info = InspectProfile(embedded.bytes, &plan.problem)) {
      const std::optional<SourceColors> described = SourceColorsOf(*info);
      // Grey pixels are RGB ones too; inks are only ever inks, and only
      // where the decoder gives them.
      bool fits = false;
      if (described == SourceColors::kCmyk) {
        fits = pixels == SourceColors::kCmyk && inksAvailable;
      } else if (described == SourceColors::kGray) {
        fits = pixels == SourceColors::kGray;
      } else if (described == SourceColors::kRgb) {
        fits = pixels != SourceColors::kCmyk;
      }
      if (!fits) {
        plan.problem =
            "it describes " + SignatureText(info->colorSpace) + " colors, not the file's";
      } else if ((plan.conversion = conversions.Get(embedded.bytes, *described, &plan.problem))) {
        plan.tagged = true;
        plan.keepInks = *described == SourceColors::kCmyk;
        return plan;
      }
    }
  }
  if (target.isSrgb) return plan;
  std::string ignored;
  plan.conversion = conversions.Get(SrgbProfile(), SourceColors::kRgb, &ignored);
  return plan;
}

std::shared_ptr<const ColorConversion> ConversionCache::Get(const std::string& source,
                                                            SourceColors colors,
                                                            std::string* problem) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto key = std::make_pair(source, colors);
  auto found = made_.find(key);
  if (found == made_.end()) {
    Made made;
    made.conversion = ColorConversion::Make(source, colors, target_, layout_, &made.problem);
    found = made_.emplace(key, std::move(made)).first;
  }
  if (problem) *problem = found->second.problem;
  return found->second.conversion;
}

}  // namespace sheetsmith
