#include "composer_run.h"

#include <gtest/gtest.h>

namespace runner::printing {
namespace {

// The composer's lines arrive in pieces that split lines anywhere; only whole
// lines count, and a count that goes back is ignored.
TEST(ComposerRunTest, ProgressComesFromWholeLinesOnly) {
  const std::string output =
      "Sheetsmith: Starting (stb version)...\n"
      "Sheetsmith: working, 3 of 16 photos placed\r\n"
      "Sheetsmith: [10/16]\n"
      "Sheetsmith: Saved page 1/4\n"
      "Sheetsmith: working, 7 of 16 photos placed\n"  // a late timer line
      "Sheetsmith: [x/16]\n"
      "Sheetsmith: Saved page 2/4\n"
      "Sheetsmith: [14/16]";  // not ended yet
  for (std::size_t piece : {std::size_t{1}, std::size_t{5}, output.size()}) {
    GridProgress progress;
    ComposerOutput reader(progress);
    int lines = 0;
    for (std::size_t at = 0; at < output.size(); at += piece) {
      lines += reader.Append(std::string_view(output).substr(at, piece));
    }
    EXPECT_EQ(reader.text(), output);
    EXPECT_EQ(lines, 7) << piece;
    const GridProgress::Counts counts = progress.Read();
    EXPECT_EQ(counts.photosDone, 10) << piece;
    EXPECT_EQ(counts.pagesDone, 2) << piece;
  }
}

// The pages a run wrote are those its lines name; a page no line names (a
// composer that claims success, one that failed half-way) is not its.
TEST(ComposerRunTest, PagesWrittenAreThoseTheComposerNamed) {
  GridProgress progress;
  ComposerOutput reader(progress);
  reader.Append(
      "Sheetsmith: Saved page 1/5\n"
      "Sheetsmith: Wrote page 3\n"
      "Sheetsmith: Saved page 2/5\r\n"
      "Sheetsmith: Wrote page 1\r\n"
      "Sheetsmith: Wrote page 2 of 5\n"  // not the line
      "Sheetsmith: Wrote page 0\n"
      "Sheetsmith: Wrote page 9\n"       // beyond the pages asked
      "Sheetsmith: Wrote page 5");        // not ended: the composer may still be saving it
  EXPECT_EQ(reader.PagesNotWritten(5), (std::vector<std::size_t>{1, 3, 4}));
  EXPECT_EQ(reader.PagesNotWritten(0), std::vector<std::size_t>{});
}

TEST(ComposerRunTest, PhotosPlacedAreThoseWithACell) {
  GridRequest request;
  request.imagePaths.assign(9, "a.jpg");
  request.outputPaths.assign(2, "p.jpg");
  request.rows = 2;
  request.columns = 2;
  EXPECT_EQ(PhotosPlaced(request), 8);
  request.outputPaths.assign(3, "p.jpg");
  EXPECT_EQ(PhotosPlaced(request), 9);
  request.rows = 0;
  EXPECT_EQ(PhotosPlaced(request), 0);
}

}  // namespace
}  // namespace runner::printing
