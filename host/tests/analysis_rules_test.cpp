#include "analysis_rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace runner {
namespace {

TEST(FaceRulesTest, DecodeSizeStaysWithinTheLimit) {
  EXPECT_EQ(FaceDecodeSize(4096, 3000), (PixelSize{4096, 3000}));
  EXPECT_EQ(FaceDecodeSize(4097, 3000), (PixelSize{4096, 2999}));
  EXPECT_EQ(FaceDecodeSize(6000, 4000), (PixelSize{4096, 2731}));
  EXPECT_EQ(FaceDecodeSize(4000, 6000), (PixelSize{2731, 4096}));
  EXPECT_EQ(FaceDecodeSize(100000, 1), (PixelSize{4096, 1}));  // never below one pixel
}

TEST(FaceRulesTest, TransformSizesAreInTheStoredPixelsSpace) {
  // Stored 6000 x 4000 with a quarter turn: oriented 4000 x 6000.
  const PixelSize oriented = FaceDecodeSize(4000, 6000);
  EXPECT_EQ(TransformScaledSize(oriented, 6000, 4000), (PixelSize{4096, 2731}));
  // Stored as shown: no exchange.
  EXPECT_EQ(TransformScaledSize(FaceDecodeSize(6000, 4000), 6000, 6000), (PixelSize{4096, 2731}));
}

TEST(FaceRulesTest, BoxFactorsComeFromTheBitmapActuallyAnalysed) {
  const BoxFactors f = FaceBoxFactors(4097, 3000, 4096, 2999);
  EXPECT_DOUBLE_EQ(f.x, 4097.0 / 4096.0);
  EXPECT_DOUBLE_EQ(f.y, 3000.0 / 2999.0);
  const BoxFactors none = FaceBoxFactors(10, 10, 0, 0);
  EXPECT_DOUBLE_EQ(none.x, 1.0);
  EXPECT_DOUBLE_EQ(none.y, 1.0);
}

TEST(FaceRulesTest, DebugTexts) {
  EXPECT_EQ(FaceDebugLine(6000, 4000, 4096, 2731, 2),
            "FD: ori=6000x4000 scaled=4096x2731 faces=2\n");
  EXPECT_EQ(FaceChannelLine({}), "FD: channel detectFacesWindows, paths=0\n");
  EXPECT_EQ(FaceChannelLine({"C:\\a.jpg", "C:\\b.jpg"}),
            "FD: channel detectFacesWindows, paths=2 first=\"C:\\a.jpg\"\n");
  EXPECT_EQ(HresultHex(static_cast<std::int32_t>(0x80040154)), "80040154");
  EXPECT_EQ(HresultHex(0x1A), "1a");
}

TEST(FaceRulesTest, DevicePrefixesInFrontOfDrivesAreDropped) {
  EXPECT_EQ(PathForOpening("\\\\.\\C:\\photo.jpg"), "C:\\photo.jpg");
  EXPECT_EQ(PathForOpening("\\\\?\\D:\\\xD7\xAA\\x.jpg"), "D:\\\xD7\xAA\\x.jpg");
  EXPECT_EQ(PathForOpening("\\\\?\\UNC\\server\\share\\x.jpg"), "\\\\server\\share\\x.jpg");
  for (const char* kept : {"C:\\photo.jpg", "\\\\server\\share\\x.jpg", "\\\\.\\pipe\\name",
                           "\\\\?\\Volume{123}\\x.jpg", "\\\\.\\", "relative\\x.jpg", ""}) {
    EXPECT_EQ(PathForOpening(kept), kept) << kept;
  }
}

TEST(ThumbnailRulesTest, PixelSizeFromTheLogicalSizeAndTheScale) {
  EXPECT_EQ(ThumbnailPixelSize(200, 150, 1.5), (PixelSize{300, 225}));
  EXPECT_EQ(ThumbnailPixelSize(200, 150, 0.0), (PixelSize{200, 150}));
  EXPECT_EQ(ThumbnailPixelSize(200, 150, -2.0), (PixelSize{200, 150}));
  EXPECT_EQ(ThumbnailPixelSize(200, 150, 2.0), (PixelSize{400, 300}));
  EXPECT_EQ(ThumbnailPixelSize(1, 1, 0.5), (PixelSize{1, 1}));  // below 2 becomes 1
  // Sizes whose product would not fit stop at the largest side.
  EXPECT_EQ(ThumbnailPixelSize(2000000000, 3, 1e300), (PixelSize{4096, 4096}));
  EXPECT_EQ(ThumbnailPixelSize(100000, 100, 1.0), (PixelSize{4096, 100}));
  for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(ThumbnailPixelSize(200, 150, bad), std::nullopt);
  }
}

// A thumbnail keeps the photo's shape within the size asked, never grows
// past the photo, and never loses a side.
TEST(ThumbnailRulesTest, TheReadersThumbnailFitsWithinTheSizeAsked) {
  const struct {
    std::uint32_t width, height;
    PixelSize asked, made;
  } cases[] = {
      {640, 480, {300, 225}, {300, 225}},  // the same shape
      {480, 640, {300, 225}, {169, 225}},  // upright portrait into landscape
      {4000, 3000, {200, 200}, {200, 150}},
      {100, 50, {300, 300}, {100, 50}},  // smaller than asked: its own size
      {10000, 1, {100, 100}, {100, 1}},
      {0, 0, {100, 100}, {1, 1}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ThumbnailSize(c.width, c.height, c.asked), c.made) << c.width << "x" << c.height;
  }
}

TEST(MetadataRulesTest, QuarterTurnsSwapTheSides) {
  for (int orientation = 0; orientation <= 9; ++orientation) {
    EXPECT_EQ(OrientationSwapsSides(orientation), orientation >= 5 && orientation <= 8)
        << orientation;
  }
}

TEST(MetadataRulesTest, CaptureTimesReadByPositionAsUtc) {
  EXPECT_EQ(CaptureMillisFromExifText("2024:05:17 08:30:00"), 1715934600000);
  EXPECT_EQ(CaptureMillisFromExifText("2024-05-17 08:30:00"), 1715934600000);
  EXPECT_EQ(CaptureMillisFromExifText("2024:05:17 08:30:00 and more"), 1715934600000);
  EXPECT_EQ(CaptureMillisFromExifText("1970:01:01 00:00:01"), 1000);
  // strtol's way: blanks before the digits, a field that stops early.
  EXPECT_EQ(CaptureMillisFromExifText(" 999:01:02 03:04:05"), std::nullopt);  // year 999
  EXPECT_EQ(CaptureMillisFromExifText("2024: 5:17  8:30: 0"), 1715934600000);
  EXPECT_EQ(CaptureMillisFromExifText("2024:5x:17 08:30:00"), 1715934600000);  // month 5
}

TEST(MetadataRulesTest, DatesThatDoNotExistOrAreTooEarlyGiveNoTime) {
  for (const char* text :
       {"                   ", "    :  :     :  :  ", "2024:05:17 08:30", "2024:13:01 00:00:00",
        "2024:00:10 00:00:00", "2024:04:31 00:00:00", "2023:02:29 12:00:00", "1900:02:29 12:00:00",
        "2024:05:17 24:00:00", "2024:05:17 08:60:00", "2024:05:17 08:30:60", "2024:-5:17 08:30:00",
        "1970:01:01 00:00:00", "1969:12:31 23:59:59", "1601:01:01 00:00:00"}) {
    EXPECT_EQ(CaptureMillisFromExifText(text), std::nullopt) << text;
  }
  EXPECT_EQ(CaptureMillisFromExifText(nullptr), std::nullopt);
  // Leap days of leap years exist.
  EXPECT_TRUE(CaptureMillisFromExifText("2024:02:29 12:00:00"));
  EXPECT_TRUE(CaptureMillisFromExifText("2000:02:29 12:00:00"));
}

}  // namespace
}  // namespace runner
