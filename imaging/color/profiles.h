// ICC profiles as both programs know them: what Little CMS reads of one
// (InspectProfile), whether it can be a target, and the two profiles the
// programs make themselves, the same bytes on every run and platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sheetsmith {

// Profiles larger than this are refused, wherever they come from: real ones
// are a few kilobytes, the largest table-based ones a few megabytes.
inline constexpr std::size_t kMaxProfileBytes = std::size_t{16} << 20;

// A four-letter ICC signature as a profile stores it ('RGB ', 'mntr', ...).
constexpr std::uint32_t IccSignature(std::string_view text) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

// What Little CMS reads of a profile: its description, class and colours.
struct ProfileInfo {
  std::size_t size = 0;           // the bytes it declares it is, at most those given
  std::string description;        // empty when it has none
  std::uint32_t deviceClass = 0;  // 'mntr', 'prtr', 'scnr', 'spac', 'abst', ...
  std::uint32_t colorSpace = 0;   // 'RGB ', 'GRAY', 'CMYK', ...
};

// The profile in `bytes`, or nullopt with the reason in `problem` when they
// are no ICC profile Little CMS can open: too short, no "acsp" signature, a
// declared size beyond the bytes, more than kMaxProfileBytes, tables beyond
// their bytes (profile_check.h), or damaged.
std::optional<ProfileInfo> InspectProfile(std::string_view bytes, std::string* problem);

// Why a profile cannot be what colours are converted to, or nullopt when it
// can: it must hold RGB colours and be of a class that converts from the
// profile connection space (not abstract, device link or named colour).
std::optional<std::string> ReasonNotATarget(const ProfileInfo& profile);

// The signature as text, for messages ("GRAY", "link").
std::string SignatureText(std::uint32_t signature);

// Matrix/TRC display profiles (ICC version 4, as Little CMS makes its own:
// a version 2 target would lose the black point scaling that perceptual
// conversions from print profiles get), made by Little CMS from published
// values, the same bytes every time: sRGB (IEC 61966-2-1 primaries, D65,
// its two-part curve) and one compatible with Adobe RGB (1998) (its
// primaries, D65, gamma 563/256).
const std::string& SrgbProfile();
const std::string& AdobeRgbProfile();

// The descriptions of the two profiles above, as a run names its target.
inline constexpr const char* kSrgbProfileName = "sRGB IEC61966-2.1 (Korvela)";
inline constexpr const char* kAdobeRgbProfileName = "Adobe RGB (1998) compatible (Korvela)";

}  // namespace sheetsmith
