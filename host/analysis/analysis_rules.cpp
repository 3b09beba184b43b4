// The photo-analysis rules: face-detection sizes and texts, path forms,
// thumbnail sizes and EXIF capture times.
#include "analysis_rules.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace runner {

PixelSize ThumbnailSize(std::uint32_t width, std::uint32_t height, PixelSize asked) {
  if (width == 0 || height == 0) return {1, 1};
  const double scale = std::min({static_cast<double>(asked.width) / width,
                                 static_cast<double>(asked.height) / height, 1.0});
  const auto side = [scale](std::uint32_t length) {
    return static_cast<std::uint32_t>(std::max(1L, std::lround(length * scale)));
  };
  return {side(width), side(height)};
}

PixelSize FaceDecodeSize(std::uint32_t w, std::uint32_t h) {
  if (w <= kFaceDecodeLimit && h <= kFaceDecodeLimit) return {w, h};
  const double scale = static_cast<double>(kFaceDecodeLimit) / std::max(w, h);
  const auto side = [scale](std::uint32_t size) {
    return static_cast<std::uint32_t>(std::max(1L, std::lround(size * scale)));
  };
  return {side(w), side(h)};
}

PixelSize TransformScaledSize(PixelSize orientedDecode, std::uint32_t storedWidth,
                              std::uint32_t orientedWidth) {
  if (storedWidth != orientedWidth) return {orientedDecode.height, orientedDecode.width};
  return orientedDecode;
}

BoxFactors FaceBoxFactors(std::uint32_t w, std::uint32_t h, std::uint32_t bitmapWidth,
                          std::uint32_t bitmapHeight) {
  BoxFactors factors;
  if (bitmapWidth != 0) factors.x = static_cast<double>(w) / bitmapWidth;
  if (bitmapHeight != 0) factors.y = static_cast<double>(h) / bitmapHeight;
  return factors;
}

std::string FaceDebugLine(std::uint32_t w, std::uint32_t h, std::uint32_t decodedWidth,
                          std::uint32_t decodedHeight, std::size_t faces) {
  return "FD: ori=" + std::to_string(w) + "x" + std::to_string(h) +
         " scaled=" + std::to_string(decodedWidth) + "x" + std::to_string(decodedHeight) +
         " faces=" + std::to_string(faces) + "\n";
}

std::string FaceChannelLine(const std::vector<std::string>& paths) {
  std::string line = "FD: channel detectFacesWindows, paths=" + std::to_string(paths.size());
  if (!paths.empty()) line += " first=\"" + paths.front() + "\"";
  return line + "\n";
}

std::string HresultHex(std::int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(static_cast<std::uint32_t>(code)));
  return text;
}

std::string PathForOpening(const std::string& path) {
  const auto isDriveAt = [&path](std::size_t at) {
    return path.size() >= at + 2 && std::isalpha(static_cast<unsigned char>(path[at])) &&
           path[at + 1] == ':';
  };
  for (const char* prefix : {"\\\\.\\", "\\\\?\\"}) {
    if (path.rfind(prefix, 0) == 0 && isDriveAt(4)) return path.substr(4);
  }
  if (path.rfind("\\\\?\\UNC\\", 0) == 0 && path.size() > 8) return "\\\\" + path.substr(8);
  return path;
}

std::optional<PixelSize> ThumbnailPixelSize(int width, int height, double scale) {
  if (!std::isfinite(scale)) return std::nullopt;
  const double s = scale > 0 ? scale : 1.0;
  const auto side = [s](int size) {
    // Bounded before rounding: a huge product would not fit a long.
    const double wanted = std::min(static_cast<double>(size) * s, double{kMaxThumbnailSide});
    const long rounded = std::lround(wanted);
    return static_cast<std::uint32_t>(rounded < 2 ? 1 : rounded);
  };
  return PixelSize{side(width), side(height)};
}

bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

namespace {

// The field of `length` characters at `at`, read as strtol reads it: blanks
// skipped, an optional sign, digits up to the first other character.
std::optional<long> ReadField(const char* text, std::size_t at, std::size_t length) {
  std::size_t i = at;
  const std::size_t end = at + length;
  while (i < end && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= end || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  long value = 0;
  while (i < end && std::isdigit(static_cast<unsigned char>(text[i])))
    value = value * 10 + (text[i++] - '0');
  return negative ? -value : value;
}

bool IsLeapYear(long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

long DaysInMonth(long year, long month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date, in the proleptic Gregorian calendar.
std::int64_t DaysSinceEpoch(long year, long month, long day) {
  const std::int64_t y = year - (month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

}  // namespace

std::optional<std::int64_t> CaptureMillisFromExifText(const char* text) {
  if (!text) return std::nullopt;
  std::size_t length = 0;
  while (length < 19 && text[length] != '\0') ++length;
  if (length < 19) return std::nullopt;
  const auto year = ReadField(text, 0, 4);
  const auto month = ReadField(text, 5, 2);
  const auto day = ReadField(text, 8, 2);
  const auto hour = ReadField(text, 11, 2);
  const auto minute = ReadField(text, 14, 2);
  const auto second = ReadField(text, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  // The ranges the system's date conversion accepts, with the real calendar.
  if (*year < 1601 || *year > 30827 || *month < 1 || *month > 12 || *day < 1 ||
      *day > DaysInMonth(*year, *month) || *hour < 0 || *hour > 23 || *minute < 0 || *minute > 59 ||
      *second < 0 || *second > 59) {
    return std::nullopt;
  }
  const std::int64_t seconds =
      ((DaysSinceEpoch(*year, *month, *day) * 24 + *hour) * 60 + *minute) * 60 + *second;
  const std::int64_t millis = seconds * 1000;
  if (millis <= 0) return std::nullopt;
  return millis;
}

}  // namespace runner
