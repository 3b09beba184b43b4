#include "imaging/reading/exif.h"

#include <gtest/gtest.h>

#include "test_photos.h"

namespace sheetsmith {
namespace {

int Probe(const std::string& bytes) {
  return ExifOrientationFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                  bytes.size());
}

const std::string& SmallJpeg() {
  static const std::string jpeg = testsupport::EncodeJpeg(testsupport::Quadrants(8, 6), 90);
  return jpeg;
}

TEST(ExifTest, ReadsTheOrientationInBothByteOrders) {
  for (bool bigEndian : {false, true}) {
    for (int orientation : {1, 3, 6, 8, 2}) {
      const std::string jpeg = testsupport::InsertAfterSoi(
          SmallJpeg(), testsupport::ExifSegment(orientation, bigEndian));
      EXPECT_EQ(Probe(jpeg), orientation) << "big endian " << bigEndian;
    }
  }
}

TEST(ExifTest, AnythingElseReadsAsUpright) {
  EXPECT_EQ(Probe(SmallJpeg()), 1);  // no EXIF segment
  EXPECT_EQ(Probe(""), 1);
  EXPECT_EQ(Probe("\xFF\xD8\xFF\xE1\x00"), 1);         // shorter than 7 bytes
  EXPECT_EQ(Probe("\x89PNG\r\n\x1A\n0000000000"), 1);  // not a JPEG
  // A segment that does not start with FF stops the walk.
  EXPECT_EQ(Probe(std::string("\xFF\xD8\x00\xE1\x00\x10", 6) + std::string(20, '\0')), 1);
  // Start of scan before the EXIF segment: the EXIF block after it is never read.
  const std::string sos("\xFF\xDA\x00\x04\x00\x00", 6);
  EXPECT_EQ(
      Probe(testsupport::InsertAfterSoi(SmallJpeg(), sos + testsupport::ExifSegment(6, false))), 1);
}

TEST(ExifTest, TruncatedOrLyingSegmentsNeverReadPastTheEnd) {
  const std::string full =
      testsupport::InsertAfterSoi(SmallJpeg(), testsupport::ExifSegment(6, false));
  for (std::size_t n = 0; n < 60; ++n) {
    const std::string cut = full.substr(0, n);
    const int orientation = Probe(cut);
    EXPECT_TRUE(orientation == 1 || orientation == 6 || orientation == 0) << n;
  }
  // An IFD offset far past the data.
  std::string lying = testsupport::ExifSegment(6, false);
  lying[4 + 6 + 4] = '\xFF';
  lying[4 + 6 + 7] = '\x7F';
  EXPECT_EQ(Probe(testsupport::InsertAfterSoi(SmallJpeg(), lying)), 1);
  // The value of the entry cut off right after its tag reads 0.
  const std::size_t entryValue = full.find(std::string("\x12\x01\x03\x00", 4)) + 8;
  EXPECT_EQ(Probe(full.substr(0, entryValue + 1)), 1);  // whole entry is not there: segment left
}

TEST(ExifTest, ReadsTheFileByPathAndOnlyItsFirst64KiB) {
  testsupport::TempDir dir;
  const std::string near = dir.File("near.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(near, testsupport::Quadrants(16, 8), 90, 8, true));
  EXPECT_EQ(ReadExifOrientation(near), 8);
  EXPECT_EQ(ReadExifOrientation(dir.File("missing.jpg")), 1);

  // An EXIF segment that starts beyond the first 64 KiB is not seen.
  std::string padding("\xFF\xE2", 2);
  padding += std::string("\xFF\xFE", 2);  // APP2 of length 65534
  padding.resize(4 + 65532, 'x');
  const std::string far = dir.File("far.jpg");
  ASSERT_TRUE(testsupport::WriteBytes(
      far, testsupport::InsertAfterSoi(SmallJpeg(), padding + testsupport::ExifSegment(6, false))));
  EXPECT_EQ(ReadExifOrientation(far), 1);
}

// An EXIF block from its TIFF header, in either byte order: IFD0 with
// DateTime (0x0132) and a pointer to the Exif IFD, which holds
// DateTimeOriginal (0x9003); `exifIfd` 0 leaves the pointer out.
std::string TimesBlock(bool bigEndian, std::uint32_t exifIfd, std::uint16_t takenType = 2,
                       std::uint32_t takenCount = 20, std::uint32_t takenAt = 82) {
  const auto u16 = [bigEndian](std::uint32_t v) {
    return bigEndian ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
  };
  const auto u32 = [&](std::uint32_t v) {
    return bigEndian ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16);
  };
  std::string block = bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
  block += u32(8);
  // IFD0 at 8: two entries (30 bytes) to 38; the Exif IFD at 38 (18) to 56;
  // DateTime's text at 56 (20 bytes, a NUL inside), DateTimeOriginal's at 82.
  block += u16(2) + u16(0x0132) + u16(2) + u32(20) + u32(56);
  block += u16(exifIfd ? 0x8769 : 0x0100) + u16(4) + u32(1) + u32(exifIfd);
  block += u32(0);
  block += u16(1) + u16(0x9003) + u16(takenType) + u32(takenCount) + u32(takenAt) + u32(0);
  block += std::string("2020:01:01 00:00:00\0", 20) + "xxxxxx";
  block += std::string("2023:01:02 03:04:05\0", 20);
  return block;
}

TEST(ExifTest, CaptureTimesAreReadFromBothIfdsAndNeverPastTheBlock) {
  const struct {
    const char* name;
    std::string block;
    std::optional<std::string> taken, changed;
  } cases[] = {
      {"little endian", TimesBlock(false, 38), "2023:01:02 03:04:05", "2020:01:01 00:00:00"},
      {"big endian", TimesBlock(true, 38), "2023:01:02 03:04:05", "2020:01:01 00:00:00"},
      {"no Exif IFD", TimesBlock(false, 0), std::nullopt, "2020:01:01 00:00:00"},
      {"Exif IFD past the end", TimesBlock(false, 4000), std::nullopt, "2020:01:01 00:00:00"},
      {"not ASCII", TimesBlock(false, 38, 3), std::nullopt, "2020:01:01 00:00:00"},
      {"text past the end", TimesBlock(false, 38, 2, 20, 95), std::nullopt,
       "2020:01:01 00:00:00"},
      // A text of four bytes or fewer is kept in the entry itself.
      {"short text", TimesBlock(false, 38, 2, 4, 0x00333231), "123", "2020:01:01 00:00:00"},
      {"empty text", TimesBlock(false, 38, 2, 1, 0), std::nullopt, "2020:01:01 00:00:00"},
      {"cut in IFD0", TimesBlock(false, 38).substr(0, 30), std::nullopt, std::nullopt},
      {"header only", TimesBlock(false, 38).substr(0, 8), std::nullopt, std::nullopt},
      {"nothing", "", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    const ExifTimes times = ExifTimesFromTiff(
        reinterpret_cast<const std::uint8_t*>(c.block.data()), c.block.size());
    EXPECT_EQ(times.taken, c.taken) << c.name;
    EXPECT_EQ(times.changed, c.changed) << c.name;
  }
}

}  // namespace
}  // namespace sheetsmith
