// What the host writes, the page composer reads back.
#include "job_file_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <optional>
#include <thread>
#include <utility>

#include "counting_slots.h"
#include "grid_arguments.h"
#include "grid_jobs.h"
#include "job_file/grid_config.h"

namespace runner::printing {
namespace {

GridRequest SampleRequest() {
  GridRequest r;
  r.imagePaths = {
      "C:\\Users\\dana\\\xD7\xAA\xD7\x9E\xD7\x95\xD7\xA0\xD7\x95\xD7\xAA "
      "\xD7\xA7\xD7\x99\xD7\xA5\\a b.jpg",
      "C:\\photos\\two.png", "C:\\photos\\three.jpg"};
  r.outputPaths = {"C:\\Users\\Public\\Korvela_Temp\\page 1.jpg"};
  r.framePaths = {"C:\\frames\\one.png", "", "C:\\frames\\three.png"};
  r.rows = 3;
  r.columns = 4;
  r.pageWidth = 2480;
  r.pageHeight = 3508;
  r.marginLeft = 10;
  r.marginRight = 11;
  r.marginTop = 12;
  r.marginBottom = 13;
  r.jpegQuality = 88;
  r.showCutGrid = true;
  r.cutGridWidthMm = 0.25;
  r.cutGridColor = "lightGray";
  r.magnetAspectRatio = 1.3333333;
  GridImageEffects zoomed;
  zoomed.scale = 1.5f;
  zoomed.offsetX = 12.345678f;
  zoomed.offsetY = -3.0f;
  zoomed.viewportWidth = 300.0f;
  zoomed.viewportHeight = 400.0f;
  zoomed.stroke = 0.5f;
  zoomed.strokeColor = 4278190335u;
  zoomed.strokeExternal = false;
  GridImageEffects neutralButViewport;
  neutralButViewport.viewportWidth = 10.0f;
  neutralButViewport.strokeScale = 3.0f;
  r.imageEffects = {neutralButViewport, zoomed};
  return r;
}

TEST(GridConfigWriterTest, WritesSettingsInOrderWithSixDigitNumbers) {
  const GridConfigText written = BuildGridConfig(SampleRequest());
  EXPECT_EQ(written.effectLines, 1u);
  const std::string expectedStart =
      "\xEF\xBB\xBF[settings]\nrows=3\ncols=4\npageWidth=2480\npageHeight=3508\nmarginLeft=10\n"
      "marginRight=11\nmarginTop=12\nmarginBottom=13\njpegQuality=88\nshowCutGrid=1\n"
      "cutGridWidthMm=0.25\ncutGridColor=lightGray\nmagnetAspectRatio=1.33333\n[images]\n";
  EXPECT_EQ(written.text.substr(0, expectedStart.size()), expectedStart);
  EXPECT_NE(
      written.text.find("[frames]\nC:\\frames\\one.png\n\nC:\\frames\\three.png\n[outputs]\n"),
      std::string::npos);
  EXPECT_NE(written.text.find("[effects]\n1,0.5,0,0.5,0.5,0,0,0,1.5,12.3457,-3,300,400,0.5,1,"
                              "4278190335,0\n"),
            std::string::npos);
  EXPECT_EQ(written.text.find('\r'), std::string::npos);
}

TEST(GridConfigWriterTest, NoAspectRatioLineAndNoEffectsSectionWhenThereIsNothingToSay) {
  GridRequest r = SampleRequest();
  r.magnetAspectRatio = -1;
  r.imageEffects.clear();
  const GridConfigText written = BuildGridConfig(r);
  EXPECT_EQ(written.text.find("magnetAspectRatio"), std::string::npos);
  EXPECT_EQ(written.text.find("[effects]"), std::string::npos);
  EXPECT_EQ(written.effectLines, 0u);
}

TEST(GridConfigWriterTest, TheComposersReaderReadsBackTheSameJob) {
  const GridRequest r = SampleRequest();
  sheetsmith::GridConfig c;
  ASSERT_TRUE(sheetsmith::ParseConfigText(BuildGridConfig(r).text, c));
  EXPECT_EQ(c.images, r.imagePaths);
  EXPECT_EQ(c.frames, r.framePaths);
  EXPECT_EQ(c.outputs, r.outputPaths);
  EXPECT_EQ(c.rows, r.rows);
  EXPECT_EQ(c.cols, r.columns);
  EXPECT_EQ(c.pageWidth, r.pageWidth);
  EXPECT_EQ(c.pageHeight, r.pageHeight);
  EXPECT_EQ(c.marginLeft, r.marginLeft);
  EXPECT_EQ(c.marginRight, r.marginRight);
  EXPECT_EQ(c.marginTop, r.marginTop);
  EXPECT_EQ(c.marginBottom, r.marginBottom);
  EXPECT_EQ(c.jpegQuality, r.jpegQuality);
  EXPECT_EQ(c.showCutGrid, r.showCutGrid);
  EXPECT_DOUBLE_EQ(c.cutGridWidthMm, 0.25);
  EXPECT_EQ(c.cutGridColor, r.cutGridColor);
  EXPECT_DOUBLE_EQ(c.magnetAspectRatio, 1.33333);  // six significant digits
  // The neutral record is left out and comes back as defaults.
  ASSERT_EQ(c.effects.size(), 2u);
  EXPECT_EQ(c.effects[0], sheetsmith::GridImageEffects{});
  const sheetsmith::GridImageEffects& e = c.effects[1];
  EXPECT_FLOAT_EQ(e.scale, 1.5f);
  EXPECT_FLOAT_EQ(e.offsetX, 12.3457f);
  EXPECT_FLOAT_EQ(e.offsetY, -3.0f);
  EXPECT_FLOAT_EQ(e.viewportWidth, 300.0f);
  EXPECT_FLOAT_EQ(e.stroke, 0.5f);
  EXPECT_EQ(e.strokeColor, 4278190335u);
  EXPECT_FALSE(e.strokeExternal);
  // The colour target comes across as it was stored; sRGB writes no key,
  // which the reader takes as sRGB.
  EXPECT_EQ(c.colorTarget, "srgb");
  EXPECT_EQ(BuildGridConfig(r).text.find("colorTarget"), std::string::npos);
  for (const char* selection :
       {"adobe_rgb", "no_conversion", "custom:C:\\Profiles\\my printer.icc", "Srgb"}) {
    GridRequest chosen = r;
    chosen.colorSelection = selection;
    sheetsmith::GridConfig read;
    ASSERT_TRUE(sheetsmith::ParseConfigText(BuildGridConfig(chosen).text, read));
    EXPECT_EQ(read.colorTarget, selection);
  }
}

// Every effects key of every grid method, each with its own value, comes out
// of the composer's reader in its own field: a key read into another field,
// or written in another column, fails here.
TEST(GridConfigWriterTest, EveryEffectsKeyOfEveryMethodReachesItsOwnField) {
  const std::pair<const char*, float sheetsmith::GridImageEffects::*> kNumbers[] = {
      {"brightness", &sheetsmith::GridImageEffects::brightness},
      {"contrast", &sheetsmith::GridImageEffects::contrast},
      {"saturation", &sheetsmith::GridImageEffects::saturation},
      {"exposure", &sheetsmith::GridImageEffects::exposure},
      {"grayscale", &sheetsmith::GridImageEffects::grayscale},
      {"temperature", &sheetsmith::GridImageEffects::temperature},
      {"sharpness", &sheetsmith::GridImageEffects::sharpness},
      {"scale", &sheetsmith::GridImageEffects::scale},
      {"offsetX", &sheetsmith::GridImageEffects::offsetX},
      {"offsetY", &sheetsmith::GridImageEffects::offsetY},
      {"viewportWidth", &sheetsmith::GridImageEffects::viewportWidth},
      {"viewportHeight", &sheetsmith::GridImageEffects::viewportHeight},
      {"stroke", &sheetsmith::GridImageEffects::stroke},
      {"strokeScale", &sheetsmith::GridImageEffects::strokeScale},
  };
  EncodableMap entry;
  for (std::size_t i = 0; i < std::size(kNumbers); ++i) {
    entry[EncodableValue(kNumbers[i].first)] = EncodableValue(0.125 * static_cast<double>(i + 3));
  }
  entry[EncodableValue("strokeColor")] = EncodableValue(4278255360.0);  // opaque green
  entry[EncodableValue("strokeExternal")] = EncodableValue(0.0);
  for (const GridMethod method : {GridMethod::kWaiting, GridMethod::kAsync}) {
    EncodableMap arguments{
        {EncodableValue("imagePaths"), EncodableValue(EncodableList{EncodableValue("C:\\a.jpg")})},
        {EncodableValue("outputPaths"),
         EncodableValue(EncodableList{EncodableValue("C:\\page.jpg")})},
        {EncodableValue("imageEffects"), EncodableValue(EncodableList{EncodableValue(entry)})}};
    for (const char* key : {"rows", "columns", "pageWidth", "pageHeight", "marginLeft",
                            "marginRight", "marginTop", "marginBottom"}) {
      arguments[EncodableValue(key)] = EncodableValue(std::int32_t{100});
    }
    const EncodableValue value(arguments);
    GridRequest request;
    ASSERT_FALSE(ParseGridRequest(&value, method, request));
    sheetsmith::GridConfig read;
    ASSERT_TRUE(sheetsmith::ParseConfigText(BuildGridConfig(request).text, read));
    ASSERT_EQ(read.effects.size(), 1u);
    for (std::size_t i = 0; i < std::size(kNumbers); ++i) {
      EXPECT_FLOAT_EQ(read.effects[0].*kNumbers[i].second, 0.125f * static_cast<float>(i + 3))
          << kNumbers[i].first;
    }
    EXPECT_EQ(read.effects[0].strokeColor, 4278255360u);
    EXPECT_FALSE(read.effects[0].strokeExternal);
  }
}

TEST(GridConfigWriterTest, RequestsTheFileCannotCarryAreNamed) {
  EXPECT_EQ(ReasonJobFileCannotCarry(SampleRequest()), std::nullopt);  // empty frame is fine
  struct Case {
    const char* name;
    std::function<void(GridRequest&)> spoil;
    const char* reason;
  };
  const Case cases[] = {
      {"empty output", [](GridRequest& r) { r.outputPaths[0] = ""; }, "an empty path (output 0)"},
      {"NUL in an output", [](GridRequest& r) { r.outputPaths[0] = std::string("C:\\p\0.jpg", 9); },
       "a path holding a NUL (output 0)"},
      {"line feed", [](GridRequest& r) { r.imagePaths[2] = "C:\\a\nb.jpg"; },
       "a path with a line break (image 2)"},
      {"carriage return at the end", [](GridRequest& r) { r.outputPaths[0] = "C:\\p.jpg\r"; },
       "a path with a line break (output 0)"},
      {"leading space", [](GridRequest& r) { r.imagePaths[0] = " C:\\a.jpg"; },
       "a path starting with a blank (image 0)"},
      {"leading tab in a frame", [](GridRequest& r) { r.framePaths[2] = "\tC:\\f.png"; },
       "a path starting with a blank (frame 2)"},
      {"comment", [](GridRequest& r) { r.imagePaths[0] = "#1.jpg"; },
       "a path starting with \"#\" (image 0)"},
      {"section", [](GridRequest& r) { r.framePaths[0] = "[outputs]"; },
       "a path starting with \"[\" (frame 0)"},
      {"colour", [](GridRequest& r) { r.cutGridColor = "black\nrows=9"; },
       "a cut-line colour with a line break"},
      {"profile path", [](GridRequest& r) { r.colorSelection = "custom:C:\\p.icc\nrows=9"; },
       "a colour profile path it cannot hold"},
  };
  for (const Case& c : cases) {
    GridRequest r = SampleRequest();
    c.spoil(r);
    EXPECT_EQ(ReasonJobFileCannotCarry(r), std::optional<std::string>(c.reason)) << c.name;
  }
}

// An empty image path, or one holding a NUL, is a photo that cannot be read:
// the file keeps its place as an empty line, the others keep theirs, and a
// file without such a path is written as it always was.
TEST(GridConfigWriterTest, ImagesThatNameNoFileKeepTheirPlace) {
  const std::string withNul("C:\\run.exe\0.jpg", 15);
  GridRequest r = SampleRequest();
  EXPECT_EQ(BuildGridConfig(r).text.find("keepEmptyImageLines"), std::string::npos);
  r.imagePaths[0] = withNul;
  r.imagePaths[1] = "";
  r.framePaths[0] = withNul;
  EXPECT_EQ(ReasonJobFileCannotCarry(r), std::nullopt);
  const std::string text = BuildGridConfig(r).text;
  EXPECT_EQ(text.find('\0'), std::string::npos);
  sheetsmith::GridConfig read;
  sheetsmith::ParseConfigText(text, read);
  EXPECT_EQ(read.images, (std::vector<std::string>{"", "", SampleRequest().imagePaths[2]}));
  ASSERT_FALSE(read.frames.empty());
  EXPECT_EQ(read.frames[0], "");
}

TEST(GridConfigWriterTest, TheComposerIsLookedForOnlyBesideAKnownProgram) {
  EXPECT_EQ(ComposerPathBeside(L"C:\\Program Files\\Korvela\\Korvela.exe"),
            L"C:\\Program Files\\Korvela\\sheetsmith.exe");
  EXPECT_EQ(ComposerPathBeside(L"Z:/tmp/Korvela.exe"), L"Z:/tmp/sheetsmith.exe");
  EXPECT_EQ(ComposerPathBeside(L""), L"");  // the program's own path could not be read
  EXPECT_EQ(ComposerPathBeside(L"Korvela.exe"), L"");
}

TEST(CountingSlotsTest, AThirdComposerWaitsForOneOfTwoToEnd) {
  CountingSlots slots(kMaxConcurrentComposers);
  std::atomic<bool> thirdRan{false};
  std::thread third;
  {
    const CountingSlots::Held first(slots);
    const CountingSlots::Held second(slots);
    third = std::thread([&] {
      const CountingSlots::Held waiting(slots);
      thirdRan = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(thirdRan.load());
  }
  third.join();
  EXPECT_TRUE(thirdRan.load());
}

TEST(GridConfigWriterTest, WatchdogOverrideOnlyShortensTheWait) {
  EXPECT_EQ(ComposerWatchdogMs(nullptr), 60000);
  EXPECT_EQ(ComposerWatchdogMs(""), 60000);
  EXPECT_EQ(ComposerWatchdogMs("3000"), 3000);
  EXPECT_EQ(ComposerWatchdogMs("0"), 60000);
  EXPECT_EQ(ComposerWatchdogMs("-5"), 60000);
  EXPECT_EQ(ComposerWatchdogMs("90000"), 60000);
  EXPECT_EQ(ComposerWatchdogMs("12s"), 60000);
}

TEST(GridConfigWriterTest, NeutralityIgnoresViewportAndStrokeStyle) {
  GridImageEffects e;
  e.viewportWidth = 100;
  e.viewportHeight = 100;
  e.strokeScale = 2;
  e.strokeColor = 0;
  e.strokeExternal = false;
  e.stroke = -1;
  EXPECT_TRUE(IsNeutralForJobFile(e));
  e.stroke = 0.01f;
  EXPECT_FALSE(IsNeutralForJobFile(e));
}

}  // namespace
}  // namespace runner::printing
