// Writes sample photos for the demo and the benchmark.
//   make_photos demo DIR    a handful of photos of several sizes and shapes,
//                           one with an EXIF orientation, and a frame
//   make_photos bench DIR   16 baseline JPEGs of 4000 x 3000 at quality 90
//   make_photos real DIR PHOTO...
//                           16 baseline JPEGs at quality 90, alternately
//                           4000 x 3000 and 3000 x 4000, cut from the given
//                           photographs (scaled to cover, a different window
//                           of the source each time) with a fine grain added
//                           so that they carry a camera photo's detail
//   make_photos p3 DIR OUT_DIR
//                           copies of the JPEG photos in DIR carrying a
//                           Display P3 profile (made here from its primaries)
//   make_photos png PHOTO OUT
//                           the photo decoded whole, as a PNG
//   make_photos seeds DIR   tiny photos of every JPEG kind the composer reads,
//                           a PNG, both carrying a colour profile, and
//                           profiles whose tables claim more than their
//                           bytes: the fuzzing seeds of the photo and
//                           profile readers
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "imaging/color/color_plan.h"
#include "imaging/pixels/resample.h"
#include "imaging/reading/photo_reader.h"
#include "test_photos.h"

namespace {

using sheetsmith::RgbaImage;

// A gradient sky, a sun and a horizon: something that looks like a picture.
RgbaImage Scene(int width, int height, int seed) {
  RgbaImage image = testsupport::Gradient(width, height, seed);
  const double sunX = width * (0.25 + 0.1 * (seed % 5));
  const double sunY = height * 0.3;
  const double radius = std::min(width, height) * 0.12;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.At(x, y);
      if (y > height * 0.65) {  // ground
        p[0] = static_cast<std::uint8_t>(40 + (seed * 29) % 60);
        p[1] = static_cast<std::uint8_t>(110 + (x * 7 + y * 3) % 40);
        p[2] = 50;
      }
      if (std::hypot(x - sunX, y - sunY) < radius) {
        p[0] = 250;
        p[1] = 210;
        p[2] = 60;
      }
    }
  }
  return image;
}

bool Demo(const std::string& dir) {
  struct Photo {
    const char* name;
    int width, height, exif;
  };
  const Photo photos[] = {
      {"01 landscape.jpg", 1600, 1200, 0},
      {"02 portrait.jpg", 1200, 1600, 0},
      {"03 square.jpg", 1000, 1000, 0},
      {"04 turned by exif.jpg", 2000, 1000, 6},
      {"05 zoomed and framed.jpg", 1600, 1200, 0},
      {"06 small.jpg", 640, 480, 0},
  };
  int seed = 0;
  for (const Photo& photo : photos) {
    const std::string path = dir + "/" + photo.name;
    if (!testsupport::WriteJpeg(path, Scene(photo.width, photo.height, ++seed), 92, photo.exif)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return false;
    }
  }
  // A frame: an opaque rounded band with a transparent window.
  RgbaImage frame = testsupport::Solid(600, 800, {250, 245, 235}, 255);
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) {
      const int edge = std::min({x, y, frame.width - 1 - x, frame.height - 1 - y});
      std::uint8_t* p = frame.At(x, y);
      if (edge >= 60)
        p[3] = 0;
      else if (edge >= 50)
        p[3] = static_cast<std::uint8_t>(255 - (edge - 50) * 25);
    }
  }
  return testsupport::WritePng(dir + "/frame.png", frame);
}

bool Bench(const std::string& dir) {
  for (int i = 0; i < 16; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/bench_%02d.jpg", i + 1);
    if (!testsupport::WriteJpeg(dir + name, Scene(4000, 3000, i), 90)) return false;
  }
  return true;
}

// A width x height window of `source` scaled to cover it, the window's place
// chosen by `seed`, with a grain of up to 12 levels either way.
std::optional<RgbaImage> Cut(const RgbaImage& source, int width, int height, int seed) {
  const double cover = std::max(static_cast<double>(width) / source.width,
                                static_cast<double>(height) / source.height) *
                       (1.0 + 0.15 * (seed % 3));
  const int scaledWidth = std::max(width, static_cast<int>(source.width * cover));
  const int scaledHeight = std::max(height, static_cast<int>(source.height * cover));
  std::optional<RgbaImage> scaled = sheetsmith::Resample(source, scaledWidth, scaledHeight);
  if (!scaled) return std::nullopt;
  std::optional<RgbaImage> cut = sheetsmith::MakeImage(width, height, 255);
  if (!cut) return std::nullopt;
  const int x0 = (scaledWidth - width) * ((seed * 7) % 11) / 10;
  const int y0 = (scaledHeight - height) * ((seed * 3) % 5) / 4;
  unsigned state = 12345u + static_cast<unsigned>(seed) * 7919u;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* from = scaled->At(x0 + x, y0 + y);
      std::uint8_t* to = cut->At(x, y);
      state = state * 1664525u + 1013904223u;
      const int grain = static_cast<int>((state >> 24) % 25) - 12;
      for (int c = 0; c < 3; ++c) {
        to[c] = static_cast<std::uint8_t>(std::clamp(from[c] + grain, 0, 255));
      }
    }
  }
  return cut;
}

bool Real(const std::string& dir, const std::vector<std::string>& sources) {
  std::vector<RgbaImage> photos;
  for (const std::string& path : sources) {
    if (std::optional<RgbaImage> photo = sheetsmith::LoadRgba(path)) {
      photos.push_back(std::move(*photo));
    } else {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
    }
  }
  if (photos.empty()) return false;
  for (int i = 0; i < 16; ++i) {
    const bool portrait = i % 2 == 1;
    std::optional<RgbaImage> cut = Cut(photos[static_cast<std::size_t>(i) % photos.size()],
                                       portrait ? 3000 : 4000, portrait ? 4000 : 3000, i);
    char name[64];
    std::snprintf(name, sizeof name, "/real_%02d.jpg", i + 1);
    if (!cut || !testsupport::WriteJpeg(dir + name, *cut, 90)) return false;
  }
  return true;
}

bool TagDisplayP3(const std::string& from, const std::string& to) {
  std::string segments;
  for (const std::string& segment : sheetsmith::IccSegments(testsupport::DisplayP3Profile()))
    segments += segment;
  bool any = false;
  for (const auto& entry : std::filesystem::directory_iterator(from)) {
    if (entry.path().extension() != ".jpg") continue;
    const std::string jpeg = testsupport::ReadBytes(entry.path().string());
    if (jpeg.size() < 2 || !testsupport::WriteBytes(to + "/" + entry.path().filename().string(),
                                                    testsupport::InsertAfterSoi(jpeg, segments))) {
      return false;
    }
    any = true;
  }
  return any;
}

bool Seeds(const std::string& dir) {
  using testsupport::JpegKind;
  const RgbaImage image = testsupport::Gradient(24, 16, 5);
  const struct {
    const char* name;
    std::string bytes;
  } seeds[] = {
      {"baseline_420.jpg", testsupport::EncodeJpeg(image, 90)},
      {"baseline_444.jpg", testsupport::EncodeJpeg(image, 95)},
      {"grey.jpg", testsupport::EncodeJpegAs(image, {JpegKind::kGrey, 1, 1, 0, false})},
      {"progressive.jpg", testsupport::EncodeJpegAs(image, {JpegKind::kYcbcr, 2, 2, 0, true})},
      {"restarts_422.jpg", testsupport::EncodeJpegAs(image, {JpegKind::kYcbcr, 2, 1, 1, false})},
      {"rgb.jpg", testsupport::EncodeJpegAs(image, {JpegKind::kRgb, 1, 1, 0, false})},
      {"cmyk.jpg", testsupport::EncodeJpegAs(image, {JpegKind::kCmyk, 1, 1, 0, false})},
      {"ycck.jpg", testsupport::EncodeJpegAs(image, {JpegKind::kYcck, 2, 2, 0, true})},
      {"exif6.jpg", testsupport::InsertAfterSoi(testsupport::EncodeJpeg(image, 80),
                                                testsupport::ExifSegment(6, false))},
  };
  for (const auto& seed : seeds) {
    if (seed.bytes.empty() || !testsupport::WriteBytes(dir + "/" + seed.name, seed.bytes)) {
      return false;
    }
  }
  // Photos carrying a colour profile: a small one, only its header true.
  std::string profile(160, '\0');
  profile[3] = static_cast<char>(profile.size());
  profile.replace(12, 12, "mntrRGB XYZ ");
  profile.replace(36, 4, "acsp");
  const std::string withChunk =
      testsupport::InsertAfterSoi(seeds[0].bytes, testsupport::IccChunkSegment(profile, 1, 1));
  if (!testsupport::WritePng(dir + "/photo.png", image) ||
      !testsupport::WriteBytes(dir + "/profile.jpg", withChunk)) {
    return false;
  }
  const std::string png = testsupport::ReadBytes(dir + "/photo.png");
  // And whole profiles: Display P3 in both formats, and a grey photo with a
  // grey profile.
  const std::string p3 = testsupport::DisplayP3Profile();
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsHPROFILE grey = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
  cmsFreeToneCurve(gamma);
  const std::string greyBytes = testsupport::ProfileBytes(grey);
  // Profiles of the shapes whose tables claim more than their bytes: one
  // element listed many times, a LUT of a huge grid, a curve of 2^31
  // entries; and a sound element list beside them.
  const std::string srgb = testsupport::ProfileBytes(cmsCreate_sRGBProfile());
  const std::string element = testsupport::MatrixElement();
  const struct {
    const char* name;
    std::string bytes;
  } profiles[] = {
      {"elements_shared.icc",
       testsupport::WithIccTag(
           srgb, "D2B0",
           testsupport::ProcessElementsTag(
               std::vector<std::pair<std::size_t, std::size_t>>(64, {0, 60}), element))},
      {"elements_sound.icc",
       testsupport::WithIccTag(
           srgb, "D2B0", testsupport::ProcessElementsTag({{0, 60}, {60, 60}}, element + element))},
      {"lut16_inflated.icc",
       testsupport::WithIccTag(srgb, "A2B0",
                               "mft2" + std::string(4, '\0') + "\x03\x0F\xFF" +
                                   std::string(37, '\0') + testsupport::BigEndian16(2) +
                                   testsupport::BigEndian16(2) + std::string(64, '\0'))},
      {"curve_long.icc",
       testsupport::WithIccTag(srgb, "rTRC",
                               "curv" + std::string(4, '\0') +
                                   testsupport::BigEndian32(0x80000000u) + std::string(4, '\0'))},
  };
  for (const auto& made : profiles) {
    if (!testsupport::WriteBytes(dir + "/" + made.name, made.bytes)) return false;
  }
  return !png.empty() &&
         testsupport::WriteBytes(dir + "/profile.png", testsupport::WithIccpChunk(png, profile)) &&
         testsupport::WriteBytes(dir + "/p3.png", testsupport::WithIccpChunk(png, p3)) &&
         testsupport::WriteBytes(
             dir + "/p3.jpg",
             testsupport::InsertAfterSoi(seeds[0].bytes, testsupport::IccChunkSegment(p3, 1, 1))) &&
         testsupport::WriteBytes(
             dir + "/grey_profile.jpg",
             testsupport::InsertAfterSoi(seeds[2].bytes,
                                         testsupport::IccChunkSegment(greyBytes, 1, 1)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: make_photos demo|bench|seeds DIR | make_photos real DIR PHOTO... | "
                 "make_photos png PHOTO OUT\n");
    return 2;
  }
  const std::string kind = argv[1];
  bool ok = false;
  if (kind == "demo") {
    ok = Demo(argv[2]);
  } else if (kind == "bench") {
    ok = Bench(argv[2]);
  } else if (kind == "seeds") {
    ok = Seeds(argv[2]);
  } else if (kind == "p3" && argc == 4) {
    ok = TagDisplayP3(argv[2], argv[3]);
  } else if (kind == "png" && argc == 4) {
    const std::optional<RgbaImage> photo = sheetsmith::LoadRgba(argv[2]);
    ok = photo && testsupport::WritePng(argv[3], *photo);
  } else if (kind == "real") {
    ok = Real(argv[2], std::vector<std::string>(argv + 3, argv + argc));
  }
  return ok ? 0 : 1;
}
