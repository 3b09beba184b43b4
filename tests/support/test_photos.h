// Test photos made on the spot: patterns whose corners tell their
// orientation, JPEG and PNG files, and EXIF orientation segments in both byte
// orders. Nothing is downloaded or copied.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "imaging/pixels/rgba_image.h"

namespace testsupport {

using sheetsmith::Rgb;
using sheetsmith::RgbaImage;

RgbaImage Solid(int width, int height, Rgb color, std::uint8_t alpha = 255);

// Four quadrants in distinct colours (top-left red, top-right green,
// bottom-left blue, bottom-right yellow), so a turn shows where a corner went.
RgbaImage Quadrants(int width, int height);

// A smooth gradient with some texture, like a photo for the encoder.
RgbaImage Gradient(int width, int height, int seed);

// JPEG file bytes of the image (red, green, blue).
std::string EncodeJpeg(const RgbaImage& image, int quality);

// JPEG files of the kinds another encoder (libjpeg) writes: the colour space
// stored, the first component's sampling, restart markers every so many
// MCU rows, progressive scans, the quality.
enum class JpegKind { kYcbcr, kRgb, kGrey, kCmyk, kYcck };
struct JpegLayout {
  JpegKind kind = JpegKind::kYcbcr;
  int h = 2, v = 2;
  unsigned restartRows = 0;
  bool progressive = false;
  int quality = 92;
  // Four-ink files: the image's red, green, blue and alpha bytes are the
  // inks as stored, instead of a black of their own.
  bool inksAsGiven = false;
};
std::string EncodeJpegAs(const RgbaImage& image, const JpegLayout& layout);

// An APP1 segment holding an EXIF block with one orientation entry.
std::string ExifSegment(int orientation, bool bigEndian);

// The JPEG with `segment` inserted right after its start-of-image marker.
std::string InsertAfterSoi(const std::string& jpeg, const std::string& segment);

// One APP2 segment carrying `data` as chunk `number` of `count` of an ICC
// profile, as the JPEG files of cameras and editors carry one.
std::string IccChunkSegment(const std::string& data, int number, int count);

// The PNG file with an iCCP chunk carrying `profile` (named, compressed as
// PNG asks) right after its header chunk.
std::string WithIccpChunk(const std::string& png, const std::string& profile);

// The bytes of a profile Little CMS made (a cmsHPROFILE), which is closed.
std::string ProfileBytes(void* profile);

// Numbers as profiles store them.
std::string BigEndian32(std::uint32_t value);
std::string BigEndian16(std::uint16_t value);

// The profile with one more tag, `signature` ("D2B0"), holding `data`.
std::string WithIccTag(const std::string& profile, const char* signature, const std::string& data);

// A multi-process element list ('mpet') of 3 -> 3 channels: its position
// table (offset and size of each entry, from the first element's start),
// then `elements`.
std::string ProcessElementsTag(const std::vector<std::pair<std::size_t, std::size_t>>& table,
                               const std::string& elements);
// A 3 -> 3 matrix element ('matf', 60 bytes): nine factors and three
// offsets, all zero.
std::string MatrixElement();

// An RGB matrix/TRC profile made with Little CMS from its primaries (CIE xy
// of red, green and blue) and D65 white, with the sRGB curve (gamma 0) or a
// pure gamma, and the description given.
std::string RgbProfile(const double (&primaries)[3][2], double gamma, const char* description);

// Display P3: its primaries, D65, the sRGB curve.
std::string DisplayP3Profile();

// The whole file; empty when it cannot be read.
std::string ReadBytes(const std::string& utf8Path);
bool WriteBytes(const std::string& utf8Path, const std::string& bytes);
bool WriteJpeg(const std::string& utf8Path, const RgbaImage& image, int quality = 95,
               int exifOrientation = 0, bool bigEndian = false);
bool WritePng(const std::string& utf8Path, const RgbaImage& image);

std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& nameUtf8 = "korvela-test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // UTF-8 path of `name` inside the folder.
  std::string File(const std::string& nameUtf8) const;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Mean absolute difference per channel between two images of one size
// (red, green, blue only); a large number when the sizes differ.
double MeanAbsDiff(const RgbaImage& a, const RgbaImage& b);

}  // namespace testsupport
