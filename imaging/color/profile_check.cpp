// A profile's tag tables checked against their bytes (ICC.1:2010 and
// ICC.2's multi-process elements, as version 4 profiles carry them).
#include "imaging/color/profile_check.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "imaging/color/profiles.h"
#include "imaging/system/byte_order.h"

namespace sheetsmith {
namespace {

using Reason = std::optional<std::string>;

// Little CMS refuses a profile of more tags than this; checked here first,
// so that the work below is bounded too.
constexpr std::uint32_t kMaxTags = 100;

// Bytes of a profile, read with their bounds checked: what lies beyond
// reads as zero, which every check below takes as too little.
class Bytes {
 public:
  explicit Bytes(std::string_view bytes) : bytes_(bytes) {}

  std::uint64_t size() const { return bytes_.size(); }
  bool Holds(std::uint64_t at, std::uint64_t count) const {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }
  std::uint32_t U32(std::uint64_t at) const {
    return Holds(at, 4) ? ReadBigEndian32(bytes_, static_cast<std::size_t>(at)) : 0;
  }
  std::uint16_t U16(std::uint64_t at) const {
    return Holds(at, 2) ? ReadBigEndian16(bytes_, static_cast<std::size_t>(at)) : 0;
  }
  std::uint8_t U8(std::uint64_t at) const {
    return Holds(at, 1) ? static_cast<std::uint8_t>(bytes_[static_cast<std::size_t>(at)]) : 0;
  }
  // The bytes from `at` on, at most `count` of them.
  Bytes From(std::uint64_t at, std::uint64_t count = UINT64_MAX) const {
    if (at >= bytes_.size()) return Bytes(std::string_view());
    return Bytes(bytes_.substr(static_cast<std::size_t>(at),
                               static_cast<std::size_t>(std::min<std::uint64_t>(
                                   count, bytes_.size() - at))));
  }

 private:
  std::string_view bytes_;
};

constexpr std::uint64_t Padded(std::uint64_t size) { return (size + 3) / 4 * 4; }

const std::string kTooManyEntries = "declares more entries than it holds";

Reason Channels(unsigned inputs, unsigned outputs) {
  if (inputs == 0 || outputs == 0 || inputs > kMaxLutChannels || outputs > kMaxLutChannels) {
    return "has " + std::to_string(inputs) + " inputs and " + std::to_string(outputs) +
           " outputs";
  }
  return std::nullopt;
}

// Whether a colour table of `inputs` dimensions from `grid` (one count a
// dimension, read by `pointsOf`), `outputs` values a point and `valueBytes`
// bytes a value, fits in `available` bytes.
template <typename PointsOf>
bool TableFits(unsigned inputs, PointsOf pointsOf, unsigned outputs, unsigned valueBytes,
               std::uint64_t available) {
  std::uint64_t values = static_cast<std::uint64_t>(outputs) * valueBytes;
  for (unsigned i = 0; i < inputs; ++i) {
    values *= pointsOf(i);
    if (values > available) return false;
  }
  return values <= available;
}

// One curve of a LUT stage ('curv' or 'para'); `used` is its size, padded.
Reason Curve(const Bytes& curve, std::uint64_t& used) {
  const std::uint32_t type = curve.U32(0);
  if (type == IccSignature("curv")) {
    used = Padded(12 + 2 * static_cast<std::uint64_t>(curve.U32(8)));
  } else if (type == IccSignature("para")) {
    static constexpr unsigned kParameters[] = {1, 3, 4, 5, 7};
    const unsigned function = curve.U16(8);
    if (function >= 5) return std::string("has a curve of an unknown function");
    used = 12 + 4 * static_cast<std::uint64_t>(kParameters[function]);
  } else {
    return std::string("has a curve of an unknown type");
  }
  if (used > Padded(curve.size())) return "has a curve that " + kTooManyEntries;
  return std::nullopt;
}

// `count` curves one after another from `offset` (none when it is 0).
Reason Curves(const Bytes& tag, std::uint32_t offset, unsigned count) {
  if (offset == 0) return std::nullopt;
  std::uint64_t at = offset;
  for (unsigned i = 0; i < count; ++i) {
    if (!tag.Holds(at, 12)) return std::string("has a curve outside it");
    std::uint64_t used = 0;
    if (Reason reason = Curve(tag.From(at), used)) return reason;
    at += used;
  }
  return std::nullopt;
}

// lut8Type and lut16Type: their tables' sizes follow from the header.
Reason Lut(const Bytes& tag, bool sixteen) {
  const unsigned inputs = tag.U8(8);
  const unsigned outputs = tag.U8(9);
  const unsigned points = tag.U8(10);
  if (Reason reason = Channels(inputs, outputs)) return reason;
  const std::uint64_t inEntries = sixteen ? tag.U16(48) : 256;
  const std::uint64_t outEntries = sixteen ? tag.U16(50) : 256;
  const unsigned valueBytes = sixteen ? 2 : 1;
  const std::uint64_t header = sixteen ? 52 : 48;
  const std::uint64_t curves = (inputs * inEntries + outputs * outEntries) * valueBytes;
  if (header + curves > tag.size() ||
      !TableFits(
          inputs, [points](unsigned) { return points; }, outputs, valueBytes,
          tag.size() - header - curves)) {
    return "has a colour table that " + kTooManyEntries;
  }
  return std::nullopt;
}

// lutAToBType and lutBToAType: curves, a matrix and a colour table, each at
// an offset of its own.
Reason LutAB(const Bytes& tag, bool aToB) {
  const unsigned inputs = tag.U8(8);
  const unsigned outputs = tag.U8(9);
  if (Reason reason = Channels(inputs, outputs)) return reason;
  const std::uint32_t b = tag.U32(12), matrix = tag.U32(16), m = tag.U32(20),
                      table = tag.U32(24), a = tag.U32(28);
  // B curves are on the PCS side: the outputs of an A-to-B table.
  const unsigned pcsSide = aToB ? outputs : inputs;
  const unsigned deviceSide = aToB ? inputs : outputs;
  if (Reason reason = Curves(tag, b, pcsSide)) return reason;
  if (Reason reason = Curves(tag, m, pcsSide)) return reason;
  if (Reason reason = Curves(tag, a, deviceSide)) return reason;
  if (matrix != 0 && !tag.Holds(matrix, 48)) return std::string("has a matrix outside it");
  if (table != 0) {
    const unsigned valueBytes = tag.U8(table + 16);
    if (!tag.Holds(table, 20) || (valueBytes != 1 && valueBytes != 2)) {
      return std::string("has a damaged colour table");
    }
    if (!TableFits(
            inputs, [&](unsigned i) { return tag.U8(table + i); }, outputs, valueBytes,
            tag.size() - table - 20)) {
      return "has a colour table that " + kTooManyEntries;
    }
  }
  return std::nullopt;
}

// A segmented curve of a curve set element ('curf'): its segments, one
// after another.
Reason SegmentedCurve(const Bytes& curve) {
  if (curve.U32(0) != IccSignature("curf")) return std::string("has a curve of an unknown type");
  const unsigned segments = curve.U16(8);
  if (segments == 0) return std::string("has a curve of no segments");
  std::uint64_t at = 12 + 4 * static_cast<std::uint64_t>(segments - 1);
  for (unsigned i = 0; i < segments; ++i) {
    const std::uint32_t type = curve.U32(at);
    std::uint64_t size = 0;
    if (type == IccSignature("parf")) {
      static constexpr unsigned kParameters[] = {4, 5, 5};
      const unsigned function = curve.U16(at + 8);
      if (function >= 3) return std::string("has a curve segment of an unknown function");
      size = 12 + 4 * static_cast<std::uint64_t>(kParameters[function]);
    } else if (type == IccSignature("samf")) {
      size = 12 + 4 * static_cast<std::uint64_t>(curve.U32(at + 8));
    } else {
      return std::string("has a curve segment of an unknown type");
    }
    if (!curve.Holds(at, size)) return "has a curve that " + kTooManyEntries;
    at += size;
  }
  return std::nullopt;
}

// One process element: a curve set, a matrix or a colour table of floats.
// Others (the reserved 'bACS' and 'eACS') Little CMS skips.
Reason ProcessElement(const Bytes& element) {
  const std::uint32_t type = element.U32(0);
  const unsigned inputs = element.U16(8);
  const unsigned outputs = element.U16(10);
  const bool known = type == IccSignature("cvst") || type == IccSignature("matf") ||
                     type == IccSignature("clut");
  if (!known) return std::nullopt;
  if (Reason reason = Channels(inputs, outputs)) return reason;
  if (type == IccSignature("cvst")) {
    if (!element.Holds(12, 8 * static_cast<std::uint64_t>(inputs))) {
      return "has a curve set that " + kTooManyEntries;
    }
    for (unsigned i = 0; i < inputs; ++i) {
      const std::uint32_t at = element.U32(12 + 8 * i);
      const std::uint32_t size = element.U32(16 + 8 * i);
      if (!element.Holds(at, size)) return std::string("has a curve outside its element");
      if (Reason reason = SegmentedCurve(element.From(at, size))) return reason;
    }
  } else if (type == IccSignature("matf")) {
    const std::uint64_t values = static_cast<std::uint64_t>(inputs) * outputs + outputs;
    if (!element.Holds(12, 4 * values)) return "has a matrix that " + kTooManyEntries;
  } else if (!element.Holds(28, 0) ||
             !TableFits(
                 inputs, [&](unsigned i) { return element.U8(12 + i); }, outputs, 4,
                 element.size() - 28)) {
    return "has a colour table that " + kTooManyEntries;
  }
  return std::nullopt;
}

// multiProcessElementsType: a list of elements, each where the position
// table says. Elements may not share bytes, and there may be no more than
// kMaxProcessElements: each is then read from bytes of its own, once.
Reason ProcessElements(const Bytes& tag) {
  if (Reason reason = Channels(tag.U16(8), tag.U16(10))) return reason;
  const std::uint32_t count = tag.U32(12);
  if (count == 0 || count > kMaxProcessElements) {
    return "has " + std::to_string(count) + " process elements";
  }
  const std::uint64_t tableEnd = 16 + 8 * static_cast<std::uint64_t>(count);
  if (tableEnd > tag.size()) return "has a list of elements that " + kTooManyEntries;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> positions(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    positions[i] = {tag.U32(16 + 8 * static_cast<std::uint64_t>(i)),
                    tag.U32(20 + 8 * static_cast<std::uint64_t>(i))};
  }
  std::sort(positions.begin(), positions.end());
  std::uint64_t free = tableEnd;  // where the next element may begin
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const auto [at, size] = positions[i];
    if (size < 12 || !tag.Holds(at, size)) return std::string("has an element outside it");
    if (at < free) return std::string("has elements that share their bytes");
    free = static_cast<std::uint64_t>(at) + size;
    // An element's data may run past the size it declares (Little CMS
    // writes a curve set's last curve so), never into the next element.
    const std::uint64_t end = i + 1 < positions.size() ? positions[i + 1].first : tag.size();
    if (Reason reason = ProcessElement(tag.From(at, end - at))) return reason;
  }
  return std::nullopt;
}

Reason Tag(const Bytes& tag) {
  const std::uint32_t type = tag.U32(0);
  std::uint64_t used = 0;
  if (type == IccSignature("curv") || type == IccSignature("para")) return Curve(tag, used);
  if (type == IccSignature("mft1")) return Lut(tag, false);
  if (type == IccSignature("mft2")) return Lut(tag, true);
  if (type == IccSignature("mAB ")) return LutAB(tag, true);
  if (type == IccSignature("mBA ")) return LutAB(tag, false);
  if (type == IccSignature("mpet")) return ProcessElements(tag);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReasonProfileTagsUnsafe(std::string_view bytes) {
  const Bytes profile(bytes);
  if (!profile.Holds(0, 132)) return std::string("it is too short for an ICC profile");
  const std::uint32_t count = profile.U32(128);
  if (count > kMaxTags) return "it has " + std::to_string(count) + " tags";
  if (!profile.Holds(132, 12 * static_cast<std::uint64_t>(count))) {
    return std::string("its tag table is cut short");
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint64_t entry = 132 + 12 * static_cast<std::uint64_t>(i);
    const std::uint32_t signature = profile.U32(entry);
    const std::uint32_t at = profile.U32(entry + 4);
    const std::uint32_t size = profile.U32(entry + 8);
    // A tag beyond the profile's bytes, or too short to say its type, is
    // one Little CMS never reads.
    if (!profile.Holds(at, size) || size < 8) continue;
    if (Reason reason = Tag(profile.From(at, size))) {
      return "its " + SignatureText(signature) + " tag " + *reason;
    }
  }
  return std::nullopt;
}

}  // namespace sheetsmith
