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

// A page counts as this run's only when it changed: a page left by an
// earlier run, untouched, is made again by the host.
TEST(ComposerRunTest, PagesLeftFromAnEarlierRunAreNotTheRunsOwn) {
  const PageStamp missing;
  const PageStamp old{true, 1000, 500};
  const PageStamp rewritten{true, 2000, 500};
  const PageStamp sameTimeOtherSize{true, 1000, 600};
  const std::vector<PageStamp> before = {missing, old, old, old, missing};
  const std::vector<PageStamp> after = {rewritten, old, rewritten, sameTimeOtherSize, missing};
  EXPECT_EQ(PagesNotWritten(before, after), (std::vector<std::size_t>{1, 4}));
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
