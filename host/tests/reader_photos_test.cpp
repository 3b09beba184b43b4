// Photos for the host's drawing roads through the shared reader: which files
// it takes, the size they are read at, their turn, and why one cannot be read.
#include "reader_photos.h"

#include <gtest/gtest.h>

#include "test_photos.h"

namespace runner {
namespace {

using sheetsmith::ReadProblem;

TEST(ReaderPhotosTest, TheReaderTakesItsFormatsAndWhatCannotBeOpened) {
  testsupport::TempDir dir("korvela reader roads");
  const struct {
    const char* name;
    std::string bytes;
    bool takes;
  } cases[] = {
      {"photo.jpg", testsupport::EncodeJpeg(testsupport::Quadrants(8, 6), 90), true},
      {"named.tif", testsupport::EncodeJpeg(testsupport::Quadrants(8, 6), 90), true},
      {"scan.jpg", std::string("II*\0\x08\0\0\0", 8) + std::string(64, '\0'), false},
      {"notes.jpg", "hello, these are no pixels", false},
      {"empty.jpg", "", true},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(testsupport::WriteBytes(dir.File(c.name), c.bytes));
    EXPECT_EQ(ReaderTakes(dir.File(c.name)), c.takes) << c.name;
  }
  EXPECT_TRUE(ReaderTakes(dir.File("gone.jpg")));
}

// A phone's portrait stored sideways (EXIF 6): read at the size asked
// upright, it comes turned; read whole, the turn is left to the caller.
TEST(ReaderPhotosTest, PhotosAreReadAtTheUprightSizeAskedOrWholeWithTheTurnLeft) {
  testsupport::TempDir dir("korvela reader roads");
  const std::string phone = dir.File("phone.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(phone, testsupport::Quadrants(800, 600), 95, 6));
  int steps = 0;
  const ColorStep colors = [&steps](const sheetsmith::EmbeddedProfile&,
                                    sheetsmith::SourceColors pixels) {
    ++steps;
    EXPECT_EQ(pixels, sheetsmith::SourceColors::kRgb);
    return sheetsmith::SourcePlan{};
  };
  ReadProblem problem;
  std::optional<UprightSize> seen;
  const SizeRule half = [&seen](UprightSize upright) -> std::optional<UprightSize> {
    seen = upright;
    return UprightSize{upright.width / 2, upright.height / 2};
  };
  const std::optional<PhotoForDrawing> scaled = ReadForDrawing(phone, half, colors, &problem);
  ASSERT_TRUE(scaled) << problem.detail;
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->width, 600);
  EXPECT_EQ(seen->height, 800);
  EXPECT_EQ(scaled->image.width, 300);
  EXPECT_EQ(scaled->image.height, 400);
  EXPECT_EQ(scaled->turnsLeft, 0);
  EXPECT_EQ(scaled->uprightTurns, 1);
  EXPECT_EQ(scaled->storedWidth, 800);
  // Turned clockwise: the stored bottom-left (blue) is the top-left.
  const std::uint8_t* corner = scaled->image.At(10, 10);
  EXPECT_LT(corner[0], 40);
  EXPECT_GT(corner[2], 200);

  const std::optional<PhotoForDrawing> whole = ReadForDrawing(phone, nullptr, colors, nullptr);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->image.width, 800);
  EXPECT_EQ(whole->turnsLeft, 1);
  EXPECT_EQ(steps, 2);
}

TEST(ReaderPhotosTest, APhotoThatCannotBeReadSaysWhy) {
  testsupport::TempDir dir("korvela reader roads");
  const std::string whole = testsupport::EncodeJpeg(testsupport::Gradient(64, 48, 1), 90);
  ASSERT_TRUE(testsupport::WriteBytes(dir.File("cut.jpg"), whole.substr(0, whole.size() / 2)));
  ASSERT_TRUE(testsupport::WriteBytes(dir.File("empty.jpg"), ""));
  const struct {
    std::string path;
    ReadProblem::Kind kind;
  } cases[] = {
      {dir.File("gone.jpg"), ReadProblem::Kind::kMissing},
      {dir.File("cut.jpg"), ReadProblem::Kind::kCutShort},
      {dir.File("empty.jpg"), ReadProblem::Kind::kCutShort},
      {"", ReadProblem::Kind::kMissing},
      // A path holding a NUL never reaches the file system.
      {dir.File("cut.jpg") + std::string(1, '\0') + "x.jpg", ReadProblem::Kind::kCannotOpen},
  };
  for (const auto& c : cases) {
    ReadProblem problem;
    EXPECT_FALSE(ReadForDrawing(c.path, nullptr, nullptr, &problem)) << c.path;
    EXPECT_EQ(problem.kind, c.kind) << c.path;
    EXPECT_FALSE(ReadProblemReason(problem).empty()) << c.path;
  }
}

}  // namespace
}  // namespace runner
