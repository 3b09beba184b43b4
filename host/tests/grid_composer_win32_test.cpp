// The host's own composer and the composer's start, under Windows (run under
// Wine here).
#include <gtest/gtest.h>

#include <algorithm>

#include "command_line.h"
#include "composer_launcher.h"
#include "grid_composer.h"
#include "quadrant_color_win32.h"
#include "test_photos.h"

namespace runner::printing {
namespace {

using testing_win32::QuadrantColorAt;

// A phone photo stored sideways or upside down is fitted as it stands
// upright: the quadrants of the upright picture land where they belong.
TEST(GridComposerTest, PhotosAreFittedUprightByTheirExifOrientation) {
  GdiplusSession session;
  ASSERT_TRUE(session.ok());
  testsupport::TempDir dir("korvela fallback");
  // Upright, every photo is 80 x 60 with red top-left, green top-right, blue
  // bottom-left, yellow bottom-right; stored as the orientation says.
  const sheetsmith::RgbaImage upright = testsupport::Quadrants(80, 60);
  const auto stored = [&](int orientation) {
    const bool sideways = orientation == 6 || orientation == 8;
    sheetsmith::RgbaImage image = testsupport::Solid(sideways ? 60 : 80, sideways ? 80 : 60, {});
    for (int y = 0; y < upright.height; ++y) {
      for (int x = 0; x < upright.width; ++x) {
        // Where upright pixel (x, y) is stored.
        int sx = x, sy = y;
        if (orientation == 3) sx = 79 - x, sy = 59 - y;
        if (orientation == 6) sx = y, sy = 79 - x;
        if (orientation == 8) sx = 59 - y, sy = x;
        std::copy_n(upright.At(x, y), 4, image.At(sx, sy));
      }
    }
    return image;
  };
  for (const int orientation : {1, 3, 6, 8}) {
    const std::string path = dir.File("photo " + std::to_string(orientation) + ".jpg");
    ASSERT_TRUE(testsupport::WriteJpeg(path, stored(orientation), 98, orientation));
    // A landscape cell: the upright photo is not turned to it.
    const std::optional<CellImage> cell = LoadCellImage(path, 160, 120, true, false);
    ASSERT_TRUE(cell) << orientation;
    EXPECT_FALSE(cell->turned) << orientation;
    UINT w = 0, h = 0;
    gdip::GdipGetImageWidth(cell->bitmap.get(), &w);
    gdip::GdipGetImageHeight(cell->bitmap.get(), &h);
    EXPECT_EQ(w, 160u) << orientation;
    EXPECT_EQ(h, 120u) << orientation;
    const std::string corners = {
        QuadrantColorAt(cell->bitmap.get(), 10, 10), QuadrantColorAt(cell->bitmap.get(), 150, 10),
        QuadrantColorAt(cell->bitmap.get(), 10, 110), QuadrantColorAt(cell->bitmap.get(), 150, 110)};
    EXPECT_EQ(corners, "RGBY") << "orientation " << orientation;
  }
}

// A composer inherits its own pipe end and nothing else: a pipe whose write
// end the host holds, inheritable, ends for its reader as soon as the host
// closes that end, although a composer started meanwhile still runs.
TEST(ComposerStartTest, AComposerInheritsNoOtherHandleOfTheHost) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE otherRead = nullptr;
  HANDLE otherWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&otherRead, &otherWrite, &inheritable, 0));
  UniqueHandle reader(otherRead);
  UniqueHandle writer(otherWrite);

  std::optional<ComposerProcess> composer =
      StartComposer(L"\"" + *PlatformText(KORVELA_HANGING_COMPOSER) + L"\"");
  ASSERT_TRUE(composer);
  ResumeThread(composer->thread.get());
  // It runs, and says something on its own pipe.
  EXPECT_EQ(WaitForSingleObject(composer->process.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));

  writer.reset();
  DWORD available = 0;
  const BOOL peeked = PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr);
  const DWORD error = GetLastError();
  TerminateProcess(composer->process.get(), 1);
  WaitForSingleObject(composer->process.get(), 5000);
  EXPECT_FALSE(peeked) << "the composer holds the other pipe open";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
}

}  // namespace
}  // namespace runner::printing
