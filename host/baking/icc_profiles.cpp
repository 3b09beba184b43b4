#include "icc_profiles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

// Only the zlib decoder of stb_image is used here, for PNG iCCP chunks; its
// functions stay private to this file.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace runner {
namespace {

// A four-letter signature as the profile stores it.
constexpr std::uint32_t Tag(std::string_view text) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

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

std::string TagText(std::uint32_t tag) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((tag >> shift) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The text of a 'desc' tag: version 2's textDescriptionType (ASCII) or
// version 4's multiLocalizedUnicodeType (its first record, ASCII kept).
std::string Description(std::string_view data) {
  if (data.size() >= 12 && Read32(data, 0) == Tag("desc")) {
    const std::uint32_t count = Read32(data, 8);
    if (count == 0 || count > data.size() - 12) return {};
    std::string text(data.substr(12, count));
    return text.substr(0, text.find('\0'));
  }
  if (data.size() >= 28 && Read32(data, 0) == Tag("mluc") && Read32(data, 8) > 0) {
    const std::uint32_t length = Read32(data, 20);
    const std::uint32_t offset = Read32(data, 24);
    if (offset > data.size() || length > data.size() - offset) return {};
    std::string text;
    for (std::uint32_t i = 0; i + 1 < length; i += 2) {
      const std::uint16_t unit = Read16(data, offset + i);
      text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
  }
  return {};
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

EmbeddedProfile FromJpeg(std::string_view file) {
  std::map<int, std::string_view> chunks;
  int count = -1;
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
    const std::string_view segment = file.substr(at + 4, length - 2);
    if (marker == 0xE2 && segment.size() >= kIccChunkMark.size() + 2 &&
        segment.substr(0, kIccChunkMark.size()) == kIccChunkMark) {
      const int number = static_cast<unsigned char>(segment[12]);
      const int total = static_cast<unsigned char>(segment[13]);
      if (count >= 0 && total != count) return Damaged("its chunks disagree on their count");
      count = total;
      if (number < 1 || number > total) return Damaged("a chunk is numbered out of range");
      if (chunks.count(number)) return Damaged("a chunk comes twice");
      chunks[number] = segment.substr(kIccChunkMark.size() + 2);
    }
    at += 2 + length;
  }
  if (chunks.empty()) return {};
  if (static_cast<int>(chunks.size()) != count) {
    return Damaged(cutShort ? "the file is cut short" : "a chunk is missing");
  }
  EmbeddedProfile found;
  found.state = EmbeddedProfile::State::kFound;
  for (const auto& [number, data] : chunks) found.bytes.append(data);
  return found;
}

EmbeddedProfile FromPng(std::string_view file) {
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    const std::uint32_t length = Read32(file, at);
    const std::uint32_t type = Read32(file, at + 4);
    if (type == Tag("IDAT") || type == Tag("IEND")) break;
    const bool profile = type == Tag("iCCP");
    if (length > file.size() - at - 12) {
      if (profile) return Damaged("the file is cut short");
      break;
    }
    if (profile) {
      const std::string_view data = file.substr(at + 8, length);
      if (Crc32(file.substr(at + 4, length + 4)) != Read32(file, at + 8 + length)) {
        return Damaged("its chunk's checksum is wrong");
      }
      const std::size_t nameEnd = data.find('\0');
      if (nameEnd == std::string_view::npos || nameEnd == 0 || nameEnd > 79 ||
          nameEnd + 2 > data.size() || data[nameEnd + 1] != 0) {
        return Damaged("its chunk is not laid out as PNG asks");
      }
      const std::string_view compressed = data.substr(nameEnd + 2);
      // Inflated into a buffer of a common profile's size, else of the
      // largest size taken: a chunk that would inflate past it is refused
      // rather than followed.
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
    at += 12 + length;
  }
  return {};
}

// A version 2 profile builder: header, tag table and tag data, each tag's
// data on a 4-byte step.
class ProfileWriter {
 public:
  void AddTag(std::uint32_t tag, std::string data) { tags_.emplace_back(tag, std::move(data)); }

  std::string Finish(std::uint32_t deviceClass) const {
    std::string header(128, '\0');
    std::string table;
    Put32(table, static_cast<std::uint32_t>(tags_.size()));
    std::string data;
    std::size_t start = 128 + 4 + 12 * tags_.size();
    std::map<std::string, std::size_t> shared;  // equal data is stored once
    for (const auto& [tag, bytes] : tags_) {
      std::size_t offset = 0;
      if (const auto same = shared.find(bytes); same != shared.end()) {
        offset = same->second;
      } else {
        offset = start + data.size();
        shared[bytes] = offset;
        data += bytes;
        while (data.size() % 4 != 0) data += '\0';
      }
      Put32(table, tag);
      Put32(table, static_cast<std::uint32_t>(offset));
      Put32(table, static_cast<std::uint32_t>(bytes.size()));
    }
    std::string profile = header + table + data;
    Set32(profile, 0, static_cast<std::uint32_t>(profile.size()));
    Set32(profile, 8, 0x02100000);  // version 2.1
    Set32(profile, 12, deviceClass);
    Set32(profile, 16, Tag("RGB "));
    Set32(profile, 20, Tag("XYZ "));
    // Made on 1 January 2025: the same bytes every time.
    const std::uint16_t date[6] = {2025, 1, 1, 0, 0, 0};
    for (int i = 0; i < 6; ++i) {
      profile[24 + 2 * i] = static_cast<char>(date[i] >> 8);
      profile[25 + 2 * i] = static_cast<char>(date[i] & 0xFF);
    }
    Set32(profile, 36, Tag("acsp"));
    Set32(profile, 64, 0);  // perceptual
    // The connection space's illuminant, D50.
    Set32(profile, 68, Fixed(0.9642));
    Set32(profile, 72, Fixed(1.0));
    Set32(profile, 76, Fixed(0.8249));
    return profile;
  }

  static std::uint32_t Fixed(double value) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(value * 65536.0)));
  }
  static void Put32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
  }
  static void Put16(std::string& out, std::uint16_t value) {
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value & 0xFF);
  }
  static void Set32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
  }

 private:
  std::vector<std::pair<std::uint32_t, std::string>> tags_;
};

std::string TextDescription(const std::string& text) {
  std::string data;
  ProfileWriter::Put32(data, Tag("desc"));
  ProfileWriter::Put32(data, 0);
  ProfileWriter::Put32(data, static_cast<std::uint32_t>(text.size() + 1));
  data += text;
  data += '\0';
  data.append(4 + 4 + 2 + 1 + 67, '\0');  // no Unicode, no ScriptCode text
  return data;
}

std::string TextTag(const std::string& text) {
  std::string data;
  ProfileWriter::Put32(data, Tag("text"));
  ProfileWriter::Put32(data, 0);
  return data + text + '\0';
}

struct Xyz {
  double x, y, z;
};

std::string XyzTag(Xyz value) {
  std::string data;
  ProfileWriter::Put32(data, Tag("XYZ "));
  ProfileWriter::Put32(data, 0);
  for (const double v : {value.x, value.y, value.z}) {
    ProfileWriter::Put32(data, ProfileWriter::Fixed(v));
  }
  return data;
}

using Matrix = std::array<std::array<double, 3>, 3>;

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix product{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c)
      for (int k = 0; k < 3; ++k) product[r][c] += a[r][k] * b[k][c];
  return product;
}

Matrix Inverse(const Matrix& m) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  Matrix inverse{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
  }
  return inverse;
}

Xyz FromChromaticity(double x, double y) { return {x / y, 1.0, (1.0 - x - y) / y}; }

// A display profile from its primaries and white (CIE xy) and its tone curve
// tag: the colorants are adapted from the white to the connection space's D50
// with the Bradford transform, as ICC profiles carry them.
std::string MatrixProfile(const std::string& description, const double primaries[3][2],
                          const double white[2], const std::string& curve) {
  Matrix rgb{};
  for (int c = 0; c < 3; ++c) {
    const Xyz p = FromChromaticity(primaries[c][0], primaries[c][1]);
    rgb[0][c] = p.x;
    rgb[1][c] = p.y;
    rgb[2][c] = p.z;
  }
  const Xyz w = FromChromaticity(white[0], white[1]);
  const Matrix inverse = Inverse(rgb);
  double scale[3];
  for (int r = 0; r < 3; ++r)
    scale[r] = inverse[r][0] * w.x + inverse[r][1] * w.y + inverse[r][2] * w.z;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) rgb[r][c] *= scale[c];

  const Matrix bradford = {
      {{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
  const Xyz d50 = {0.9642, 1.0, 0.8249};
  const auto cone = [&bradford](Xyz v) {
    return std::array<double, 3>{
        bradford[0][0] * v.x + bradford[0][1] * v.y + bradford[0][2] * v.z,
        bradford[1][0] * v.x + bradford[1][1] * v.y + bradford[1][2] * v.z,
        bradford[2][0] * v.x + bradford[2][1] * v.y + bradford[2][2] * v.z};
  };
  const auto from = cone(w);
  const auto to = cone(d50);
  Matrix gain{};
  for (int i = 0; i < 3; ++i) gain[i][i] = to[i] / from[i];
  const Matrix adapted = Multiply(Multiply(Multiply(Inverse(bradford), gain), bradford), rgb);

  ProfileWriter writer;
  writer.AddTag(Tag("desc"), TextDescription(description));
  writer.AddTag(Tag("cprt"), TextTag("No copyright, use freely"));
  writer.AddTag(Tag("wtpt"), XyzTag(w));
  const char* colorants[3] = {"rXYZ", "gXYZ", "bXYZ"};
  for (int c = 0; c < 3; ++c) {
    writer.AddTag(Tag(colorants[c]), XyzTag({adapted[0][c], adapted[1][c], adapted[2][c]}));
  }
  for (const char* trc : {"rTRC", "gTRC", "bTRC"}) {
    writer.AddTag(Tag(trc), curve);
  }
  return writer.Finish(Tag("mntr"));
}

std::string CurveHeader(std::uint32_t entries) {
  std::string data;
  ProfileWriter::Put32(data, Tag("curv"));
  ProfileWriter::Put32(data, 0);
  ProfileWriter::Put32(data, entries);
  return data;
}

}  // namespace

std::optional<IccProfile> ParseIccProfile(std::string bytes, std::string* problem) {
  const auto refuse = [problem](const char* why) -> std::optional<IccProfile> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  if (bytes.size() < 132) return refuse("it is too short for an ICC profile");
  if (Read32(bytes, 36) != Tag("acsp")) return refuse("it is not an ICC profile");
  const std::uint32_t declared = Read32(bytes, 0);
  if (declared < 132) return refuse("its header is damaged");
  if (declared > bytes.size()) return refuse("it is cut short");
  bytes.resize(declared);
  const std::uint32_t tags = Read32(bytes, 128);
  if (tags > (declared - 132) / 12) return refuse("its tag table is damaged");
  IccProfile profile;
  for (std::uint32_t i = 0; i < tags; ++i) {
    const std::size_t entry = 132 + 12 * static_cast<std::size_t>(i);
    const std::uint32_t offset = Read32(bytes, entry + 4);
    const std::uint32_t size = Read32(bytes, entry + 8);
    if (offset > declared || size > declared - offset) return refuse("a tag lies beyond its end");
    if (Read32(bytes, entry) == Tag("desc")) {
      profile.description = Description(std::string_view(bytes).substr(offset, size));
    }
  }
  profile.deviceClass = Read32(bytes, 12);
  profile.colorSpace = Read32(bytes, 16);
  profile.bytes = std::move(bytes);
  return profile;
}

std::optional<std::string> ReasonNotATarget(const IccProfile& profile) {
  if (profile.colorSpace != Tag("RGB ")) {
    return "it holds " + TagText(profile.colorSpace) + " colors, not RGB";
  }
  for (const std::uint32_t cannot : {Tag("abst"), Tag("link"), Tag("nmcl")}) {
    if (profile.deviceClass == cannot) {
      return "colors cannot be converted to a profile of class " + TagText(cannot);
    }
  }
  return std::nullopt;
}

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

const std::string& HostSrgbProfile() {
  static const std::string profile = [] {
    const double primaries[3][2] = {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
    const double white[2] = {0.3127, 0.3290};
    constexpr std::uint32_t kEntries = 1024;
    std::string curve = CurveHeader(kEntries);
    for (std::uint32_t i = 0; i < kEntries; ++i) {
      const double v = static_cast<double>(i) / (kEntries - 1);
      const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
      ProfileWriter::Put16(curve, static_cast<std::uint16_t>(std::lround(linear * 65535.0)));
    }
    return MatrixProfile("sRGB IEC61966-2.1 (Korvela)", primaries, white, curve);
  }();
  return profile;
}

const std::string& HostAdobeRgbProfile() {
  static const std::string profile = [] {
    const double primaries[3][2] = {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}};
    const double white[2] = {0.3127, 0.3290};
    std::string curve = CurveHeader(1);
    ProfileWriter::Put16(curve, 0x0233);  // 563/256 in 8.8 fixed point
    return MatrixProfile("Adobe RGB (1998) compatible (Korvela)", primaries, white, curve);
  }();
  return profile;
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

ColorPlan PlanColors(const std::string& selection, std::string_view photoStart,
                     const ProfileFileReader& readProfile,
                     const std::function<void(const std::string&)>& log) {
  ColorPlan plan;
  if (selection == "no_conversion") {
    plan.sourceName = plan.targetName = "none";
    return plan;
  }
  static const std::string kCustom = "custom:";
  if (selection.compare(0, kCustom.size(), kCustom) == 0) {
    const std::string path = selection.substr(kCustom.size());
    const auto fail = [&](const std::string& why) {
      plan.failure = "Color profile " + path + " cannot be used: " + why;
      return plan;
    };
    std::optional<std::string> bytes = readProfile(path);
    if (!bytes) return fail("the file cannot be read");
    if (bytes->size() > kMaxProfileBytes) return fail("it is larger than any profile");
    std::string problem;
    const std::optional<IccProfile> target = ParseIccProfile(std::move(*bytes), &problem);
    if (!target) return fail(problem);
    if (const std::optional<std::string> reason = ReasonNotATarget(*target)) return fail(*reason);
    plan.target = target->bytes;
    plan.targetName = target->description.empty() ? path : target->description;
  } else {
    const bool adobe = selection == "adobe_rgb";
    plan.target = adobe ? HostAdobeRgbProfile() : HostSrgbProfile();
    plan.targetName = ParseIccProfile(plan.target, nullptr)->description;
  }

  const EmbeddedProfile embedded = FindEmbeddedProfile(photoStart);
  std::string problem;
  std::optional<IccProfile> source;
  if (embedded.state == EmbeddedProfile::State::kDamaged) {
    problem = embedded.problem;
  } else if (embedded.state == EmbeddedProfile::State::kFound) {
    source = ParseIccProfile(embedded.bytes, &problem);
    if (source && source->colorSpace != Tag("RGB ")) {
      problem = "it describes " + TagText(source->colorSpace) + " colors, not the photo's RGB";
      source.reset();
    }
  }
  if (!problem.empty()) {
    log("INFO: The photo's embedded color profile cannot be used (" + problem +
        "); its colors are taken as sRGB");
  }
  if (source) {
    plan.source = source->bytes;
    plan.sourceName =
        (source->description.empty() ? "unnamed" : source->description) + " (embedded)";
  } else {
    plan.source = HostSrgbProfile();
    plan.sourceName = "sRGB (no profile embedded)";
    // An sRGB photo baked for sRGB stays exactly as it is.
    if (plan.target == HostSrgbProfile()) return plan;
  }
  plan.embedTarget = true;
  plan.convert = plan.source != plan.target;
  return plan;
}

}  // namespace runner
