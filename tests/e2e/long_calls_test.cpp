// Calls whose work takes long leave the platform thread free: sent without
// waiting, each is overtaken by a quick call sent after it, answers on the
// platform thread, and answers what it answers when nothing overtakes it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "host_driver.h"
#include "test_photos.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;

namespace fs = std::filesystem;

EncodableValue List(const std::vector<std::string>& paths) {
  EncodableList list;
  for (const std::string& path : paths) list.push_back(S(WindowsPath(path)));
  return EncodableValue(list);
}

EncodableValue GridRequest(const std::vector<std::string>& photos, const std::string& page) {
  EncodableMap map{{S("imagePaths"), List(photos)}, {S("outputPaths"), List({page})}};
  for (const auto& [key, value] : {std::pair{"rows", 2},
                                   {"columns", 2},
                                   {"pageWidth", 1200},
                                   {"pageHeight", 1600},
                                   {"marginLeft", 10},
                                   {"marginRight", 10},
                                   {"marginTop", 12},
                                   {"marginBottom", 12}}) {
    map[S(key)] = EncodableValue(value);
  }
  map[S("showCutGrid")] = EncodableValue(true);
  return EncodableValue(map);
}

// A bake answer without the baked files' paths (their folder and names
// carry the time and a counter), and those paths as this machine sees them.
EncodableValue WithoutPaths(EncodableValue answer, std::vector<std::string>* files) {
  for (EncodableValue& entry : answer.Get<EncodableMap>().at(S("results")).Get<EncodableList>()) {
    auto& map = entry.Get<EncodableMap>();
    const auto path = map.find(S("bakedPath"));
    if (path == map.end()) continue;
    files->push_back(UnixPathOfDriveC(path->second.Get<std::string>()));
    map.erase(path);
  }
  return answer;
}

TEST(LongCallsTest, AQuickCallIsAnsweredWhileEachLongCallWorks) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  if (!std::getenv("KORVELA_PRINT_PDF_DIR")) GTEST_SKIP() << "no print bench";
  testsupport::TempDir dir("korvela long calls");
  std::vector<std::string> photos;
  for (int i = 0; i < 6; ++i) {
    photos.push_back(dir.File("photo " + std::to_string(i) + ".jpg"));
    ASSERT_TRUE(testsupport::WriteJpeg(photos.back(), testsupport::Gradient(1600, 1200, i), 90));
  }
  EncodableList bakes;
  for (const std::string& photo : photos) {
    bakes.push_back(EncodableValue(EncodableMap{{S("sourcePath"), S(WindowsPath(photo))},
                                                {S("canvasWidth"), EncodableValue(600)},
                                                {S("canvasHeight"), EncodableValue(800)}}));
  }
  const EncodableValue oneJpeg = List({photos[0]});
  // Each long call twice: sent without waiting, then called again alone.
  // The grid calls write their pages to other files the second time.
  struct LongCall {
    const char* method;
    EncodableValue first;
    EncodableValue second;
  };
  const auto same = [](const EncodableValue& value) { return std::pair{value, value}; };
  const auto pages = [&](const char* name) {
    return std::pair{GridRequest(photos, dir.File(std::string(name) + " 1.jpg")),
                     GridRequest(photos, dir.File(std::string(name) + " 2.jpg"))};
  };
  std::vector<LongCall> calls;
  const auto add = [&calls](const char* method, std::pair<EncodableValue, EncodableValue> twice) {
    calls.push_back({method, twice.first, twice.second});
  };
  add("bakeImagesForPrinting", same(EncodableValue(EncodableMap{{S("requests"), bakes}})));
  add("createGridImages", pages("waiting"));
  add("createGridImagesFast", pages("fast"));
  add("printWithLayoutWindows", same(EncodableValue(EncodableMap{{S("imagePaths"), oneJpeg}})));
  add("printImagesToPrinter", same(EncodableValue(EncodableMap{{S("imagePaths"), oneJpeg}})));
  add("printToPrinterWindows",
      same(EncodableValue(
          EncodableMap{{S("imagePaths"), oneJpeg}, {S("printerName"), S("KorvelaPDF")}})));
  add("printImagesWindows", same(oneJpeg));

  HostScript script;
  for (const LongCall& call : calls) script.Send("printing_channel", call.method, call.first);
  script.Call("printing_channel", "getColorProfiles").WaitAnswers();
  for (const LongCall& call : calls) script.Call("printing_channel", call.method, call.second);
  const HostRun run = RunHost(script);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.Find("answer-off-platform-thread"), -1) << "every answer on the platform thread";
  EXPECT_EQ(run.Find("timeout"), -1);

  const int quick = static_cast<int>(calls.size()) + 1;
  ASSERT_FALSE(run.answers.empty());
  EXPECT_EQ(run.answers.front().step, quick) << "the quick call came after a long one";
  ASSERT_TRUE(run.AnswerTo(quick) && run.AnswerTo(quick)->SuccessValue());
  for (int i = 0; i < static_cast<int>(calls.size()); ++i) {
    const Answer* overtaken = run.AnswerTo(i + 1);
    const Answer* alone = run.AnswerTo(quick + 1 + i);
    ASSERT_TRUE(overtaken && alone) << calls[i].method;
    if (std::string(calls[i].method) == "bakeImagesForPrinting") {
      std::vector<std::string> first;
      std::vector<std::string> second;
      ASSERT_TRUE(overtaken->SuccessValue()) << overtaken->Error();
      EXPECT_EQ(WithoutPaths(*overtaken->SuccessValue(), &first),
                WithoutPaths(*alone->SuccessValue(), &second));
      ASSERT_EQ(first.size(), photos.size());
      for (std::size_t k = 0; k < first.size(); ++k) {
        EXPECT_TRUE(testsupport::ReadBytes(first[k]) == testsupport::ReadBytes(second[k])) << first[k];
      }
    } else {
      EXPECT_EQ(overtaken->bytes, alone->bytes) << calls[i].method << ": " << overtaken->Error();
    }
  }
  for (const char* name : {"waiting", "fast"}) {
    const std::string first = dir.File(std::string(name) + " 1.jpg");
    EXPECT_TRUE(fs::exists(first)) << name;
    EXPECT_TRUE(testsupport::ReadBytes(first) == testsupport::ReadBytes(dir.File(std::string(name) + " 2.jpg"))) << name;
  }
  EXPECT_TRUE(WaitForPrintJobs());
}

// The window closes while long calls work: the host waits for them a while,
// their answers go nowhere (the engine is gone), and one that is still at
// work after that is abandoned, not waited for; the process ends cleanly
// either way.
TEST(LongCallsTest, CallsStillAtWorkWhenTheWindowClosesEndCleanly) {
  if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  testsupport::TempDir dir("korvela closing");
  std::vector<std::string> photos;
  EncodableList bakes;
  for (int i = 0; i < 4; ++i) {
    photos.push_back(dir.File("photo " + std::to_string(i) + ".jpg"));
    ASSERT_TRUE(testsupport::WriteJpeg(photos.back(), testsupport::Gradient(1600, 1200, i), 90));
    bakes.push_back(EncodableValue(EncodableMap{{S("sourcePath"), S(WindowsPath(photos.back()))},
                                                {S("canvasWidth"), EncodableValue(600)},
                                                {S("canvasHeight"), EncodableValue(800)}}));
  }
  const auto bake = EncodableValue(EncodableMap{{S("requests"), bakes}});
  // The composer never ends: a waiting request holds its worker until the
  // watchdog stops the composer, 2 s after the window has gone, and the
  // request has failed.
  HostOptions options;
  options.copyAs = {{"composer_that_hangs.exe", "sheetsmith.exe"}};
  options.timeoutSeconds = 60;
  {
    const ScopedEnvironment watchdog{{"KORVELA_COMPOSER_WATCHDOG_MS", "2000"}};
    const HostRun run = RunHost(HostScript()
                                    .Send("printing_channel", "bakeImagesForPrinting", bake)
                                    .Send("printing_channel", "createGridImages",
                                          GridRequest(photos, dir.File("page.jpg"))),
                                options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err,
                ::testing::ContainsRegex("INFO: Waiting for [12] call\\(s\\) still at work"));
    EXPECT_THAT(run.err, ::testing::Not(::testing::HasSubstr("Abandoning")));
    EXPECT_THAT(run.err, ::testing::HasSubstr("INFO: Parallel baking completed: 4 succeeded"));
    EXPECT_THAT(run.err, ::testing::HasSubstr("ERROR: Page composer stopped responding\n"));
    EXPECT_THAT(run.err, ::testing::Not(::testing::HasSubstr("This is a memory leak")));
    EXPECT_TRUE(run.answers.empty());
  }
  {
    // With the watchdog's minute, past the host's wait: abandoned.
    const HostRun run = RunHost(HostScript().Send("printing_channel", "createGridImages",
                                                  GridRequest(photos, dir.File("page.jpg"))),
                                options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, ::testing::HasSubstr("INFO: Abandoning 1 call(s) still at work"));
    EXPECT_TRUE(run.answers.empty());
  }
}

}  // namespace
}  // namespace e2e
