// Grid requests from the interface's side, through Korvela.exe under Wine:
// the page composer beside the host, and the host's own composer when it is
// missing or fails.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <thread>

#include "host_driver.h"
#include "imaging/reading/photo_reader.h"
#include "job_file_writer.h"
#include "test_photos.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;
using sheetsmith::RgbaImage;
using ::testing::HasSubstr;

namespace fs = std::filesystem;

// Wide enough that decoding one photo takes a good part of a second here.
constexpr int kSlowPhotoWidth = 6000;

bool Running(const EncodableValue& status) {
  return status.Get<EncodableMap>().at(S("completed")) == EncodableValue(false);
}

bool Exists(const std::string& path) { return fs::exists(testsupport::PathFromUtf8(path)); }

// The job files in the host's temporary folder (some left by hosts that
// other tests end while their composer hangs).
std::set<std::string> JobFiles() {
  std::set<std::string> names;
  const fs::path temp = testsupport::PathFromUtf8(HostTempFolder());
  if (!fs::exists(temp)) return names;
  for (const auto& entry : fs::directory_iterator(temp)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("grid_config_", 0) == 0) names.insert(name);
  }
  return names;
}

class GridJobsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  }

  // Photos of several shapes in a folder named with Hebrew letters and spaces.
  std::vector<std::string> MakePhotos(const std::string& prefix, int count) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
      const std::string path = dir.File(prefix + " " + std::to_string(i) + ".jpg");
      const int w = i % 2 ? 600 : 800;
      const int h = i % 2 ? 800 : 600;
      EXPECT_TRUE(
          testsupport::WriteJpeg(path, testsupport::Gradient(w, h, i + 1), 92, i == 2 ? 6 : 0));
      paths.push_back(path);
    }
    return paths;
  }

  // The request map the interface sends; paths as Wine's programs see them
  // (one that is a Windows path already, "\\.\pipe\...", as it is).
  static EncodableMap Arguments(const runner::printing::GridRequest& r) {
    auto list = [](const std::vector<std::string>& paths) {
      EncodableList values;
      for (const std::string& path : paths) {
        const bool windows = path.rfind("\\\\", 0) == 0;
        values.push_back(S(path.empty() || windows ? path : WindowsPath(path)));
      }
      return EncodableValue(values);
    };
    EncodableList effects;
    for (const auto& e : r.imageEffects) {
      effects.push_back(EncodableValue(EncodableMap{
          {S("brightness"), EncodableValue(static_cast<double>(e.brightness))},
          {S("contrast"), EncodableValue(static_cast<double>(e.contrast))},
          {S("scale"), EncodableValue(static_cast<double>(e.scale))},
          {S("offsetX"), EncodableValue(static_cast<double>(e.offsetX))},
          {S("viewportWidth"), EncodableValue(static_cast<double>(e.viewportWidth))},
          {S("viewportHeight"), EncodableValue(static_cast<double>(e.viewportHeight))},
          {S("stroke"), EncodableValue(static_cast<double>(e.stroke))},
          {S("strokeColor"), EncodableValue(static_cast<double>(e.strokeColor))},
          {S("strokeExternal"), EncodableValue(e.strokeExternal ? 1.0 : 0.0)},
      }));
    }
    return EncodableMap{
        {S("imagePaths"), list(r.imagePaths)},
        {S("outputPaths"), list(r.outputPaths)},
        {S("framePaths"), list(r.framePaths)},
        {S("rows"), EncodableValue(r.rows)},
        {S("columns"), EncodableValue(r.columns)},
        {S("pageWidth"), EncodableValue(r.pageWidth)},
        {S("pageHeight"), EncodableValue(r.pageHeight)},
        {S("marginLeft"), EncodableValue(r.marginLeft)},
        {S("marginRight"), EncodableValue(r.marginRight)},
        {S("marginTop"), EncodableValue(r.marginTop)},
        {S("marginBottom"), EncodableValue(r.marginBottom)},
        {S("jpegQuality"), EncodableValue(r.jpegQuality)},
        {S("showCutGrid"), EncodableValue(r.showCutGrid)},
        {S("cutGridWidthMm"), EncodableValue(r.cutGridWidthMm)},
        {S("cutGridColor"), S(r.cutGridColor)},
        {S("imageEffects"), EncodableValue(effects)},
        {S("magnetAspectRatio"), EncodableValue(r.magnetAspectRatio)},
    };
  }

  runner::printing::GridRequest Request(const std::string& prefix, int photos, int pages) {
    runner::printing::GridRequest r;
    r.imagePaths = MakePhotos(prefix, photos);
    for (int p = 0; p < pages; ++p) {
      r.outputPaths.push_back(
          dir.File(prefix + " \xD7\xA2\xD7\x9E\xD7\x95\xD7\x93 " + std::to_string(p + 1) + ".jpg"));
    }
    r.rows = 2;
    r.columns = 2;
    r.pageWidth = 600;
    r.pageHeight = 800;
    r.marginLeft = r.marginRight = 10;
    r.marginTop = r.marginBottom = 12;
    r.jpegQuality = 90;
    r.showCutGrid = true;
    r.cutGridColor = "black";
    return r;
  }

  // The same job composed by the native page composer alone, into `suffix`
  // copies of the outputs.
  std::vector<std::string> ComposeNatively(runner::printing::GridRequest r,
                                           const std::string& suffix) {
    for (std::string& output : r.outputPaths) output += suffix;
    const std::string job = dir.File("native job " + suffix + ".txt");
    EXPECT_TRUE(testsupport::WriteBytes(job, runner::printing::BuildGridConfig(r).text));
    const char* bin = std::getenv("KORVELA_NATIVE_BIN");
    EXPECT_NE(bin, nullptr);
    const std::string command =
        "\"" + std::string(bin ? bin : "") + "/sheetsmith\" \"" + job + "\" > /dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return r.outputPaths;
  }

  testsupport::TempDir dir{
      "\xD7\xAA\xD7\x9E\xD7\x95\xD7\xA0\xD7\x95\xD7\xAA \xD7\xA7\xD7\x99\xD7\xA5"};
};

TEST_F(GridJobsTest, TwoBackgroundJobsComposeWithTheComposerAndArePolledToTheEnd) {
  runner::printing::GridRequest first = Request("first", 5, 2);
  first.framePaths = {"", dir.File("frame.png")};
  ASSERT_TRUE(testsupport::WritePng(first.framePaths[1],
                                    testsupport::Solid(300, 400, {250, 250, 240}, 255)));
  runner::printing::GridImageEffects zoomed;
  zoomed.scale = 1.4f;
  zoomed.offsetX = 10;
  zoomed.viewportWidth = 300;
  zoomed.viewportHeight = 400;
  zoomed.stroke = 0.2f;
  zoomed.strokeColor = 0xFF2040A0u;
  first.imageEffects = {runner::printing::GridImageEffects{}, zoomed};
  first.magnetAspectRatio = 0.75;
  runner::printing::GridRequest second = Request("second", 3, 1);

  const EncodableValue firstId(std::int32_t{1});
  const EncodableValue secondId(std::int32_t{2});
  const std::set<std::string> jobFilesBefore = JobFiles();
  HostOptions options;
  options.folderName = "Korvela \xD7\xAA\xD7\x95\xD7\x9B\xD7\xA0\xD7\x94";
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(first)))
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(second)))
          .PollGridJob(1)
          .PollGridJob(2)
          .Call("printing_channel", "checkGridJobStatus", firstId),
      options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_GE(run.answers.size(), 5u) << run.err;
  EXPECT_EQ(run.answers[0].SuccessValue(), firstId);
  EXPECT_EQ(run.answers[1].SuccessValue(), secondId);

  // The last answer of each poll is the finished job; the one after it is gone.
  std::vector<EncodableMap> finished;
  for (std::size_t i = 2; i + 1 < run.answers.size(); ++i) {
    const auto value = run.answers[i].SuccessValue();
    ASSERT_TRUE(value) << i;
    if (!Running(*value)) finished.push_back(value->Get<EncodableMap>());
  }
  ASSERT_EQ(finished.size(), 2u);
  for (const EncodableMap& status : finished) {
    EXPECT_EQ(status.at(S("completed")), EncodableValue(true));
    EXPECT_EQ(status.at(S("success")), EncodableValue(true));
    EXPECT_EQ(status.at(S("errorMessage")), S(""));
    EXPECT_GT(status.at(S("totalTimeMs")).Get<std::int32_t>(), 0);
  }
  EXPECT_EQ(run.answers.back().Error(), "JOB_NOT_FOUND: Job ID not found: 1");

  // The pages are those the page composer writes for the same jobs.
  EXPECT_EQ(run.Find("timeout"), -1);
  EXPECT_THAT(run.err, HasSubstr("DEBUG C++: sheetsmith completed in "));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("GridComposer")));
  for (const auto* request : {&first, &second}) {
    const std::vector<std::string> native = ComposeNatively(*request, ".native");
    for (std::size_t p = 0; p < request->outputPaths.size(); ++p) {
      ASSERT_TRUE(Exists(request->outputPaths[p])) << request->outputPaths[p];
      EXPECT_TRUE(testsupport::ReadBytes(request->outputPaths[p]) ==
                  testsupport::ReadBytes(native[p]))
          << request->outputPaths[p] << " differs from the native page";
    }
  }
  // Every job file of this run was deleted when its composer ended.
  for (const std::string& name : JobFiles()) {
    EXPECT_TRUE(jobFilesBefore.count(name)) << name;
  }
}

// Requests for the same pages, background and waiting, sent one after the
// other while the first still composes: each answers success, the pages
// are the last request's, byte for byte what the composer makes of it alone;
// and a job for other pages, sent last, is done while the first still runs.
TEST_F(GridJobsTest, RequestsForTheSamePagesComposeInTurnAndTheLastOnesPagesStand) {
  // The first request is slow: its photos are large PNGs.
  runner::printing::GridRequest first = Request("first", 0, 2);
  const std::string slow = dir.File("slow.png");
  ASSERT_TRUE(testsupport::WritePng(slow, testsupport::Gradient(kSlowPhotoWidth, 4000, 5)));
  first.imagePaths.assign(6, slow);
  runner::printing::GridRequest second = Request("second", 6, 2);
  second.outputPaths = first.outputPaths;
  runner::printing::GridRequest waiting = Request("waiting", 5, 2);
  waiting.outputPaths = first.outputPaths;
  const runner::printing::GridRequest elsewhere = Request("elsewhere", 2, 1);
  const EncodableValue firstId(std::int32_t{1});
  const HostRun run = RunHost(
      HostScript()
          .Send("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(first)))
          .Send("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(second)))
          .Send("printing_channel", "createGridImages", EncodableValue(Arguments(waiting)))
          .Call("printing_channel", "createGridImagesFastAsync",
                EncodableValue(Arguments(elsewhere)))
          .PollGridJob(3)
          .Call("printing_channel", "checkGridJobStatus", firstId)
          .PollGridJob(1)
          .PollGridJob(2)
          .WaitAnswers());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_TRUE(run.AnswerTo(1) && run.AnswerTo(2) && run.AnswerTo(3) && run.AnswerTo(4)) << run.err;
  EXPECT_EQ(run.AnswerTo(1)->SuccessValue(), firstId);
  EXPECT_EQ(run.AnswerTo(2)->SuccessValue(), EncodableValue(std::int32_t{2}));
  EXPECT_EQ(run.AnswerTo(3)->SuccessValue(), EncodableValue(true)) << run.AnswerTo(3)->Error();
  EXPECT_EQ(run.AnswerTo(4)->SuccessValue(), EncodableValue(std::int32_t{3}));
  // The polls' answers, in the order they were sent: job 3 to its end, job 1
  // once, then jobs 1 and 2 to their ends.
  std::vector<EncodableMap> polls;
  std::vector<const Answer*> ordered;
  for (const Answer& answer : run.answers) {
    if (answer.step >= 5) ordered.push_back(&answer);
  }
  std::sort(ordered.begin(), ordered.end(),
            [](const Answer* a, const Answer* b) { return a->step < b->step; });
  for (const Answer* answer : ordered) {
    const std::optional<EncodableValue> value = answer->SuccessValue();
    ASSERT_TRUE(value) << answer->Error();
    polls.push_back(value->Get<EncodableMap>());
  }
  std::vector<EncodableMap> ends;  // each job's finished answer, and job 1's single poll
  for (std::size_t i = 0; i < polls.size(); ++i) {
    if (polls[i].at(S("completed")) == EncodableValue(true) || ends.size() == 1) {
      ends.push_back(polls[i]);
    }
  }
  ASSERT_EQ(ends.size(), 4u) << run.err;
  // The job for other pages finished while the first was still composing.
  EXPECT_EQ(ends[1].at(S("completed")), EncodableValue(false)) << "the job for other pages waited";
  // Every job ends in success: its pages were made by it.
  for (const std::size_t end : {0u, 2u, 3u}) {
    EXPECT_EQ(ends[end].at(S("success")), EncodableValue(true)) << end;
  }
  // The waiting request came last for these pages: they are its own.
  const std::vector<std::string> native = ComposeNatively(waiting, ".native");
  for (std::size_t p = 0; p < waiting.outputPaths.size(); ++p) {
    EXPECT_TRUE(testsupport::ReadBytes(waiting.outputPaths[p]) == testsupport::ReadBytes(native[p]))
        << waiting.outputPaths[p] << " is not the last request's page";
  }
  EXPECT_TRUE(testsupport::ReadBytes(elsewhere.outputPaths[0]) ==
              testsupport::ReadBytes(ComposeNatively(elsewhere, ".native")[0]));
  // No partial file stays beside the pages.
  for (const auto& entry : fs::directory_iterator(testsupport::PathFromUtf8(dir.Path()))) {
    EXPECT_NE(entry.path().extension(), ".partial") << entry.path();
  }
}

// The fallback's page of the 600 x 700 cell example: a 4000 x 3000 photo,
// turned, lands 37 pixels from the cell's left edge.
// A path whose bytes never arrive (\\.\pipe\NAME, served by the stand-in
// file_that_never_arrives.exe and never written) while it lives.
struct NeverArrives {
  explicit NeverArrives(const std::string& prefix)
      : name(prefix + std::to_string(getpid())),
        path("\\\\.\\pipe\\" + name),
        program({std::string(std::getenv("KORVELA_WINDOWS_BIN")) + "/file_that_never_arrives.exe",
                 name}) {}
  std::string name;
  std::string path;
  BackgroundWineProgram program;
};

runner::printing::GridRequest FallbackExample(testsupport::TempDir& dir) {
  runner::printing::GridRequest r;
  const std::string photo = dir.File("wide red.jpg");
  EXPECT_TRUE(testsupport::WriteJpeg(photo, testsupport::Solid(4000, 3000, {220, 20, 20}), 95));
  r.imagePaths = {photo};
  r.outputPaths = {dir.File("fallback page.jpg")};
  r.rows = 4;
  r.columns = 3;
  r.pageWidth = 2000;
  r.pageHeight = 3000;
  r.marginLeft = r.marginRight = r.marginTop = r.marginBottom = 100;
  return r;
}

void ExpectFallbackPage(const std::string& path) {
  const auto page = sheetsmith::LoadRgba(path);
  ASSERT_TRUE(page) << path;
  ASSERT_EQ(page->width, 2000);
  ASSERT_EQ(page->height, 3000);
  auto red = [&](int x, int y) { return page->At(x, y)[0] > 150 && page->At(x, y)[1] < 100; };
  auto white = [&](int x, int y) { return page->At(x, y)[0] > 230 && page->At(x, y)[1] > 230; };
  const int y = 100 + 350;
  EXPECT_TRUE(white(100 + 34, y));
  EXPECT_TRUE(red(100 + 40, y));
  EXPECT_TRUE(red(100 + 37 + 525 - 4, y));
  EXPECT_TRUE(white(100 + 37 + 525 + 3, y));
  EXPECT_TRUE(white(100 + 600 + 300, y));  // the second cell is empty
}

TEST_F(GridJobsTest, WithoutTheComposerTheHostComposesThePagesItself) {
  const runner::printing::GridRequest r = FallbackExample(dir);
  HostOptions options;
  options.leaveOut = {"sheetsmith.exe"};
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImages", EncodableValue(Arguments(r))),
      options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 1u);
  EXPECT_EQ(run.answers[0].SuccessValue(), EncodableValue(true)) << run.err;
  EXPECT_THAT(run.err, HasSubstr("DEBUG C++: sheetsmith.exe not found, using fallback\n"
                                 "DEBUG C++: GridComposer - 1 images, 4x3 grid, page 2000x3000, "
                                 "cell 600x700, cellPortrait=1, cellLandscape=0\n"));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("Config file created")));
  ExpectFallbackPage(r.outputPaths[0]);
}

// The host's own composer bounds its reads as the watchdog bounds the
// composer's: a photo whose bytes never arrive is a white magnet on a page
// made all the same, and is named among the unreadable photos.
TEST_F(GridJobsTest, WithoutTheComposerAPhotoThatNeverArrivesIsLeftWhite) {
  const ScopedEnvironment watchdog{{"KORVELA_COMPOSER_WATCHDOG_MS", "2000"}};
  NeverArrives share("korvela-never-own-");
  ASSERT_TRUE(share.program.WaitForLine("ready"));
  const std::string& never = share.path;
  runner::printing::GridRequest r = FallbackExample(dir);
  r.imagePaths.push_back(never);
  HostOptions options;
  options.leaveOut = {"sheetsmith.exe"};
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(r)))
          .PollGridJob(1),
      options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto status = run.answers.back().SuccessValue();
  ASSERT_TRUE(status) << run.err;
  const EncodableMap& job = status->Get<EncodableMap>();
  EXPECT_EQ(job.at(S("success")), EncodableValue(true)) << run.err;
  EXPECT_EQ(job.at(S("unreadablePhotos")), EncodableValue(EncodableList{EncodableValue(1)}));
  EXPECT_THAT(run.err, HasSubstr("ERROR: Photo 1 could not be read (nothing arrived from it for "
                                 "2 s): " +
                                 never + "\n"));
  ExpectFallbackPage(r.outputPaths[0]);  // the second cell is white
}

TEST_F(GridJobsTest, AFolderNamedLikeTheComposerFailsToStartAndFallsBack) {
  const runner::printing::GridRequest r = FallbackExample(dir);
  HostOptions options;
  options.leaveOut = {"sheetsmith.exe"};
  options.makeFolders = {"sheetsmith.exe"};
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImagesFast", EncodableValue(Arguments(r))),
      options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.answers[0].SuccessValue(), EncodableValue(true)) << run.err;
  EXPECT_THAT(run.err, HasSubstr("DEBUG C++: Running sheetsmith.exe...\n"
                                 "DEBUG C++: Failed to start sheetsmith.exe, using fallback\n"
                                 "DEBUG C++: GridComposer - "));
  ExpectFallbackPage(r.outputPaths[0]);
}

TEST_F(GridJobsTest, AJobTheComposerRejectsIsComposedByTheFallback) {
  runner::printing::GridRequest r = FallbackExample(dir);
  r.magnetAspectRatio = 1e-9;  // magnets of no width: the composer refuses the job
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(r)))
          .PollGridJob(1));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto status = run.answers.back().SuccessValue();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->Get<EncodableMap>().at(S("success")), EncodableValue(true));
  const std::vector<std::string> lines = run.ErrLines();
  auto at = [&lines](const std::string& prefix) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    }
    return -1;
  };
  const int running = at("DEBUG C++: Running sheetsmith.exe...");
  const int started = at("Sheetsmith: Starting (stb version)...");
  const int rejected = at("Sheetsmith: Invalid grid: ");
  const int failed = at("DEBUG C++: sheetsmith failed (exit=1), using fallback");
  const int fallback = at("DEBUG C++: GridComposer - ");
  ASSERT_GE(running, 0) << run.err;
  EXPECT_LT(running, started);
  EXPECT_LT(started, rejected);
  EXPECT_LT(rejected, failed);
  EXPECT_LT(failed, fallback);
  ExpectFallbackPage(r.outputPaths[0]);
}

TEST_F(GridJobsTest, TheFallbackReportsAPageItCannotWrite) {
  runner::printing::GridRequest r = FallbackExample(dir);
  r.outputPaths = {dir.File("no such folder/page.jpg")};
  HostOptions options;
  options.leaveOut = {"sheetsmith.exe"};
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImages", EncodableValue(Arguments(r))),
      options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.answers.at(0).Error(), "GRID_ERROR: Failed to write page 1");
  EXPECT_THAT(run.err, HasSubstr("ERROR: Failed to write page 1, GDI+ status="));
}

TEST_F(GridJobsTest, AJobFileThatCannotBeWrittenFailsTheRequest) {
  // The host's temporary folder cannot be made: a file stands in its place.
  const fs::path temp = testsupport::PathFromUtf8(HostTempFolder());
  const fs::path saved = temp.string() + ".saved";
  if (fs::exists(temp)) fs::rename(temp, saved);
  std::ofstream(temp) << "in the way";
  const runner::printing::GridRequest r = FallbackExample(dir);
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImagesFast", EncodableValue(Arguments(r))));
  fs::remove(temp);
  if (fs::exists(saved)) fs::rename(saved, temp);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.answers.at(0).Error(), "GRID_ERROR: Failed to create config file") << run.err;
  EXPECT_THAT(run.err, HasSubstr("ERROR: Failed to create config file\n"));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("GridComposer")));
  EXPECT_FALSE(Exists(r.outputPaths[0])) << "the host's own composer made the page";
}

TEST_F(GridJobsTest, FailuresAndArgumentErrorsAreAnswered) {
  runner::printing::GridRequest r = FallbackExample(dir);
  r.rows = 0;
  EncodableMap missingColumns = Arguments(r);
  missingColumns.erase(S("columns"));
  const HostRun run =
      RunHost(HostScript()
                  .Call("printing_channel", "createGridImages", EncodableValue(Arguments(r)))
                  .Call("printing_channel", "createGridImagesFast", EncodableValue(missingColumns))
                  .Call("printing_channel", "checkGridJobStatus", S("1")));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 3u);
  EXPECT_EQ(run.answers[0].Error(),
            "GRID_ERROR: Invalid grid: rows and columns must be at least 1");
  EXPECT_EQ(run.answers[1].Error(),
            "INVALID_ARGUMENTS: Missing or invalid integer parameter: columns");
  EXPECT_EQ(run.answers[2].Error(), "INVALID_ARGUMENTS: Expected job ID as integer");
}

// Processes of this machine whose command line mentions `text`.
int ProcessesMentioning(const std::string& text) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string cmdline = testsupport::ReadBytes((entry.path() / "cmdline").string());
    if (cmdline.find(text) != std::string::npos) ++count;
  }
  return count;
}

// A composer that does nothing (here: says one line and never another) is
// stopped once the limit passes with no photo placed and no page saved; the
// request fails, and the host's own composer, which might wait on the same
// thing, is not run.
TEST_F(GridJobsTest, AComposerThatHangsIsStoppedAndItsRequestFails) {
  // The watchdog waits 3 s here instead of a minute.
  const ScopedEnvironment watchdog{{"KORVELA_COMPOSER_WATCHDOG_MS", "3000"}};
  runner::printing::GridRequest waiting = FallbackExample(dir);
  runner::printing::GridRequest background = FallbackExample(dir);
  background.outputPaths = {dir.File("background page.jpg")};
  HostOptions options;
  options.copyAs = {{"composer_that_hangs.exe", "sheetsmith.exe"}};
  const auto start = std::chrono::steady_clock::now();
  const HostRun run =
      RunHost(HostScript()
                  .Call("printing_channel", "createGridImages", EncodableValue(Arguments(waiting)))
                  .Call("printing_channel", "createGridImagesFastAsync",
                        EncodableValue(Arguments(background)))
                  .PollGridJob(1),
              options);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string stopped =
      "The page composer placed no photo and saved no page for 3 s and was stopped";
  EXPECT_EQ(run.answers.at(0).Error(), "GRID_ERROR: " + stopped) << run.err;
  const auto status = run.answers.back().SuccessValue();
  ASSERT_TRUE(status) << run.err;
  const EncodableMap& map = status->Get<EncodableMap>();
  EXPECT_EQ(map.at(S("success")), EncodableValue(false));
  EXPECT_EQ(map.at(S("errorMessage")), S(stopped));
  // Each call waited out the composer's 3 s, and nothing waited longer.
  EXPECT_GE(seconds, 6);
  EXPECT_LT(seconds, 6 + 30);
  const std::vector<std::string> lines = run.ErrLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "ERROR: Page composer stopped responding"), 2);
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("GridComposer")));
  EXPECT_FALSE(Exists(waiting.outputPaths[0]));
  EXPECT_FALSE(Exists(background.outputPaths[0]));
}

// A photo whose bytes never arrive (a hung share, a cloud file that does
// not download; here a pipe nobody writes) holds the composer's read for
// ever while its heartbeat goes on. The request fails within the limit,
// naming the photo, and a call made meanwhile is answered; a background job
// tells the same through its poll, with the photo among the unreadable ones,
// and the next job for its pages is composed.
TEST_F(GridJobsTest, APhotoThatNeverArrivesFailsItsRequestNamingIt) {
  const ScopedEnvironment watchdog{{"KORVELA_COMPOSER_WATCHDOG_MS", "3000"}};
  NeverArrives share("korvela-never-");
  ASSERT_TRUE(share.program.WaitForLine("ready"));
  const std::string& never = share.path;
  runner::printing::GridRequest waiting = FallbackExample(dir);
  waiting.imagePaths = {waiting.imagePaths[0], never};
  runner::printing::GridRequest background = waiting;
  background.outputPaths = {dir.File("background page.jpg")};
  runner::printing::GridRequest after = FallbackExample(dir);
  after.outputPaths = background.outputPaths;
  const auto start = std::chrono::steady_clock::now();
  const HostRun run = RunHost(
      HostScript()
          .Send("printing_channel", "createGridImages", EncodableValue(Arguments(waiting)))
          .Call("printing_channel", "getSelectedColorProfile")
          .Call("printing_channel", "createGridImagesFastAsync",
                EncodableValue(Arguments(background)))
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(after)))
          .PollGridJob(1)
          .PollGridJob(2)
          .WaitAnswers());
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_LT(seconds, 3 + 30);  // the two stalls ran side by side, each ended at its limit
  const std::string stopped =
      "The page composer placed no photo and saved no page for 3 s and was stopped; it was "
      "waiting for " +
      never;
  const Answer* waited = run.AnswerTo(1);
  ASSERT_TRUE(waited) << run.err;
  EXPECT_EQ(waited->Error(), "GRID_ERROR: " + stopped) << run.err;
  // The call made while the grid request waited was answered before it.
  EXPECT_EQ(run.answers.at(0).step, 2) << run.err;
  // Each poll is a step of its own: job 1's polls come first, to its end,
  // then job 2's.
  std::vector<EncodableMap> ended;
  for (const Answer& answer : run.answers) {
    const std::optional<EncodableValue> status = answer.SuccessValue();
    if (answer.step > 4 && status && !Running(*status))
      ended.push_back(status->Get<EncodableMap>());
  }
  ASSERT_EQ(ended.size(), 2u) << run.err;
  EXPECT_EQ(ended[0].at(S("success")), EncodableValue(false));
  EXPECT_EQ(ended[0].at(S("errorMessage")), S(stopped));
  EXPECT_EQ(ended[0].at(S("unreadablePhotos")), EncodableValue(EncodableList{EncodableValue(1)}));
  // The job queued behind it for the same page was composed after it.
  EXPECT_EQ(ended[1].at(S("success")), EncodableValue(true)) << run.err;
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("GridComposer")));
}

TEST_F(GridJobsTest, ClosingTheWindowDuringAHangingJobEndsTheHostAndItsComposer) {
  const runner::printing::GridRequest r = FallbackExample(dir);
  HostOptions options;
  options.folderName = "Korvela closing";
  options.copyAs = {{"composer_that_hangs.exe", "sheetsmith.exe"}};
  options.timeoutSeconds = 60;
  const auto start = std::chrono::steady_clock::now();
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(r)))
          .Sleep(1500),
      options);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_LT(seconds, 30);  // the watchdog's minute was not waited for
  EXPECT_THAT(run.err, HasSubstr("INFO: Abandoning 1 running grid job(s)"));
  // The composer went with the host.
  int left = 0;
  for (int i = 0; i < 50; ++i) {
    left = ProcessesMentioning("Korvela closing");
    if (left == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(left, 0);
}

// A page left at the output path by an earlier run is not this run's page,
// however the composer ends.
TEST_F(GridJobsTest, AComposerClaimingPagesItNeverWroteIsNotBelieved) {
  const runner::printing::GridRequest r = FallbackExample(dir);
  ASSERT_TRUE(testsupport::WriteJpeg(r.outputPaths[0], testsupport::Solid(2000, 3000, {0, 0, 0})));
  HostOptions options;
  options.copyAs = {{"composer_that_lies.exe", "sheetsmith.exe"}};
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImagesFast", EncodableValue(Arguments(r))),
      options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.answers.at(0).SuccessValue(), EncodableValue(true)) << run.err;
  EXPECT_THAT(run.err, HasSubstr("ERROR: sheetsmith reported success but page 1 was not written "
                                 "by this run, using fallback for 1 page(s)\n"
                                 "DEBUG C++: GridComposer - "));
  ExpectFallbackPage(r.outputPaths[0]);
}

// A composer that fails after writing a page keeps it: the host's own
// composer makes only the page it did not write.
TEST_F(GridJobsTest, AfterAComposerFailsOnlyThePagesItDidNotWriteAreRemade) {
  runner::printing::GridRequest r = FallbackExample(dir);
  r.imagePaths.assign(13, r.imagePaths[0]);  // a full first page, one photo on the second
  r.outputPaths = {dir.File("page one.jpg"), dir.File("page two.jpg")};
  HostOptions options;
  options.copyAs = {{"composer_that_fails_after_one_page.exe", "sheetsmith.exe"}};
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImagesFast", EncodableValue(Arguments(r))),
      options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.answers.at(0).SuccessValue(), EncodableValue(true)) << run.err;
  EXPECT_THAT(run.err, HasSubstr("DEBUG C++: sheetsmith failed (exit=1), using fallback for 1 "
                                 "page(s) it did not write\n"));
  EXPECT_EQ(testsupport::ReadBytes(r.outputPaths[0]), "the composer's page 1");
  ExpectFallbackPage(r.outputPaths[1]);
}

// Photos that take long to decode: the composer's own lines come only every
// tenth photo, further apart than the watchdog allows, but its heartbeat
// tells each photo placed in between, and it is left to finish. Meanwhile the polls tell how far
// the job is, and their counts only grow (the page may be saved while the
// job is still ending).
TEST_F(GridJobsTest, ASlowHealthyComposerIsNotStoppedAndItsProgressIsPolled) {
  const ScopedEnvironment watchdog{{"KORVELA_COMPOSER_WATCHDOG_MS", "4000"}};
  const std::string slow = dir.File("slow.png");
  ASSERT_TRUE(testsupport::WritePng(slow, testsupport::Gradient(kSlowPhotoWidth, 4000, 3)));
  runner::printing::GridRequest r = Request("slow", 0, 1);
  r.imagePaths.assign(20, slow);
  r.rows = 4;
  r.columns = 5;
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(Arguments(r)))
          .PollGridJob(1));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("DEBUG C++: sheetsmith completed in "));
  EXPECT_THAT(run.err, HasSubstr("Sheetsmith: working, "));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("stopped responding")));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("GridComposer")));
  std::int32_t photosDone = 0;
  std::int32_t pagesDone = 0;
  int running = 0;
  for (std::size_t i = 1; i < run.answers.size(); ++i) {
    const auto status = run.answers[i].SuccessValue();
    ASSERT_TRUE(status) << i;
    if (!Running(*status)) {
      EXPECT_EQ(status->Get<EncodableMap>().at(S("success")), EncodableValue(true));
      continue;
    }
    ++running;
    const auto& map = status->Get<EncodableMap>();
    EXPECT_EQ(map.at(S("photosTotal")), EncodableValue(20));
    EXPECT_EQ(map.at(S("pagesTotal")), EncodableValue(1));
    const std::int32_t done = map.at(S("photosDone")).Get<std::int32_t>();
    const std::int32_t pages = map.at(S("pagesDone")).Get<std::int32_t>();
    EXPECT_GE(done, photosDone);
    EXPECT_GE(pages, pagesDone);
    EXPECT_LE(pages, 1);
    photosDone = done;
    pagesDone = pages;
  }
  EXPECT_GT(running, 5);
  EXPECT_GT(photosDone, 0);  // counted while it ran
}

TEST_F(GridJobsTest, AnEmptyPathBetweenTwoPhotosKeepsEveryPhotoInItsCellWithItsFrame) {
  runner::printing::GridRequest r;
  const std::string red = dir.File("red.jpg");
  const std::string blue = dir.File("blue.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(red, testsupport::Solid(300, 400, {220, 20, 20}), 95));
  ASSERT_TRUE(testsupport::WriteJpeg(blue, testsupport::Solid(300, 400, {20, 20, 220}), 95));
  // Frames: an opaque band over the left fifth, transparent elsewhere.
  auto frame = [&](const std::string& name, testsupport::Rgb color) {
    RgbaImage image = testsupport::Solid(100, 100, color, 0);
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 20; ++x) image.At(x, y)[3] = 255;
    const std::string path = dir.File(name);
    EXPECT_TRUE(testsupport::WritePng(path, image));
    return path;
  };
  r.imagePaths = {red, "", blue};
  r.framePaths = {frame("green frame.png", {20, 200, 20}), "", frame("black frame.png", {0, 0, 0})};
  r.outputPaths = {dir.File("kept cells.jpg")};
  r.rows = 2;
  r.columns = 2;
  r.pageWidth = 600;
  r.pageHeight = 800;
  runner::printing::GridImageEffects bright;
  bright.brightness = 0.8f;
  r.imageEffects = {bright, {}, bright};
  r.showCutGrid = true;
  r.cutGridColor = "black";
  const HostRun run = RunHost(
      HostScript().Call("printing_channel", "createGridImagesFast", EncodableValue(Arguments(r))));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.answers.at(0).SuccessValue(), EncodableValue(true)) << run.err;
  // The composer makes the page, with the effects and the cut grid: the
  // page is the one it makes natively for the same request.
  EXPECT_THAT(run.err, HasSubstr("DEBUG C++: sheetsmith completed in "));
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("GridComposer")));
  EXPECT_TRUE(testsupport::ReadBytes(r.outputPaths[0]) ==
              testsupport::ReadBytes(ComposeNatively(r, ".native")[0]));
  const auto page = sheetsmith::LoadRgba(r.outputPaths[0]);
  ASSERT_TRUE(page);
  auto near = [&](int x, int y, int red, int green, int blue) {
    const std::uint8_t* p = page->At(x, y);
    return std::abs(p[0] - red) < 50 && std::abs(p[1] - green) < 50 && std::abs(p[2] - blue) < 50;
  };
  // Cells of 300 x 400: the red photo in the first, nothing in the second,
  // the blue photo in the third (second row), each with its own frame.
  EXPECT_TRUE(near(150, 200, 255, 80, 80));  // brightened
  EXPECT_TRUE(near(20, 200, 20, 200, 20));
  EXPECT_TRUE(near(450, 200, 255, 255, 255));
  EXPECT_TRUE(near(150, 600, 80, 80, 255));
  EXPECT_TRUE(near(20, 600, 0, 0, 0));
  EXPECT_TRUE(near(450, 600, 255, 255, 255));
}

}  // namespace
}  // namespace e2e
