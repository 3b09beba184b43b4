// A photo scaled from the decoder's planes row by row must be the very image
// the whole decoded photo scales to, for every kind of JPEG file and for the
// files that go the whole-image way.
#include "image_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "resample.h"
#include "test_photos.h"

std::string EncodedTestPhoto(std::string_view name);

namespace sheetsmith {
namespace {

struct Kind {
  std::string name;
  std::string bytes;
};

std::vector<Kind> Kinds() {
  const RgbaImage gradient = testsupport::Gradient(301, 203, 4);
  const RgbaImage odd = testsupport::Gradient(177, 99, 8);
  return {
      {"chroma_420.jpg", testsupport::EncodeJpeg(gradient, 90)},
      {"chroma_444.jpg", testsupport::EncodeJpeg(odd, 95)},
      {"grey.jpg", EncodedTestPhoto("grey")},
      {"progressive_420.jpg", EncodedTestPhoto("progressive_420")},
      {"cmyk.jpg", EncodedTestPhoto("cmyk")},
  };
}

bool SameImage(const RgbaImage& a, const RgbaImage& b) {
  return a.width == b.width && a.height == b.height &&
         std::memcmp(a.data(), b.data(), a.ByteCount()) == 0;
}

TEST(DecodedPhotoTest, ScalesEveryKindOfJpegAsTheWholePhotoWouldBe) {
  testsupport::TempDir dir;
  struct Size {
    int width;
    int height;
  };
  // Shrinking by different factors each way, to a single row, and enlarging
  // (where the rows read by successive output rows overlap most).
  const Size sizes[] = {{61, 37}, {150, 1}, {20, 190}, {420, 260}};
  std::vector<Kind> kinds = Kinds();
  kinds.push_back({"photo.png", ""});
  ASSERT_TRUE(testsupport::WritePng(dir.File("photo.png"), testsupport::Gradient(90, 70, 2)));
  for (const Kind& kind : kinds) {
    const std::string path = dir.File(kind.name);
    if (!kind.bytes.empty()) {
      ASSERT_TRUE(testsupport::WriteBytes(path, kind.bytes));
    }
    // CMYK files and other formats are decoded whole; the rest row by row.
    const bool byRows = kind.name != "cmyk.jpg" && kind.name != "photo.png";
    const std::optional<RgbaImage> whole = LoadRgba(path);
    ASSERT_TRUE(whole) << kind.name;
    for (const Size& size : sizes) {
      for (int quarters = 0; quarters < 4; ++quarters) {
        SCOPED_TRACE(kind.name + " to " + std::to_string(size.width) + "x" +
                     std::to_string(size.height) + ", " + std::to_string(quarters) + " turns");
        std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path);
        ASSERT_TRUE(photo);
        EXPECT_EQ(photo->width(), whole->width);
        EXPECT_EQ(photo->height(), whole->height);
        const std::optional<RgbaImage> scaled = photo->Scale(size.width, size.height, quarters);
        const std::optional<RgbaImage> expected =
            Resample(*whole, size.width, size.height, quarters);
        ASSERT_TRUE(scaled && expected);
        EXPECT_TRUE(SameImage(*scaled, *expected));
        EXPECT_EQ(photo->rowNanoseconds() > 0, byRows);
      }
    }
    std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path);
    ASSERT_TRUE(photo);
    const std::optional<RgbaImage> made = photo->Whole();
    ASSERT_TRUE(made);
    EXPECT_TRUE(SameImage(*made, *whole)) << kind.name;
    // A photo is scaled or taken whole once.
    EXPECT_FALSE(photo->Whole()) << kind.name;
    EXPECT_FALSE(photo->Scale(10, 10, 0)) << kind.name;
  }
}

TEST(DecodedPhotoTest, OpensWhatTheWholeImageDecoderOpensAndNothingElse) {
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
    const std::optional<RgbaImage> whole = LoadRgba(path);
    std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path);
    EXPECT_EQ(photo.has_value(), whole.has_value()) << file.name;
    if (photo && whole) {
      const std::optional<RgbaImage> made = photo->Whole();
      ASSERT_TRUE(made);
      EXPECT_TRUE(SameImage(*made, *whole)) << file.name;
    }
  }
}

}  // namespace
}  // namespace sheetsmith
