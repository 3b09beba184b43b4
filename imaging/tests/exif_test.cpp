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

}  // namespace
}  // namespace sheetsmith
