#include "job_file/heartbeat_line.h"

#include <gtest/gtest.h>

namespace sheetsmith {
namespace {

// What the composer writes the host reads back whole; any other line, or a
// line cut short, is not a heartbeat.
TEST(HeartbeatLineTest, ReadsBackWhatIsWrittenAndNothingElse) {
  const HeartbeatEntry beats[] = {
      {0, 0, 0, 0, {}},
      {3, 16, 1, 4, {}},
      {7, 160, 0, 10, {4, 12, 159}},
  };
  for (const HeartbeatEntry& beat : beats) {
    const std::string line = FormatHeartbeatLine(beat);
    for (const std::string& written : {line, line + "\n", line + "\r\n"}) {
      const std::optional<HeartbeatEntry> read = ParseHeartbeatLine(written);
      ASSERT_TRUE(read) << written;
      EXPECT_EQ(read->photosPlaced, beat.photosPlaced);
      EXPECT_EQ(read->photos, beat.photos);
      EXPECT_EQ(read->pagesSaved, beat.pagesSaved);
      EXPECT_EQ(read->pages, beat.pages);
      EXPECT_EQ(read->inHand, beat.inHand);
    }
  }
  EXPECT_EQ(FormatHeartbeatLine({7, 160, 0, 10, {4, 12}}),
            "Sheetsmith: working, 7 of 160 photos placed, 0 of 10 pages saved, in hand: 4 12");
  for (const char* other : {
           "Sheetsmith: working, 3 of 16 photos placed",  // no pages
           "Sheetsmith: working, 3 of 16 photos placed, 1 of 4 pages saved, in hand:",
           "Sheetsmith: working, 3 of 16 photos placed, 1 of 4 pages saved, in hand: 2 x",
           "Sheetsmith: working, -3 of 16 photos placed, 1 of 4 pages saved",
       }) {
    EXPECT_FALSE(ParseHeartbeatLine(other)) << other;
  }
}

}  // namespace
}  // namespace sheetsmith
