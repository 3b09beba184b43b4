// The host renderer's decoders under Windows (run under Wine here).
#include <gtest/gtest.h>

#include "command_line.h"
#include "effects_renderer.h"
#include "quadrant_color_win32.h"
#include "test_photos.h"

namespace runner {
namespace {

using testing_win32::QuadrantColorAt;

// An uncompressed RGB TIFF with an Orientation tag. Wine's GDI+ reports no
// EXIF properties for JPEG files, but it does read a TIFF's tags, so the
// plain decoder's orientation step is checked on one of these.
std::string TiffWithOrientation(const sheetsmith::RgbaImage& image, int orientation) {
  std::string out("II*\0", 4);
  auto put16 = [&out](unsigned v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
  };
  auto put32 = [&](unsigned v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  const unsigned pixelBytes = static_cast<unsigned>(image.width * image.height * 3);
  const unsigned entries = 10;
  const unsigned ifd = 8;
  const unsigned bitsOffset = ifd + 2 + entries * 12 + 4;
  const unsigned dataOffset = bitsOffset + 6;
  put32(ifd);
  put16(entries);
  auto entry = [&](unsigned tag, unsigned type, unsigned count, unsigned value) {
    put16(tag);
    put16(type);
    put32(count);
    if (type == 3 && count == 1) {
      put16(value);
      put16(0);
    } else {
      put32(value);
    }
  };
  entry(256, 3, 1, static_cast<unsigned>(image.width));
  entry(257, 3, 1, static_cast<unsigned>(image.height));
  entry(258, 3, 3, bitsOffset);
  entry(259, 3, 1, 1);
  entry(262, 3, 1, 2);
  entry(273, 4, 1, dataOffset);
  entry(274, 3, 1, static_cast<unsigned>(orientation));
  entry(277, 3, 1, 3);
  entry(278, 3, 1, static_cast<unsigned>(image.height));
  entry(279, 4, 1, pixelBytes);
  put32(0);
  put16(8);
  put16(8);
  put16(8);
  for (int i = 0; i < image.width * image.height; ++i)
    out.append(reinterpret_cast<const char*>(image.data() + i * 4), 3);
  return out;
}

class RendererTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(session.ok()); }
  GdiplusSession session;
  testsupport::TempDir dir{"korvela renderer"};
};

TEST_F(RendererTest, ThePlainDecoderIsTurnedByExifAndWicDecodesAreNot) {
  // Stored 80 x 60 with orientation 6: upright it is 60 x 80. The plain
  // decoder is given the TIFF, WIC the JPEG.
  const std::string path = dir.File("six.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(path, testsupport::Quadrants(80, 60), 98, 6));
  const std::wstring wide = *PlatformText(path);

  const std::string tiff = dir.File("six.tif");
  ASSERT_TRUE(
      testsupport::WriteBytes(tiff, TiffWithOrientation(testsupport::Quadrants(80, 60), 6)));
  GdiplusBitmap plain = CorrectOrientation(LoadBitmapFromFile(*PlatformText(tiff)));
  ASSERT_TRUE(plain);
  UINT w = 0, h = 0;
  gdip::GdipGetImageWidth(plain.get(), &w);
  gdip::GdipGetImageHeight(plain.get(), &h);
  EXPECT_EQ(w, 60u);
  EXPECT_EQ(h, 80u);
  EXPECT_EQ(QuadrantColorAt(plain.get(), 5, 5), 'B');  // a quarter turn clockwise
  EXPECT_EQ(QuadrantColorAt(plain.get(), 55, 5), 'R');

  GdiplusBitmap scaled = DecodeScaled(wide, 1000, 1000);
  ASSERT_TRUE(scaled);
  gdip::GdipGetImageWidth(scaled.get(), &w);
  EXPECT_EQ(w, 80u);
  EXPECT_EQ(QuadrantColorAt(scaled.get(), 5, 5), 'R');  // as stored

  GdiplusBitmap copy = CopyBitmap(scaled.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(QuadrantColorAt(copy.get(), 75, 55), QuadrantColorAt(scaled.get(), 75, 55));
}

TEST_F(RendererTest, AScaledDecodeOnlyWhenItSavesAQuarter) {
  const std::string path = dir.File("big.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(path, testsupport::Gradient(400, 300, 1), 90));
  const std::wstring wide = *PlatformText(path);
  GdiplusBitmap reduced = DecodeScaled(wide, 150, 150);  // f = 0.5: 200 x 150
  ASSERT_TRUE(reduced);
  UINT w = 0, h = 0;
  gdip::GdipGetImageWidth(reduced.get(), &w);
  gdip::GdipGetImageHeight(reduced.get(), &h);
  EXPECT_EQ(w, 200u);
  EXPECT_EQ(h, 150u);
  GdiplusBitmap full = DecodeScaled(wide, 350, 280);  // would keep 3/4: full size
  ASSERT_TRUE(full);
  gdip::GdipGetImageWidth(full.get(), &w);
  EXPECT_EQ(w, 400u);
  EXPECT_FALSE(DecodeScaled(*PlatformText(dir.File("missing.jpg")), 10, 10));
}

}  // namespace
}  // namespace runner
