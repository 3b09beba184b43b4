// The rules of the photo-analysis channels that need no platform: decode
// sizes and box factors of face detection, its debug texts, path forms,
// thumbnail sizes, the orientation swap and capture dates.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace runner {

// Face detection decodes photos at most this many oriented pixels on their
// longer side.
inline constexpr std::uint32_t kFaceDecodeLimit = 4096;

struct PixelSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const PixelSize&) const = default;
};

// The size of a thumbnail of a W x H (upright) photo asked for at `asked`:
// the largest with the photo's shape that fits within it, never larger than
// the photo, each side at least 1.
PixelSize ThumbnailSize(std::uint32_t width, std::uint32_t height, PixelSize asked);

// The oriented size to decode a W x H (oriented) photo at: itself when both
// sides are within the limit, else scaled by 4096 / max(W, H) with lround,
// each side at least 1.
PixelSize FaceDecodeSize(std::uint32_t orientedWidth, std::uint32_t orientedHeight);

// The scaled size to ask a bitmap transform for, which is in the stored
// pixels' space: the oriented decode size with its sides exchanged when the
// photo's orientation exchanges them (its stored width differs from its
// oriented width).
PixelSize TransformScaledSize(PixelSize orientedDecode, std::uint32_t storedWidth,
                              std::uint32_t orientedWidth);

struct BoxFactors {
  double x = 1.0;
  double y = 1.0;
};

// From the pixels of the bitmap that was analysed to the photo's oriented
// pixels: W / bitmap width and H / bitmap height, 1.0 where a bitmap side is 0.
BoxFactors FaceBoxFactors(std::uint32_t orientedWidth, std::uint32_t orientedHeight,
                          std::uint32_t bitmapWidth, std::uint32_t bitmapHeight);

// "FD: ori=WxH scaled=wxh faces=N\n".
std::string FaceDebugLine(std::uint32_t orientedWidth, std::uint32_t orientedHeight,
                          std::uint32_t decodedWidth, std::uint32_t decodedHeight,
                          std::size_t faces);

// "FD: channel detectFacesWindows, paths=N", then ` first="PATH"` when there
// is one, then a newline.
std::string FaceChannelLine(const std::vector<std::string>& paths);

// An HRESULT as 32-bit lower-case hexadecimal, without "0x".
std::string HresultHex(std::int32_t code);

// The path to open: a "\\.\" or "\\?\" prefix in front of a drive path is
// dropped ("\\?\C:\a.jpg" is "C:\a.jpg"), "\\?\UNC\server\share" becomes
// "\\server\share"; every other path stays as it is.
std::string PathForOpening(const std::string& path);

// Thumbnails are asked for at most this many pixels a side.
inline constexpr int kMaxThumbnailSide = 4096;

// The pixel size to ask the shell for: width and height times the scale
// (1.0 when the scale is 0 or less), rounded, each at least 1 and at most
// kMaxThumbnailSide. Nullopt for a scale that is not a finite number.
std::optional<PixelSize> ThumbnailPixelSize(int width, int height, double scale);

// Whether an EXIF orientation turns the photo by a quarter (5 to 8).
bool OrientationSwapsSides(int orientation);

// Milliseconds since 1970 of an EXIF date text ("YYYY:MM:DD HH:MM:SS", the
// fields read by position as strtol reads them), taken as UTC. Nullopt when
// the text is shorter than 19 characters, a field has no digits, the date or
// time does not exist, or it is not after 1970-01-01 00:00:00.
std::optional<std::int64_t> CaptureMillisFromExifText(const char* text);

}  // namespace runner
