// The composer's line for an unreadable photo must read back as what it
// said, whatever the path holds, and no other line may read as one.
#include "job_file/unreadable_line.h"

#include <gtest/gtest.h>

namespace sheetsmith {
namespace {

using Kind = ReadProblem::Kind;

TEST(UnreadableLineTest, AnEntryReadsBackAsItWasWritten) {
  const UnreadableEntry entries[] = {
      {false, 0, {Kind::kMissing, "there is no such file"}, "C:\\photos\\IMG_0001.HEIC"},
      // Brackets, a colon and the separator itself inside the path.
      {false, 41, {Kind::kCutShort, "the file is cut short"}, "D:\\a (copy): b\\): x.jpg"},
      {true, 7, {Kind::kTooLarge, "it is 70000 x 70000 pixels"}, "/home/u/תמונות/frame 1.png"},
      {false, 3, {Kind::kUnsupported, "TIFF files are not read here"}, " leading space.tif"},
  };
  for (const UnreadableEntry& entry : entries) {
    const std::string line = FormatUnreadableLine(entry);
    // The host reads Wine's and Windows' lines, which end with CR LF.
    for (const std::string& read : {line, line + "\n", line + "\r\n"}) {
      const std::optional<UnreadableEntry> back = ParseUnreadableLine(read);
      ASSERT_TRUE(back) << read;
      EXPECT_EQ(back->frame, entry.frame);
      EXPECT_EQ(back->index, entry.index);
      EXPECT_EQ(back->problem.kind, entry.problem.kind);
      EXPECT_EQ(back->problem.detail, entry.problem.detail);
      EXPECT_EQ(back->path, entry.path);
    }
  }
}

TEST(UnreadableLineTest, AReasonKeepsTheLineReadable) {
  // Brackets and line ends in a reader's words would end the reason early.
  const UnreadableEntry entry{
      false, 2, {Kind::kDamaged, "libheif (Invalid input):\nbad"}, "x.heic"};
  const std::string line = FormatUnreadableLine(entry);
  EXPECT_EQ(line, "Sheetsmith: Unreadable photo 2 damaged (libheif  Invalid input : bad): x.heic");
  ASSERT_TRUE(ParseUnreadableLine(line));
  EXPECT_EQ(ParseUnreadableLine(line)->path, "x.heic");
  // A problem with no kind or words is still a line of a known form.
  EXPECT_EQ(FormatUnreadableLine({false, 5, {}, "y.jpg"}),
            "Sheetsmith: Unreadable photo 5 damaged (it cannot be read): y.jpg");
}

TEST(UnreadableLineTest, OtherLinesAreNoEntries) {
  for (const char* line : {
           "Sheetsmith: [10/16]",
           "Sheetsmith: Saved page 1/4",
           "Sheetsmith: Unreadable photo",
           "Sheetsmith: Unreadable photo x missing (no): a.jpg",
           "Sheetsmith: Unreadable photo -1 missing (no): a.jpg",
           "Sheetsmith: Unreadable picture 1 missing (no): a.jpg",
           "Sheetsmith: Unreadable photo 1 lost (no): a.jpg",
           "Sheetsmith: Unreadable photo 1 missing no: a.jpg",
           "Sheetsmith: Unreadable photo 1 missing (no): ",
           "Sheetsmith: Unreadable photo 99999999999999999999999 missing (no): a.jpg",
           "Sheetsmith: The color profile of a.jpg cannot be used (x); its colors are taken as "
           "sRGB",
       }) {
    EXPECT_FALSE(ParseUnreadableLine(line)) << line;
  }
}

}  // namespace
}  // namespace sheetsmith
