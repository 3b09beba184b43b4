// A JPEG photo scaled from its decoder's rows must be the very image its
// decoder's output at the chosen DCT scale resamples to, for every kind of
// JPEG file; files of other formats go the whole-image way.
#include "imaging/reading/photo_reader.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#if defined(__linux__)
#include <sys/resource.h>
#endif

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/pixels/buffer_pool.h"
#include "imaging/pixels/resample.h"
#include "imaging/reading/exif.h"
#include "imaging/reading/jpeg_reader.h"
#include "test_photos.h"

std::string EncodedTestPhoto(std::string_view name);

namespace sheetsmith {
namespace {

struct Jump {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
void Fail(j_common_ptr info) { std::longjmp(reinterpret_cast<Jump*>(info->err)->jump, 1); }

// The file decoded whole by libjpeg at `eighths`/8, as RGBA: the light
// through Adobe's inverted inks for four-ink files.
std::optional<RgbaImage> DecodeWithLibjpeg(const std::string& bytes, int eighths) {
  jpeg_decompress_struct info{};
  Jump errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = &Fail;
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return std::nullopt;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  const bool fourInks = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = fourInks ? JCS_CMYK : JCS_RGB;
  info.scale_num = static_cast<unsigned>(eighths);
  info.scale_denom = 8;
  jpeg_start_decompress(&info);
  RgbaImage image = testsupport::Solid(static_cast<int>(info.output_width),
                                       static_cast<int>(info.output_height), {0, 0, 0});
  std::vector<unsigned char> row(static_cast<std::size_t>(info.output_width) * 4);
  for (int y = 0; y < image.height; ++y) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    for (int x = 0; x < image.width; ++x) {
      std::uint8_t* p = image.At(x, y);
      for (int c = 0; c < 3; ++c) {
        p[c] = fourInks ? static_cast<std::uint8_t>((row[x * 4 + c] * row[x * 4 + 3] + 127) / 255)
                        : row[x * 3 + c];
      }
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return image;
}

bool SameImage(const RgbaImage& a, const RgbaImage& b) {
  return a.width == b.width && a.height == b.height &&
         std::memcmp(a.data(), b.data(), a.ByteCount()) == 0;
}

TEST(DecodedPhotoTest, ScalesEveryKindOfJpegAsItsDecoderScaledPhotoResamples) {
  testsupport::TempDir dir;
  const RgbaImage gradient = testsupport::Gradient(301, 203, 4);
  const struct {
    std::string name;
    std::string bytes;
  } kinds[] = {
      {"chroma 420", testsupport::EncodeJpeg(gradient, 90)},
      {"chroma 444", testsupport::EncodeJpeg(testsupport::Gradient(177, 99, 8), 95)},
      {"grey", EncodedTestPhoto("grey")},
      {"progressive 420", EncodedTestPhoto("progressive_420")},
      {"cmyk", EncodedTestPhoto("cmyk")},
      {"ycck", testsupport::EncodeJpegAs(gradient, {testsupport::JpegKind::kYcck, 2, 2, 0, false})},
      {"progressive ycck",
       testsupport::EncodeJpegAs(gradient, {testsupport::JpegKind::kYcck, 2, 1, 0, true})},
      {"restart markers 422",
       testsupport::EncodeJpegAs(gradient, {testsupport::JpegKind::kYcbcr, 2, 1, 1, false})},
      {"chroma 440",
       testsupport::EncodeJpegAs(gradient, {testsupport::JpegKind::kYcbcr, 1, 2, 3, false})},
      {"chroma 411",
       testsupport::EncodeJpegAs(gradient, {testsupport::JpegKind::kYcbcr, 4, 1, 0, true})},
      {"rgb", testsupport::EncodeJpegAs(gradient, {testsupport::JpegKind::kRgb, 1, 1, 0, false})},
  };
  struct Size {
    int width;
    int height;
  };
  // Small enough for an eighth, a quarter, a half; a single row; enlarging.
  const Size sizes[] = {{30, 20}, {70, 45}, {150, 100}, {160, 1}, {420, 260}};
  for (const auto& kind : kinds) {
    ASSERT_FALSE(kind.bytes.empty()) << kind.name;
    const std::string path = dir.File(kind.name + ".jpg");
    ASSERT_TRUE(testsupport::WriteBytes(path, kind.bytes));
    for (const Size& size : sizes) {
      for (int quarters = 0; quarters < 4; ++quarters) {
        SCOPED_TRACE(kind.name + " to " + std::to_string(size.width) + "x" +
                     std::to_string(size.height) + ", " + std::to_string(quarters) + " turns");
        std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path);
        ASSERT_TRUE(photo);
        // The size asked is the photo's before it is turned.
        const int eighths =
            DctScaleEighths(photo->width(), photo->height(), size.width, size.height);
        const std::optional<RgbaImage> decoded = DecodeWithLibjpeg(kind.bytes, eighths);
        ASSERT_TRUE(decoded);
        const std::optional<RgbaImage> expected =
            Resample(*decoded, size.width, size.height, quarters);
        const std::optional<RgbaImage> scaled = photo->Scale(size.width, size.height, quarters);
        ASSERT_TRUE(scaled && expected);
        EXPECT_TRUE(SameImage(*scaled, *expected));
        EXPECT_GT(photo->rowNanoseconds(), 0);
      }
    }
    // Whole, and once only.
    std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path);
    ASSERT_TRUE(photo);
    const std::optional<RgbaImage> whole = photo->Whole();
    ASSERT_TRUE(whole);
    EXPECT_TRUE(SameImage(*whole, *DecodeWithLibjpeg(kind.bytes, 8))) << kind.name;
    EXPECT_TRUE(SameImage(*whole, *LoadRgba(path))) << kind.name;
    EXPECT_FALSE(photo->Whole()) << kind.name;
    EXPECT_FALSE(photo->Scale(10, 10, 0)) << kind.name;
  }
  // Other formats are decoded whole and resampled.
  const std::string png = dir.File("photo.png");
  ASSERT_TRUE(testsupport::WritePng(png, testsupport::Gradient(90, 70, 2)));
  std::optional<DecodedPhoto> photo = DecodedPhoto::Open(png);
  ASSERT_TRUE(photo);
  EXPECT_TRUE(SameImage(*photo->Scale(61, 37, 1), *Resample(*LoadRgba(png), 61, 37, 1)));
  EXPECT_EQ(photo->rowNanoseconds(), 0);
}

// The smallest power-of-two scale that still leaves the resampler 3 : 2 of
// the wanted size, both ways; whole when none does.
TEST(DecodedPhotoTest, TheDecoderScaleLeavesTheResamplerAThirdMore) {
  const struct {
    int width, height, wantedWidth, wantedHeight, eighths;
  } cases[] = {
      // 1/2 gives 2000 x 1500: 1333 x 1000 wanted is exactly 3 : 2 of it.
      {4000, 3000, 1333, 1000, 4},
      {4000, 3000, 1334, 1000, 8},
      {4000, 3000, 1333, 1001, 8},
      // 1/4 and 1/8 at their edges.
      {4000, 3000, 666, 500, 2},
      {4000, 3000, 667, 500, 4},
      {4000, 3000, 333, 250, 1},
      {4000, 3000, 334, 250, 2},
      {4000, 3000, 666, 501, 4},
      // The standard magnet (3.3 : 1) and the 4 x 4 one (6.6 : 1) keep 1/2 and 1/4.
      {4000, 3000, 1212, 909, 4},
      {4000, 3000, 605, 454, 2},
      // Reductions of 4 : 1 and 8 : 1 leave the resampler 2 : 1 at 1/2 and 1/4.
      {4000, 3000, 1000, 750, 4},
      {4000, 3000, 500, 375, 2},
      // Rounded up sides; enlarging; a photo too small to scale.
      {4001, 3001, 334, 251, 2},
      {4000, 3000, 2001, 10, 8},
      {4000, 3000, 5000, 4000, 8},
      {17, 9, 2, 1, 1},
      {17, 9, 3, 1, 2},
      {17, 9, 12, 6, 8},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DctScaleEighths(c.width, c.height, c.wantedWidth, c.wantedHeight), c.eighths)
        << c.width << "x" << c.height << " for " << c.wantedWidth << "x" << c.wantedHeight;
  }
}

// Files that are no photo, or one cut short, give no photo and no pixels of
// a photo that is not there; they are never taken for another format.
TEST(DecodedPhotoTest, DamagedOrForeignFilesGiveNoPhoto) {
  testsupport::TempDir dir;
  const std::string jpeg = testsupport::EncodeJpeg(testsupport::Gradient(120, 80, 1), 90);
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"missing.jpg", ""},
      {"empty.jpg", std::string()},
      {"text.jpg", "not a photo at all"},
      {"header only.jpg", jpeg.substr(0, 300)},
      {"cut short.jpg", jpeg.substr(0, jpeg.size() / 2)},
  };
  for (const auto& file : files) {
    const std::string path = dir.File(file.name);
    if (std::string_view(file.name) != "missing.jpg") {
      ASSERT_TRUE(testsupport::WriteBytes(path, file.bytes));
    }
    EXPECT_FALSE(LoadRgba(path)) << file.name;
    std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path);
    if (photo) {
      EXPECT_FALSE(photo->Scale(30, 20, 0)) << file.name;
    }
  }
}

// `value` in `size` bytes, most significant first or last.
std::string Field(std::uint32_t value, int size, bool bigEndian) {
  std::string bytes;
  for (int i = 0; i < size; ++i) {
    const int shift = 8 * (bigEndian ? size - 1 - i : i);
    bytes += static_cast<char>(value >> shift);
  }
  return bytes;
}

// A 24-bit BMP of `image`, rows stored bottom up (the usual way) or top down
// (a negative height).
std::string Bmp(const RgbaImage& image, bool topDown) {
  const int stride = (image.width * 3 + 3) & ~3;
  std::string bytes = "BM" + Field(54 + stride * image.height, 4, false) + Field(0, 4, false) +
                      Field(54, 4, false) + Field(40, 4, false) + Field(image.width, 4, false) +
                      Field(topDown ? -image.height : image.height, 4, false) + Field(1, 2, false) +
                      Field(24, 2, false) + std::string(24, '\0');
  for (int row = 0; row < image.height; ++row) {
    const int y = topDown ? row : image.height - 1 - row;
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t* p = image.At(x, y);
      bytes += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
    }
    bytes.append(static_cast<std::size_t>(stride - image.width * 3), '\0');
  }
  return bytes;
}

// A BMP is the same picture whichever way its rows are stored.
// A photo's outline is its size as displayed, with its EXIF block; a PNG has
// none, and a photo that cannot be read says why.
TEST(DecodedPhotoTest, OutlinesGiveTheDisplayedSizeAndTheExifBlock) {
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::WriteJpeg(dir.File("turned.jpg"), testsupport::Quadrants(80, 60), 90, 6));
  ASSERT_TRUE(testsupport::WriteJpeg(dir.File("plain.jpg"), testsupport::Quadrants(80, 60), 90));
  ASSERT_TRUE(testsupport::WritePng(dir.File("plain.png"), testsupport::Quadrants(30, 20)));
  const struct {
    const char* name;
    int width, height, orientation;
  } cases[] = {
      {"turned.jpg", 60, 80, 6},
      {"plain.jpg", 80, 60, 1},
      {"plain.png", 30, 20, 1},
  };
  for (const auto& c : cases) {
    const std::optional<PhotoOutline> outline = OutlinePhoto(dir.File(c.name));
    ASSERT_TRUE(outline) << c.name;
    EXPECT_EQ(outline->width, c.width) << c.name;
    EXPECT_EQ(outline->height, c.height) << c.name;
    EXPECT_EQ(ExifOrientationFromTiff(reinterpret_cast<const std::uint8_t*>(outline->exif.data()),
                                      outline->exif.size()),
              c.orientation)
        << c.name;
  }
  ReadProblem problem;
  EXPECT_FALSE(OutlinePhoto(dir.File("gone.heic"), &problem));
  EXPECT_EQ(problem.kind, ReadProblem::Kind::kMissing);
}

TEST(DecodedPhotoTest, BmpRowsStoredEitherWayGiveThePicture) {
  testsupport::TempDir dir;
  const RgbaImage picture = testsupport::Gradient(7, 5, 4);
  for (const bool topDown : {false, true}) {
    const std::string path = dir.File(topDown ? "top down.bmp" : "bottom up.bmp");
    ASSERT_TRUE(testsupport::WriteBytes(path, Bmp(picture, topDown)));
    const std::optional<RgbaImage> loaded = LoadRgba(path);
    ASSERT_TRUE(loaded) << path;
    EXPECT_EQ(testsupport::MeanAbsDiff(*loaded, picture), 0.0) << path;
  }
}

// A file of a few hundred bytes whose chunk or header claims gigabytes is
// refused before anything is allocated for the claim: no large block passes
// through the thread's pool.
TEST(DecodedPhotoTest, ClaimsBeyondTheFileAllocateNothingLarge) {
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::WritePng(dir.File("small.png"), testsupport::Solid(8, 8, {9, 9, 9})));
  const std::string png = testsupport::ReadBytes(dir.File("small.png"));
  // Right after the header chunk, a picture-data chunk claiming 2 GB.
  const std::string lyingPng =
      png.substr(0, 33) + std::string("\x7F\xFF\xFF\x00IDAT", 8) + png.substr(33);
  std::string hugeJpeg = testsupport::EncodeJpeg(testsupport::Gradient(64, 48, 3), 90);
  const std::size_t sof = hugeJpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  hugeJpeg.replace(sof + 5, 4, "\x75\x30\x75\x30");  // 30000 x 30000
  for (const auto& [name, bytes] : {std::pair{"lying.png", lyingPng}, {"huge.jpg", hugeJpeg}}) {
    const std::string path = dir.File(name);
    ASSERT_TRUE(testsupport::WriteBytes(path, bytes));
    BufferPool pool;
    BufferPool::Use use(pool);
    EXPECT_FALSE(LoadRgba(path)) << name;
    EXPECT_EQ(pool.keptBlocks(), 0u) << name;
  }
}

// A small picture of each kind stb_image reads, written as their encoders
// write them, with where its header keeps the width and the height (little-
// or big-endian, two or four bytes).
struct SmallPicture {
  const char* name;
  std::string bytes;
  std::size_t widthAt, heightAt;
  int fieldSize;
  bool bigEndian;
};

std::string RawRgbPsd(int width, int height) {
  std::string bytes = "8BPS" + Field(1, 2, true) + std::string(6, '\0') + Field(3, 2, true) +
                      Field(height, 4, true) + Field(width, 4, true) + Field(8, 2, true) +
                      Field(3, 2, true) + std::string(12, '\0') + Field(0, 2, true);
  for (int channel = 0; channel < 3; ++channel) {
    for (int i = 0; i < width * height; ++i) bytes += static_cast<char>(60 * channel + i);
  }
  return bytes;
}

// A file whose header claims 11000 x 11000 (under the whole-image cap) with
// the few bytes of a small picture behind it is refused: stb_image would
// take the missing bytes as zeros and hand out a black picture, or make its
// canvas first, at half a gigabyte and seconds a file. The small pictures
// themselves load.
TEST(DecodedPhotoTest, AHeaderClaimingMoreThanTheFileCanHoldIsRefused) {
  testsupport::TempDir dir;
  ASSERT_TRUE(testsupport::WritePng(dir.File("small.png"), testsupport::Gradient(8, 6, 3)));
  // One white pixel, as a GIF encoder writes it: canvas and frame 1 x 1.
  const std::string gif(
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
      ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
      35);
  const SmallPicture pictures[] = {
      {"png", testsupport::ReadBytes(dir.File("small.png")), 16, 20, 4, true},
      {"bmp", Bmp(testsupport::Gradient(7, 5, 4), false), 18, 22, 4, false},
      {"psd", RawRgbPsd(3, 2), 18, 14, 4, true},
      {"gif", gif, 6, 8, 2, false},
  };
  for (const SmallPicture& picture : pictures) {
    const std::string honest = dir.File(std::string("small.") + picture.name);
    ASSERT_TRUE(testsupport::WriteBytes(honest, picture.bytes));
    EXPECT_TRUE(LoadRgba(honest)) << picture.name;

    std::string claiming = picture.bytes;
    const std::string side = Field(11000, picture.fieldSize, picture.bigEndian);
    claiming.replace(picture.widthAt, side.size(), side);
    claiming.replace(picture.heightAt, side.size(), side);
    if (std::string_view(picture.name) == "gif") claiming.replace(26, 4, side + side);
    const std::string path = dir.File(std::string("claiming.") + picture.name);
    ASSERT_TRUE(testsupport::WriteBytes(path, claiming));
    BufferPool pool;
    BufferPool::Use use(pool);
    EXPECT_FALSE(LoadRgba(path)) << picture.name;
    EXPECT_EQ(pool.keptBlocks(), 0u) << picture.name;
  }
}

#if defined(__linux__)
// A progressive file keeps every coefficient until its last scan. One whose
// header claims 30000 x 30000 in a few hundred bytes (2.7 GB of them) fails
// without the decoder taking more than its cap; each test runs in a process
// of its own, so the peak is this file's.
TEST(DecodedPhotoTest, AProgressiveHeaderClaimingGigabytesTakesNoMoreThanTheCap) {
  testsupport::TempDir dir;
  testsupport::JpegLayout layout;
  layout.progressive = true;
  std::string bytes = testsupport::EncodeJpegAs(testsupport::Gradient(64, 48, 3), layout);
  const std::size_t sof = bytes.find("\xFF\xC2");
  ASSERT_NE(sof, std::string::npos);
  bytes.replace(sof + 5, 4, "\x75\x30\x75\x30");
  const std::string path = dir.File("claims.jpg");
  ASSERT_TRUE(testsupport::WriteBytes(path, bytes));
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path);
  ASSERT_TRUE(photo);
  EXPECT_FALSE(photo->Scale(480, 360, 0));
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT((after.ru_maxrss - before.ru_maxrss) * 1024L, kMaxJpegDecoderBytes + (64L << 20));
}
#endif

}  // namespace
}  // namespace sheetsmith
