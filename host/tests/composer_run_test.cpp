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
      "Sheetsmith: Wrote page 9\n"  // beyond the pages asked
      "Sheetsmith: Wrote page 5");  // not ended: the composer may still be saving it
  EXPECT_EQ(reader.PagesNotWritten(5), (std::vector<std::size_t>{1, 3, 4}));
  EXPECT_EQ(reader.PagesNotWritten(0), std::vector<std::size_t>{});
}

// Only a photo placed or a page saved or written is work done: a heartbeat
// that says the same again, or goes back, is not; and the photos in hand
// are those the latest heartbeat named.
TEST(ComposerRunTest, WorkDoneMovesOnlyWithPhotosAndPages) {
  GridProgress progress;
  ComposerOutput reader(progress);
  const struct {
    const char* line;
    bool moves;
    std::vector<std::size_t> inHand;
  } steps[] = {
      {"Sheetsmith: Starting (stb version)...", false, {}},
      {"Sheetsmith: working, 0 of 3 photos placed, 0 of 1 pages saved, in hand: 0 1",
       false,
       {0, 1}},
      {"Sheetsmith: working, 1 of 3 photos placed, 0 of 1 pages saved, in hand: 1", true, {1}},
      {"Sheetsmith: working, 1 of 3 photos placed, 0 of 1 pages saved, in hand: 1", false, {1}},
      {"Sheetsmith: [1/3]", false, {1}},
      {"Sheetsmith: Unreadable photo 2 missing (no file): c.jpg", false, {1}},
      {"Sheetsmith: working, 0 of 3 photos placed, 0 of 1 pages saved", false, {}},
      {"Sheetsmith: [3/3]", true, {}},
      {"Sheetsmith: Saved page 1/1", true, {}},
      {"Sheetsmith: Wrote page 1", true, {}},
      {"Sheetsmith: working, 3 of 3 photos placed, 1 of 1 pages saved", false, {}},
  };
  for (const auto& step : steps) {
    const std::int64_t before = reader.WorkDone();
    reader.Append(std::string(step.line) + "\n");
    EXPECT_EQ(reader.WorkDone() > before, step.moves) << step.line;
    EXPECT_GE(reader.WorkDone(), before) << step.line;
    EXPECT_EQ(reader.PhotosInHand(), step.inHand) << step.line;
  }
  EXPECT_EQ(progress.Read().photosDone, 3);
  EXPECT_EQ(progress.Read().pagesDone, 1);
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
