#include "job_file/grid_config.h"

#include <gtest/gtest.h>

#include "test_photos.h"

namespace sheetsmith {
namespace {

GridConfig Parse(std::string_view text, bool expectOk = true,
                 std::vector<std::string>* problems = nullptr) {
  GridConfig config;
  EXPECT_EQ(ParseConfigText(text, config, problems), expectOk) << text;
  return config;
}

constexpr std::string_view kLfJob =
    "\xEF\xBB\xBF[settings]\nrows=3\ncols=4\npageWidth=1000\npageHeight=1400\nmarginLeft=5\n"
    "marginRight=6\nmarginTop=7\nmarginBottom=8\njpegQuality=80\nshowCutGrid=1\n"
    "cutGridWidthMm=0.25\ncutGridColor=black\nmagnetAspectRatio=1.33333\n"
    "[images]\n/p/a.jpg\n/p/b.jpg\n[frames]\n/f/a.png\n\n[outputs]\n/o/page1.jpg\n"
    "[effects]\n1,0.6,0,0.5,0.5,0,0,0,1,0,0,0,0,0.5,1,4294967295,0\n";

TEST(ParseConfigTest, ReadsEveryFieldOfTheWritersOutput) {
  const GridConfig c = Parse(kLfJob);
  EXPECT_EQ(c.rows, 3);
  EXPECT_EQ(c.cols, 4);
  EXPECT_EQ(c.pageWidth, 1000);
  EXPECT_EQ(c.pageHeight, 1400);
  EXPECT_EQ(c.marginLeft, 5);
  EXPECT_EQ(c.marginRight, 6);
  EXPECT_EQ(c.marginTop, 7);
  EXPECT_EQ(c.marginBottom, 8);
  EXPECT_EQ(c.jpegQuality, 80);
  EXPECT_TRUE(c.showCutGrid);
  EXPECT_DOUBLE_EQ(c.cutGridWidthMm, 0.25);
  EXPECT_EQ(c.cutGridColor, "black");
  EXPECT_DOUBLE_EQ(c.magnetAspectRatio, 1.33333);
  EXPECT_EQ(c.images, (std::vector<std::string>{"/p/a.jpg", "/p/b.jpg"}));
  EXPECT_EQ(c.frames, (std::vector<std::string>{"/f/a.png", ""}));
  EXPECT_EQ(c.outputs, (std::vector<std::string>{"/o/page1.jpg"}));
  ASSERT_EQ(c.effects.size(), 2u);
  EXPECT_EQ(c.effects[0], GridImageEffects{});
  EXPECT_FLOAT_EQ(c.effects[1].brightness, 0.6f);
  EXPECT_FLOAT_EQ(c.effects[1].stroke, 0.5f);
  EXPECT_FALSE(c.effects[1].strokeExternal);
}

TEST(ParseConfigTest, ByteOrderMarkAndCrLfAreOptional) {
  std::string noBom(kLfJob.substr(3));
  std::string crlf;
  for (char ch : kLfJob) {
    if (ch == '\n') crlf += '\r';
    crlf += ch;
  }
  const GridConfig reference = Parse(kLfJob);
  for (const std::string& variant : {noBom, crlf}) {
    const GridConfig c = Parse(variant);
    EXPECT_EQ(c.images, reference.images);
    EXPECT_EQ(c.frames, reference.frames);
    EXPECT_EQ(c.outputs, reference.outputs);
    EXPECT_EQ(c.effects, reference.effects);
    EXPECT_EQ(c.rows, reference.rows);
    EXPECT_EQ(c.cutGridColor, "black");  // no stray carriage return
  }
}

TEST(ParseConfigTest, SectionsNeedTheirExactNameAndBracket) {
  const GridConfig c = Parse(
      "/before/any/section.jpg\n[images]\na.jpg\n[images\nstill-images.jpg\n[Images]\nx.jpg\n"
      "[ images ]\ny.jpg\n[outputs]trailing text\nout.jpg\n  # comment\n#x.jpg\n[images]\nb.jpg\n");
  EXPECT_EQ(c.images, (std::vector<std::string>{"a.jpg", "still-images.jpg", "b.jpg"}));
  EXPECT_EQ(c.outputs, (std::vector<std::string>{"out.jpg"}));
}

TEST(ParseConfigTest, SettingsAreReadLikeTheCLibrary) {
  const GridConfig c = Parse(
      "[settings]\nrows =5\ncols= 3\npageWidth=1200px wide\nmarginTop=-4\nmarginLeft=+9\n"
      "noequals\nunknown=7\ncutGridWidthMm=0.5mm\nmagnetAspectRatio=  .75\n"
      "[images]\na\n[outputs]\nb\n");
  EXPECT_EQ(c.rows, 2);  // "rows " is not a key
  EXPECT_EQ(c.cols, 3);
  EXPECT_EQ(c.pageWidth, 1200);
  EXPECT_EQ(c.marginTop, -4);
  EXPECT_EQ(c.marginLeft, 9);
  EXPECT_DOUBLE_EQ(c.cutGridWidthMm, 0.5);
  EXPECT_DOUBLE_EQ(c.magnetAspectRatio, 0.75);
}

TEST(ParseConfigTest, ShowCutGridOnlyForOneOrTrue) {
  for (const char* on : {"1", "true"}) {
    EXPECT_TRUE(
        Parse(std::string("[settings]\nshowCutGrid=") + on + "\n[images]\na\n[outputs]\nb\n")
            .showCutGrid);
  }
  for (const char* off : {"True", "yes", "1 ", "0", "", "11"}) {
    EXPECT_FALSE(
        Parse(std::string("[settings]\nshowCutGrid=") + off + "\n[images]\na\n[outputs]\nb\n")
            .showCutGrid)
        << off;
  }
}

TEST(ParseConfigTest, UnreadableNumbersAreReportedAndLeaveTheDefault) {
  std::vector<std::string> problems;
  const GridConfig c = Parse(
      "[settings]\nrows=abc\ncols=99999999999\ncutGridWidthMm=nan\nmagnetAspectRatio=1e999\n"
      "jpegQuality=-\n[images]\na\n[outputs]\nb\n",
      true, &problems);
  EXPECT_EQ(c.rows, 2);
  EXPECT_EQ(c.cols, 2);
  EXPECT_DOUBLE_EQ(c.cutGridWidthMm, 0.1);
  EXPECT_DOUBLE_EQ(c.magnetAspectRatio, 0.0);
  EXPECT_EQ(c.jpegQuality, 95);
  ASSERT_EQ(problems.size(), 5u);
  EXPECT_EQ(problems[0], "setting rows=abc is not a number");
  EXPECT_EQ(problems[1], "setting cols=99999999999 is out of range");
  EXPECT_EQ(problems[4], "setting jpegQuality=- is not a number");
}

TEST(ParseConfigTest, PathsKeepTrailingBlanksAndLoseLeadingOnes) {
  const GridConfig c = Parse("[images]\n \t/a b/photo.jpg  \n[outputs]\n/o/\xD7\xA7.jpg\n");
  EXPECT_EQ(c.images, (std::vector<std::string>{"/a b/photo.jpg  "}));
  EXPECT_EQ(c.outputs, (std::vector<std::string>{"/o/\xD7\xA7.jpg"}));
}

TEST(ParseConfigTest, FramesKeepEmptyEntriesAligned) {
  const GridConfig c = Parse("[images]\na\nb\nc\n[frames]\nf0.png\n\nf2.png\n[outputs]\nout\n");
  EXPECT_EQ(c.frames, (std::vector<std::string>{"f0.png", "", "f2.png"}));
}

// Empty image lines are photos with no path only after keepEmptyImageLines=1,
// so that a file without the key reads as it always has.
TEST(ParseConfigTest, EmptyImageLinesCountOnlyWhenTheFileSaysSo) {
  const std::string images = "[images]\na\n\n  \nd\n[outputs]\nout\n";
  const struct {
    std::string settings;
    std::vector<std::string> images;
  } cases[] = {
      {"", {"a", "d"}},
      {"[settings]\nkeepEmptyImageLines=1\n", {"a", "", "", "d"}},
      {"[settings]\nkeepEmptyImageLines=0\n", {"a", "d"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parse(c.settings + images).images, c.images) << c.settings;
  }
}

TEST(ParseConfigTest, EffectsLinesFillMissingItemsWithDefaults) {
  const GridConfig c = Parse(
      "[images]\na\n[outputs]\nb\n[effects]\n"
      "0,0.1,0.2,0.3,0.4,0.5,0.6,0.7\n"                       // exactly 8 items
      "1,0.5,0,0.5,0.5,0,0,0,2,3,4,5,6,7,8,16711680\n"        // 16 items
      "2,0.5,0,0.5,0.5,0,0,0,1,0,0,0,0,0.5,1,4294967295,0\n"  // 17, inner border
      "3,0.5,0,0.5,0.5,0,0\n"                                 // 7 items: skipped
      "-1,0.9,0,0.5,0.5,0,0,0\n"                              // negative index
      "100000,0.9,0,0.5,0.5,0,0,0\n");                        // past the cap
  ASSERT_EQ(c.effects.size(), 3u);
  const GridImageEffects& eight = c.effects[0];
  EXPECT_FLOAT_EQ(eight.brightness, 0.1f);
  EXPECT_FLOAT_EQ(eight.sharpness, 0.7f);
  EXPECT_FLOAT_EQ(eight.scale, 1.0f);
  EXPECT_FLOAT_EQ(eight.viewportWidth, 0.0f);
  EXPECT_FLOAT_EQ(eight.strokeScale, 1.0f);
  EXPECT_EQ(eight.strokeColor, 0xFFFFFFFFu);
  EXPECT_TRUE(eight.strokeExternal);
  EXPECT_FLOAT_EQ(c.effects[1].viewportHeight, 6.0f);
  EXPECT_EQ(c.effects[1].strokeColor, 16711680u);
  EXPECT_TRUE(c.effects[1].strokeExternal);
  EXPECT_FALSE(c.effects[2].strokeExternal);
}

TEST(ParseConfigTest, EffectsIndexGrowsTheListAndLaterLinesWin) {
  const GridConfig c =
      Parse("[images]\na\n[outputs]\nb\n[effects]\n5,0.6,0,0.5,0.5,0,0,0\n5,0.7,0,0.5,0.5,0,0,0\n");
  ASSERT_EQ(c.effects.size(), 6u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(c.effects[i], GridImageEffects{});
  EXPECT_FLOAT_EQ(c.effects[5].brightness, 0.7f);
}

TEST(ParseConfigTest, NeedsImagesAndOutputs) {
  Parse("[images]\na.jpg\n", false);
  Parse("[outputs]\na.jpg\n", false);
  Parse("", false);
  Parse("\xEF\xBB", false);
}

TEST(ParseConfigTest, RepeatedSectionsAppendAndAnyOrderWorks) {
  const GridConfig c = Parse("[outputs]\no1\n[images]\na\n[outputs]\no2\n[settings]\nrows=1\n");
  EXPECT_EQ(c.outputs, (std::vector<std::string>{"o1", "o2"}));
  EXPECT_EQ(c.rows, 1);
}

TEST(ParseConfigTest, ReadsAFileByItsPathAndRejectsAMissingOne) {
  testsupport::TempDir dir("\xD7\xAA\xD7\x9E\xD7\x95\xD7\xA0\xD7\x95\xD7\xAA job");
  const std::string path = dir.File("grid_config_1.txt");
  ASSERT_TRUE(testsupport::WriteBytes(path, std::string(kLfJob)));
  GridConfig c;
  EXPECT_TRUE(ParseConfig(path, c));
  EXPECT_EQ(c.images.size(), 2u);
  GridConfig missing;
  EXPECT_FALSE(ParseConfig(dir.File("absent.txt"), missing));
}

}  // namespace
}  // namespace sheetsmith
