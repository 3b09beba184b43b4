#include "driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif
#if defined(__linux__)
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "imaging/reading/photo_reader.h"
#include "imaging/system/file_io.h"
#include "imaging/writing/jpeg_file.h"
#include "job_file/heartbeat_line.h"
#include "test_photos.h"

namespace sheetsmith {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

#if defined(__linux__)
// The partial files in a folder, by their full UTF-8 paths, sorted.
std::vector<std::string> PartialFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(testsupport::PathFromUtf8(folder))) {
    const std::string path = testsupport::Utf8FromPath(entry.path());
    if (path.size() > 8 && path.compare(path.size() - 8, 8, ".partial") == 0) found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  return found;
}
#endif

unsigned long ProcessId() {
#if defined(_WIN32)
  return static_cast<unsigned long>(_getpid());
#else
  return static_cast<unsigned long>(getpid());
#endif
}

struct RunResult {
  int exitCode;
  std::string err;
  std::string out;
};

RunResult RunWith(const std::vector<std::string>& args, const CreatePagesOptions& options = {}) {
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  const int code = RunSheetsmith(args, options);
  RunResult run{code, ::testing::internal::GetCapturedStderr(),
                ::testing::internal::GetCapturedStdout()};
  return run;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// A small job: a 2 x 2 grid of 100 x 120 cells on a 200 x 240 page.
class JobTest : public ::testing::Test {
 protected:
  void AddPhotos(int count) {
    for (int i = 0; i < count; ++i) {
      const std::string path = dir.File("photo " + std::to_string(i) + ".jpg");
      ASSERT_TRUE(testsupport::WriteJpeg(path, testsupport::Solid(80 + i, 60, {20, 40, 200}), 95));
      images.push_back(path);
    }
  }
  void AddOutputs(int count) {
    for (int i = 0; i < count; ++i)
      outputs.push_back(dir.File("page" + std::to_string(i) + ".jpg"));
  }
  std::string WriteJob(const std::string& extraSettings = "") {
    std::string text =
        "\xEF\xBB\xBF[settings]\nrows=2\ncols=2\npageWidth=200\npageHeight=240\n"
        "marginLeft=0\nmarginRight=0\nmarginTop=0\nmarginBottom=0\n" +
        extraSettings + "[images]\n";
    for (const auto& image : images) text += image + "\n";
    text += "[outputs]\n";
    for (const auto& output : outputs) text += output + "\n";
    const std::string path = dir.File("grid_config_1.txt");
    EXPECT_TRUE(testsupport::WriteBytes(path, text));
    return path;
  }
  static bool Exists(const std::string& path) {
    return std::filesystem::exists(testsupport::PathFromUtf8(path));
  }

  testsupport::TempDir dir{"sheetsmith job"};
  std::vector<std::string> images;
  std::vector<std::string> outputs;
};

TEST(DriverTest, WithoutAnArgumentOnlyTheUsageLine) {
  const RunResult run = RunWith({"sheetsmith.exe"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Usage: sheetsmith.exe <config_file>\n");
  EXPECT_EQ(run.out, "");
}

TEST(DriverTest, VersionOptionPrintsTheVersionAndReadsNoJob) {
  const RunResult run = RunWith({"sheetsmith.exe", "--version"});
  EXPECT_EQ(run.exitCode, 0);
  // "sheetsmith MAJOR.MINOR.PATCH" (regular expressions differ between the
  // platforms' GoogleTest builds).
  ASSERT_THAT(run.out, ::testing::StartsWith("sheetsmith "));
  const std::string version = run.out.substr(11);
  EXPECT_EQ(version.find_first_not_of("0123456789.\n"), std::string::npos) << version;
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
  EXPECT_EQ(version.back(), '\n');
  EXPECT_EQ(run.err, "");
}

TEST(DriverTest, UnreadableJobFileFailsToParse) {
  const RunResult run = RunWith({"sheetsmith.exe", "/nonexistent/job.txt", "ignored"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(Lines(run.err),
            (std::vector<std::string>{"Sheetsmith: Starting (stb version)...",
                                      "Sheetsmith: Config file: /nonexistent/job.txt",
                                      "Sheetsmith: Failed to parse config"}));
  EXPECT_EQ(run.out, "");
}

TEST(DriverTest, WorkerCountIsTheHardwareThreadsUpToEight) {
  EXPECT_EQ(WorkerCount(16), 8u);
  EXPECT_EQ(WorkerCount(4), 4u);
  EXPECT_EQ(WorkerCount(0), 1u);
}

// Squared differences over red, green and blue, as a PSNR in decibels;
// infinite for the same pixels.
double Psnr(const RgbaImage& a, const RgbaImage& b) {
  if (a.width != b.width || a.height != b.height) return 0;
  double squares = 0;
  const std::size_t pixels = static_cast<std::size_t>(a.width) * a.height;
  for (std::size_t i = 0; i < pixels * 4; ++i) {
    if (i % 4 == 3) continue;
    const double d = static_cast<double>(a.data()[i]) - static_cast<double>(b.data()[i]);
    squares += d * d;
  }
  if (squares == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(pixels) * 3 / squares);
}

// A photo alone on a page of its magnet's size: the page made from the JPEG
// is the page made from the photo decoded whole where the decoder would
// leave the resampler less than it needs, and close to it where it scales.
TEST(DriverTest, JpegPagesStayCloseToPagesOfThePhotoDecodedWhole) {
  testsupport::TempDir dir{"sheetsmith quality"};
  // A photograph's fine detail: a gradient with a grain of up to 12 levels.
  RgbaImage photo = testsupport::Gradient(1600, 1200, 3);
  unsigned state = 12345;
  for (std::size_t i = 0; i < static_cast<std::size_t>(photo.width) * photo.height; ++i) {
    state = state * 1664525u + 1013904223u;
    const int grain = static_cast<int>((state >> 24) % 25) - 12;
    for (int c = 0; c < 3; ++c) {
      std::uint8_t& value = photo.data()[i * 4 + c];
      value = static_cast<std::uint8_t>(std::clamp(value + grain, 0, 255));
    }
  }
  const std::string jpeg = dir.File("photo.jpg");
  const std::string png = dir.File("photo.png");
  ASSERT_TRUE(testsupport::WriteJpeg(jpeg, photo, 90));
  ASSERT_TRUE(testsupport::WritePng(png, *LoadRgba(jpeg)));
  const double kSame = std::numeric_limits<double>::infinity();
  const struct {
    double reduction;
    double leastPsnr;
  } cases[] = {{1.2, kSame}, {2.5, kSame}, {2.9, kSame}, {3.3, 45},
               {4, 45},      {5, 45},      {6.5, 45},    {8, 45}};
  for (const auto& c : cases) {
    const int width = static_cast<int>(std::lround(photo.width / c.reduction));
    const int height = static_cast<int>(std::lround(photo.height / c.reduction));
    std::optional<RgbaImage> pages[2];
    for (int from = 0; from < 2; ++from) {
      const std::string page = dir.File("page" + std::to_string(from) + ".jpg");
      const std::string job = dir.File("job.txt");
      ASSERT_TRUE(testsupport::WriteBytes(
          job, "[settings]\nrows=1\ncols=1\npageWidth=" + std::to_string(width) +
                   "\npageHeight=" + std::to_string(height) +
                   "\nmarginLeft=0\nmarginRight=0\nmarginTop=0\nmarginBottom=0\n"
                   "jpegQuality=100\n[images]\n" +
                   (from == 0 ? jpeg : png) + "\n[outputs]\n" + page + "\n"));
      ASSERT_EQ(RunWith({"sheetsmith", job}).exitCode, 0) << c.reduction;
      pages[from] = LoadRgba(page);
      ASSERT_TRUE(pages[from]) << c.reduction;
    }
    EXPECT_GE(Psnr(*pages[0], *pages[1]), c.leastPsnr) << c.reduction << " : 1";
  }
}

TEST_F(JobTest, ThreePhotosOnOnePageLeaveTheFourthCellWhite) {
  AddPhotos(3);
  AddOutputs(1);
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob()});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "OK\n");
  const std::vector<std::string> lines = Lines(run.err);
  ASSERT_EQ(lines.size(), 8u) << run.err;
  EXPECT_EQ(lines[0], "Sheetsmith: Starting (stb version)...");
  EXPECT_EQ(lines[1], "Sheetsmith: Config file: " + dir.File("grid_config_1.txt"));
  EXPECT_EQ(lines[2], "Sheetsmith: Config parsed - 3 images, 1 outputs");
  EXPECT_THAT(lines[3],
              ::testing::StartsWith("Sheetsmith: 3 images, 2x2 grid, cell 100x120, threads="));
  EXPECT_EQ(lines[4], "Sheetsmith: [3/3]");
  EXPECT_EQ(lines[5], "Sheetsmith: Saved page 1/1");
  EXPECT_EQ(lines[6], "Sheetsmith: Wrote page 1");
  EXPECT_THAT(lines[7], ::testing::AllOf(::testing::StartsWith("Sheetsmith: Total time: "),
                                         ::testing::EndsWith("ms")));
  const std::optional<RgbaImage> page = LoadRgba(outputs[0]);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->width, 200);
  EXPECT_EQ(page->height, 240);
  EXPECT_LT(page->At(50, 60)[0], 40);  // photo 0
  EXPECT_GT(page->At(50, 60)[2], 180);
  EXPECT_LT(page->At(50, 180)[0], 40);    // photo 2, row 1
  EXPECT_GT(page->At(150, 180)[0], 245);  // cell (1, 1) is white
}

TEST_F(JobTest, PagesBeyondThePhotosAreRenderedEmptyWithTheirCutGrid) {
  AddPhotos(1);
  AddOutputs(3);
  const RunResult run =
      RunWith({"sheetsmith.exe", WriteJob("showCutGrid=1\ncutGridColor=black\n")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const std::string& output : outputs) ASSERT_TRUE(Exists(output)) << output;
  const std::optional<RgbaImage> last = LoadRgba(outputs[2]);
  ASSERT_TRUE(last);
  EXPECT_GT(last->At(50, 60)[0], 245);
  EXPECT_LT(last->At(100, 60)[0], 100);  // the cut line between the columns
  EXPECT_THAT(run.err, HasSubstr("Saved page 3/3"));
}

TEST_F(JobTest, PhotosThatDoNotFitArePlacedNowhere) {
  AddPhotos(5);
  AddOutputs(1);
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob()});
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.err, Not(HasSubstr("Sheetsmith: [")));  // the count never reaches 5
}

TEST_F(JobTest, NinePhotosOnThreePagesReportProgressOnce) {
  AddPhotos(9);
  AddOutputs(3);
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob()});
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.err, HasSubstr("Sheetsmith: [9/9]\n"));
  EXPECT_EQ(run.err.find("Sheetsmith: ["), run.err.rfind("Sheetsmith: ["));
  const std::optional<RgbaImage> last = LoadRgba(outputs[2]);
  ASSERT_TRUE(last);
  EXPECT_LT(last->At(50, 60)[0], 40);
  EXPECT_GT(last->At(150, 60)[0], 245);
}

TEST_F(JobTest, UnloadablePhotosLeaveTheirCellsWhiteAndTheRunSucceeds) {
  images = {dir.File("missing.jpg"), dir.File("grid_config_1.txt")};
  AddOutputs(1);
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob()});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "OK\n");
  EXPECT_TRUE(Exists(outputs[0]));
  EXPECT_THAT(run.err, Not(HasSubstr("Sheetsmith: [")));
}

TEST_F(JobTest, APageThatCannotBeWrittenFailsTheRunWithoutOk) {
  AddPhotos(2);
  AddOutputs(1);
  outputs.push_back(dir.File("no such folder/page.jpg"));
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob("rows=1\ncols=1\n")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(Exists(outputs[0]));  // the other page is still written
  EXPECT_THAT(run.err, HasSubstr("Saved page 1/2"));
  EXPECT_THAT(run.err, HasSubstr("Sheetsmith: Failed to write 1 of 2 pages\n"));
}

TEST_F(JobTest, ACanvasThatCannotBeHadFailsThatPage) {
  AddPhotos(3);
  AddOutputs(3);
  CreatePagesOptions options;
  options.hardwareThreads = 2;
  const std::string second = outputs[1];
  std::atomic<int> made{0};
  options.makeCanvas = [&made](int width, int height) -> std::optional<RgbaImage> {
    if (made.fetch_add(1) == 1) return std::nullopt;
    return MakeCanvas(width, height);
  };
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob("rows=1\ncols=1\n")}, options);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, HasSubstr("Sheetsmith: Failed to write 1 of 3 pages\n"));
  int written = 0;
  for (const std::string& output : outputs) written += Exists(output) ? 1 : 0;
  EXPECT_EQ(written, 2);
}

// While one worker makes a page's canvas, a photo of that page made ready
// by another is left for the maker to lay, and the other worker goes on: it
// leaves the next page's two photos waiting for a canvas to be given back
// (each worker may leave one), and with that many waiting makes the third
// page's canvas, which the first maker waits for.
TEST_F(JobTest, NoWorkerWaitsForACanvasAnotherIsMaking) {
  AddPhotos(5);
  AddOutputs(3);
  CreatePagesOptions options;
  options.hardwareThreads = 2;
  std::mutex mutex;
  std::condition_variable madeAgain;
  int made = 0;
  bool sawAnotherPage = false;
  options.makeCanvas = [&](int width, int height) {
    std::unique_lock<std::mutex> lock(mutex);
    if (++made == 1) {
      sawAnotherPage = madeAgain.wait_for(lock, std::chrono::seconds(20), [&] { return made > 1; });
    } else {
      madeAgain.notify_all();
    }
    return MakeCanvas(width, height);
  };
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob("rows=1\ncols=2\n")}, options);
  const int code = run.exitCode;
  const std::string& err = run.err;
  EXPECT_TRUE(sawAnotherPage);
  ASSERT_EQ(code, 0) << err;
  EXPECT_THAT(err, HasSubstr("Sheetsmith: [5/5]\n"));
  for (int page = 0; page < 3; ++page) {
    const std::optional<RgbaImage> image = LoadRgba(outputs[static_cast<std::size_t>(page)]);
    ASSERT_TRUE(image) << page;
    EXPECT_GT(image->At(50, 120)[2], 180) << page;
    if (page < 2) {
      EXPECT_GT(image->At(150, 120)[2], 180) << page;  // both photos laid
    } else {
      EXPECT_GT(image->At(150, 120)[0], 245);  // no photo for the last cell
    }
  }
}

// With two workers one canvas is held at a time: while the first page's is
// made (slowly), the second page's photos wait, and its canvas is made only
// once the first page is saved, from the memory that page gave back.
TEST_F(JobTest, TwoWorkersHoldOneCanvasAtATime) {
  AddPhotos(4);
  AddOutputs(2);
  CreatePagesOptions options;
  options.hardwareThreads = 2;
  std::mutex mutex;
  std::vector<int> pagesSavedAtEachCanvas;
  options.makeCanvas = [&](int width, int height) {
    int saved = 0;
    for (const std::string& output : outputs) saved += Exists(output) ? 1 : 0;
    std::lock_guard<std::mutex> lock(mutex);
    pagesSavedAtEachCanvas.push_back(saved);
    // Time for the other worker to reach the second page.
    if (pagesSavedAtEachCanvas.size() == 1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return MakeCanvas(width, height);
  };
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob("rows=1\ncols=2\n")}, options);
  const int code = run.exitCode;
  const std::string& err = run.err;
  ASSERT_EQ(code, 0) << err;
  EXPECT_EQ(pagesSavedAtEachCanvas, (std::vector<int>{0, 1}));
  for (const std::string& output : outputs) {
    const std::optional<RgbaImage> image = LoadRgba(output);
    ASSERT_TRUE(image);
    for (const int x : {50, 150}) EXPECT_GT(image->At(x, 120)[2], 180) << output << " " << x;
  }
  EXPECT_THAT(err, HasSubstr("Sheetsmith: [4/4]\n"));
}

// Pages of one photo each on many workers: pages end while their photos
// wait for a canvas, canvases passed on make whole chains of waiting pages;
// every page is written once, with its photo, and nothing is left waiting.
TEST_F(JobTest, EveryPageIsWrittenWhenPagesEndWaitingForACanvas) {
  AddPhotos(30);
  AddOutputs(31);
  for (const unsigned workers : {8u, 3u, 2u}) {
    for (const std::string& output : outputs) std::filesystem::remove(output);
    CreatePagesOptions options;
    options.hardwareThreads = workers;
    const RunResult run = RunWith({"sheetsmith.exe", WriteJob("rows=1\ncols=1\n")}, options);
    const int code = run.exitCode;
    const std::string& err = run.err;
    ASSERT_EQ(code, 0) << workers << " workers\n" << err;
    EXPECT_THAT(err, HasSubstr("Sheetsmith: [30/30]\n"));
    EXPECT_THAT(err, HasSubstr("Sheetsmith: Saved page 31/31\n"));
    for (std::size_t page = 0; page < outputs.size(); ++page) {
      const std::optional<RgbaImage> image = LoadRgba(outputs[page]);
      ASSERT_TRUE(image) << workers << " workers, page " << page;
      // The last page has no photo.
      EXPECT_EQ(image->At(100, 120)[2] > 180 && image->At(100, 120)[0] < 40, page < 30)
          << workers << " workers, page " << page;
    }
  }
}

// A page is saved on a thread of its own: held until the only worker has
// ended, the first page's save still comes, and its saver saves the second
// page too. A save whose thread cannot start is done by its worker.
TEST_F(JobTest, TheWorkerThatEndsAPageGoesOnWhileItIsSaved) {
  AddPhotos(2);
  AddOutputs(2);
  const std::string job = WriteJob("rows=1\ncols=1\n");
  for (const bool saversStart : {true, false}) {
    CreatePagesOptions options;
    options.hardwareThreads = 1;
    std::promise<void> ended;
    const std::shared_future<void> workerEnded = ended.get_future().share();
    bool sawWorkerEnd = false;
    int saversAsked = 0;
    options.startThread = [&ended](std::function<void()> work) {
      return std::thread([&ended, work] {
        work();
        ended.set_value();
      });
    };
    options.startSaver = [&](std::function<void()> save) {
      ++saversAsked;
      if (!saversStart) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
      return std::thread([&, save] {
        sawWorkerEnd = workerEnded.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        save();
      });
    };
    const RunResult run = RunWith({"sheetsmith.exe", job}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(sawWorkerEnd, saversStart);
    EXPECT_EQ(saversAsked, saversStart ? 1 : 2);
  }
}

TEST_F(JobTest, AnExceptionOnAWorkerStopsTheRunWithItsText) {
  AddPhotos(8);
  AddOutputs(8);
  const std::string job = WriteJob("rows=1\ncols=1\n");
  for (const bool outOfMemory : {true, false}) {
    CreatePagesOptions options;
    options.hardwareThreads = 2;
    std::atomic<int> made{0};
    options.makeCanvas = [&](int width, int height) -> std::optional<RgbaImage> {
      if (made.fetch_add(1) == 2) {
        if (outOfMemory) throw std::bad_alloc();
        throw std::runtime_error("the canvas fell over");
      }
      return MakeCanvas(width, height);
    };
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    const int code = RunSheetsmith({"sheetsmith.exe", job}, options);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(code, 1);
    EXPECT_THAT(err, HasSubstr(outOfMemory ? "Sheetsmith: Out of memory\n"
                                           : "Sheetsmith: the canvas fell over\n"));
    EXPECT_THAT(err, Not(HasSubstr("Saved page 8/8")));  // the others stopped taking pages
  }
}

// A run that takes longer than a heartbeat between its own lines still
// says something at least every period, with the photos placed so far.
TEST_F(JobTest, ASlowRunSaysItIsWorkingBetweenItsOwnLines) {
  AddPhotos(3);
  AddOutputs(1);
  CreatePagesOptions options;
  options.makeCanvas = [](int width, int height) {
    std::this_thread::sleep_for(kHeartbeatPeriod * 3);
    return MakeCanvas(width, height);
  };
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob()}, options);
  const int code = run.exitCode;
  const std::string& err = run.err;
  EXPECT_EQ(code, 0);
  int working = 0;
  for (const std::string& line : Lines(err)) {
    const std::optional<HeartbeatEntry> beat = ParseHeartbeatLine(line);
    if (beat && beat->photosPlaced == 0 && beat->photos == 3 && beat->pagesSaved == 0 &&
        beat->pages == 1) {
      ++working;
    }
  }
  EXPECT_GE(working, 2) << err;
}

#if defined(__linux__)
// A photo whose read never ends (here a pipe nobody writes yet; on Windows a
// hung share or a cloud file that does not download) stays in hand beat
// after beat while nothing else moves: what the host's watchdog reads.
TEST_F(JobTest, APhotoThatDoesNotArriveStaysInHandWhileNothingMoves) {
  AddPhotos(1);
  const std::string pipe = dir.File("never arrives.jpg");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  images.push_back(pipe);
  AddOutputs(1);
  // The writer opens once the composer does, holds the read three beats,
  // then gives it bytes that are no photo.
  std::thread writer([&] {
    std::ofstream out(pipe, std::ios::binary);
    std::this_thread::sleep_for(kHeartbeatPeriod * 3);
    out << "no photo at all";
  });
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob()});
  writer.join();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  int waiting = 0;
  for (const std::string& line : Lines(run.err)) {
    const std::optional<HeartbeatEntry> beat = ParseHeartbeatLine(line);
    if (!beat || std::count(beat->inHand.begin(), beat->inHand.end(), 1u) == 0) continue;
    ++waiting;
    EXPECT_EQ(beat->pagesSaved, 0) << line;  // the page waits for the photo
    EXPECT_LE(beat->photosPlaced, 1) << line;
  }
  EXPECT_GE(waiting, 2) << run.err;
  EXPECT_THAT(run.err, HasSubstr("Sheetsmith: Unreadable photo 1 unsupported"));
}
#endif

// An empty path in [images], kept by the key that says so, leaves its cell
// white; every other photo keeps its own cell, effects and frame.
TEST_F(JobTest, AnEmptyImageLineIsAWhiteCellInItsPlace) {
  AddPhotos(3);
  images[1] = "";
  AddOutputs(1);
  const std::string frame = dir.File("frame.png");
  ASSERT_TRUE(testsupport::WritePng(frame, testsupport::Solid(10, 10, {0, 255, 0}, 255)));
  std::string job = WriteJob("keepEmptyImageLines=1\nshowCutGrid=1\ncutGridColor=black\n");
  std::ofstream(job, std::ios::app) << "[frames]\n\n\n"
                                    << frame << "\n"
                                    << "[effects]\n0,0.5,0,0.5,0.5,1,0,0,1,0,0,0,0,0,1,0,1\n";
  const RunResult run = RunWith({"sheetsmith.exe", job});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::optional<RgbaImage> page = LoadRgba(outputs[0]);
  ASSERT_TRUE(page);
  const auto near = [&](int x, int y, int r, int g, int b) {
    const std::uint8_t* p = page->At(x, y);
    return std::abs(p[0] - r) < 30 && std::abs(p[1] - g) < 30 && std::abs(p[2] - b) < 30;
  };
  const std::uint8_t* grey = page->At(50, 60);
  EXPECT_TRUE(std::abs(grey[0] - grey[2]) < 12 && std::abs(grey[1] - grey[2]) < 12 && grey[0] < 200)
      << "photo 0 in grey, as its effects ask";
  EXPECT_TRUE(near(150, 60, 255, 255, 255)) << "the empty cell stays white";
  EXPECT_TRUE(near(50, 180, 0, 255, 0)) << "photo 2 under its frame";
  EXPECT_TRUE(near(100, 60, 0, 0, 0)) << "the cut line";
}

// Canvases are whitened only around their magnets, and the magnets their
// photos leave as they are laid or their page saved: whatever a canvas's
// memory held, each page is byte for byte the page of a canvas white whole.
TEST_F(JobTest, PagesAreTheSameWhateverTheirCanvasMemoryHeld) {
  const struct {
    const char* settings;
    int photos;
    int missing;
  } cases[] = {
      {"showCutGrid=1\n", 4, -1},                      // cells filled, and the cut lines
      {"magnetAspectRatio=0.7\n", 5, 1},               // gaps, a missing photo, a page of one
      {"marginRight=-40\nmarginBottom=-30\n", 4, -1},  // magnets past the right and bottom
      // The first photo, laid from the page's edge, reaches into the empty
      // magnet beside it.
      {"rows=1\nmarginLeft=-30\nmarginTop=-25\nmagnetAspectRatio=1.2\n", 3, 1},
  };
  AddPhotos(5);
  AddOutputs(2);
  const std::vector<std::string> all = images;
  for (const auto& c : cases) {
    images.assign(all.begin(), all.begin() + c.photos);
    if (c.missing >= 0) images[static_cast<std::size_t>(c.missing)] = dir.File("not there.jpg");
    const std::string job = WriteJob(c.settings);
    std::vector<std::string> pages[2];
    for (const int fill : {255, 0x5A}) {
      CreatePagesOptions options;
      options.hardwareThreads = 2;
      options.makeCanvas = [fill](int width, int height) { return MakeImage(width, height, fill); };
      ASSERT_EQ(RunWith({"sheetsmith.exe", job}, options).exitCode, 0) << c.settings;
      for (const std::string& output : outputs)
        pages[fill & 1].push_back(testsupport::ReadBytes(output));
    }
    EXPECT_TRUE(!pages[0][0].empty() && pages[0] == pages[1]) << c.settings;
  }
  const std::optional<RgbaImage> reaching = LoadRgba(outputs[0]);
  ASSERT_TRUE(reaching);
  EXPECT_TRUE(reaching->At(100, 100)[2] > 180 && reaching->At(100, 100)[0] < 60);
}

// Photos made to break a decoder: each leaves its own cell white, the other
// photos are composed, and the run ends as any other (the sanitizer build
// runs this too, and reports nothing).
TEST_F(JobTest, HostilePhotosLeaveTheirCellsWhite) {
  const std::string jpeg = testsupport::EncodeJpeg(testsupport::Gradient(64, 48, 3), 90);
  const auto patched = [](std::string bytes, std::size_t at, std::initializer_list<int> values) {
    for (const int value : values) bytes[at++] = static_cast<char>(value);
    return bytes;
  };
  const std::size_t dht = jpeg.find("\xFF\xC4");
  const std::size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(dht, std::string::npos);
  ASSERT_NE(sof, std::string::npos);
  ASSERT_TRUE(testsupport::WritePng(dir.File("small.png"), testsupport::Solid(8, 8, {9, 9, 9})));
  const std::string png = testsupport::ReadBytes(dir.File("small.png"));
  const struct {
    const char* name;
    std::string bytes;
  } hostile[] = {
      // Code counts of a Huffman table adding up to far more than 256.
      {"dht.jpg", patched(jpeg, dht + 5, {255, 255, 255, 255, 255, 255, 255, 255})},
      {"huge header.jpg", patched(jpeg, sof + 5, {0xFF, 0xDC, 0xFF, 0xDC})},   // 65500 x 65500
      {"large header.jpg", patched(jpeg, sof + 5, {0x75, 0x30, 0x75, 0x30})},  // 30000 x 30000
      {"cut short.jpg", jpeg.substr(0, jpeg.size() * 2 / 3)},
      {"huge.png", patched(png, 16, {0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0})},  // 100000 x 100000
      {"empty.jpg", ""},
      // A width past what an int holds.
      {"long width.pgm", "P5 # grey\n55555555555 2\n255\n" + std::string(64, '\x80')},
  };
  for (const auto& photo : hostile) {
    images.push_back(dir.File(photo.name));
    ASSERT_TRUE(testsupport::WriteBytes(images.back(), photo.bytes));
  }
  AddPhotos(1);  // photo 7
  AddOutputs(2);
  const RunResult run = RunWith({"sheetsmith.exe", WriteJob("rows=2\ncols=4\npageWidth=400\n")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "OK\n");
  const std::optional<RgbaImage> page = LoadRgba(outputs[0]);
  ASSERT_TRUE(page);
  for (int cell = 0; cell < 8; ++cell) {
    const std::uint8_t* middle = page->At((cell % 4) * 100 + 50, (cell / 4) * 120 + 60);
    const bool white = middle[0] > 245 && middle[1] > 245 && middle[2] > 245;
    EXPECT_EQ(white, cell < 7) << (cell < 7 ? hostile[cell].name : "a good photo");
  }
}

#if defined(__linux__)
// A page the disk stops taking half way: the writer fails, the partial file
// goes, and the page an earlier run left under the final name is neither
// cut short nor replaced. The file size limit is set in a child process only.
TEST_F(JobTest, APageCutShortIsRemoved) {
  const std::string page = dir.File("cut short.jpg");
  const std::string earlier = "an earlier run's page";
  ASSERT_TRUE(testsupport::WriteBytes(page, earlier));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool saved = SaveJpeg(testsupport::Gradient(800, 800, 7), page, 95);
    const bool untouched = std::filesystem::file_size(page) == earlier.size();
    _exit(!saved && untouched && PartialFilesIn(dir.Path()).empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Runs a composer in a child process, its lines dropped; the child's pid.
pid_t StartRun(const std::string& job) {
  const pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stderr);
    std::freopen("/dev/null", "w", stdout);
    _exit(RunSheetsmith({"sheetsmith", job}));
  }
  return child;
}

bool Ended(pid_t child) {
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Two runs writing the same pages at once, round after round: every page is
// byte for byte one run's page, whichever ends last, and no partial file
// stays behind.
TEST_F(JobTest, TwoRunsOnTheSamePagesLeaveEveryPageWhollyOneRuns) {
  const Rgb colors[2] = {{200, 30, 30}, {30, 30, 200}};
  std::string jobs[2];
  std::vector<std::string> alone[2];
  for (int run = 0; run < 2; ++run) {
    images.clear();
    for (int i = 0; i < 8; ++i) {
      const std::string photo =
          dir.File("run" + std::to_string(run) + "_" + std::to_string(i) + ".jpg");
      RgbaImage picture = testsupport::Gradient(900, 700, i + 7 * run);
      for (std::size_t k = 0; k < std::size_t{900} * 700 * 4; k += 4)
        picture.data()[k] = colors[run].r;
      ASSERT_TRUE(testsupport::WriteJpeg(photo, picture, 90));
      images.push_back(photo);
    }
    // Each run's pages made alone, for comparison.
    outputs.clear();
    for (int p = 0; p < 2; ++p)
      outputs.push_back(dir.File("alone" + std::to_string(run) + "_" + std::to_string(p) + ".jpg"));
    ASSERT_TRUE(Ended(StartRun(WriteJob("pageWidth=1200\npageHeight=1600\n"))));
    for (const std::string& page : outputs) alone[run].push_back(testsupport::ReadBytes(page));
    outputs = {dir.File("shared 0.jpg"), dir.File("shared 1.jpg")};
    jobs[run] = dir.File("job" + std::to_string(run) + ".txt");
    std::filesystem::rename(
        testsupport::PathFromUtf8(WriteJob("pageWidth=1200\npageHeight=1600\n")),
        testsupport::PathFromUtf8(jobs[run]));
  }
  ASSERT_NE(alone[0][0], alone[1][0]);
  int mixed = 0;
  for (int round = 0; round < 12; ++round) {
    const pid_t first = StartRun(jobs[round % 2]);
    const pid_t second = StartRun(jobs[1 - round % 2]);
    ASSERT_TRUE(Ended(first) && Ended(second)) << "round " << round;
    for (std::size_t p = 0; p < outputs.size(); ++p) {
      const std::string page = testsupport::ReadBytes(outputs[p]);
      if (page != alone[0][p] && page != alone[1][p]) ++mixed;
    }
    EXPECT_EQ(PartialFilesIn(dir.Path()), std::vector<std::string>{}) << "round " << round;
  }
  EXPECT_EQ(mixed, 0) << "pages of neither run, of " << 12 * outputs.size();
}

// What a writer of this machine that died left beside the run's own page is
// removed by the next run writing there, and never stands as a page. A live
// writer's, another machine's, another page's and a user's own ".partial"
// files are left alone.
TEST_F(JobTest, OnlyADeadPartialFileOfTheRunsOwnPageIsRemoved) {
  AddPhotos(1);
  AddOutputs(1);
  const pid_t writer = fork();
  if (writer == 0) {
    // Begins a page and dies before moving it into place.
    const std::string partial = PartialPath(outputs[0]);
    _exit(testsupport::WriteBytes(partial, "half a page") ? 0 : 1);
  }
  ASSERT_TRUE(Ended(writer));
  const std::string dead = "-" + std::to_string(writer) + "-1.partial";
  const std::vector<std::string> kept = {
      outputs[0] + "." + MachineTag() + "-" + std::to_string(getpid()) + "-999.partial",
      outputs[0] + ".AnotherMachine" + dead,
      dir.File("another page.jpg") + "." + MachineTag() + dead,
      dir.File("budget.2024-06.partial"),
      outputs[0] + "." + std::to_string(writer) + "-1.partial",  // not a name of ours
  };
  for (const std::string& file : kept) ASSERT_TRUE(testsupport::WriteBytes(file, "not ours"));
  ASSERT_TRUE(testsupport::WriteBytes(outputs[0] + ".partial", "left by an older writer"));
  ASSERT_EQ(PartialFilesIn(dir.Path()).size(), kept.size() + 2);
  ASSERT_EQ(RunWith({"sheetsmith", WriteJob()}).exitCode, 0);
  std::vector<std::string> left = kept;
  std::sort(left.begin(), left.end());
  EXPECT_EQ(PartialFilesIn(dir.Path()), left);
  const std::optional<RgbaImage> page = LoadRgba(outputs[0]);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->width, 200);
}
#endif

// A partial file's name says which machine's process writes which page;
// other names say nothing.
TEST(PartialFileTest, NamesTellTheirPageAndWriter) {
  const struct {
    const char* page;
    const char* name;
    std::optional<unsigned long> pid;
    const char* machine;
  } names[] = {
      {"page 1.jpg", "page 1.jpg.HOST7-4242-7.partial", 4242ul, "HOST7"},
      {"a.b", "a.b.my_box-1-1.partial", 1ul, "my_box"},
      {"page 2.jpg", "page 1.jpg.HOST7-4242-7.partial", std::nullopt, ""},  // another page's
      {"page.jpg", "page.jpg.4242-7.partial", std::nullopt, ""},  // no machine
      {"page.jpg", "page.jpg.partial", std::nullopt, ""},
      {"page.jpg", "page.jpg.HOST-42.partial", std::nullopt, ""},
      {"page.jpg", "page.jpg.HOST--7.partial", std::nullopt, ""},
      {"page.jpg", "page.jpg.HOST-42-.partial", std::nullopt, ""},
      {"page.jpg", "page.jpg.HO.ST-42-7.partial", std::nullopt, ""},
      {"page.jpg", "page.jpg.HOST-4x-7.partial", std::nullopt, ""},
      {"page.jpg", "page.jpg.HOST-42-7.partial2", std::nullopt, ""},
      {"page.jpg", "page.jpg.HOST-99999999999999999999-1.partial", std::nullopt, ""},
      {"", ".HOST-42-7.partial", std::nullopt, ""},
  };
  for (const auto& name : names) {
    const std::optional<PartialWriter> writer = PartialFileWriter(name.page, name.name);
    EXPECT_EQ(writer ? std::optional<unsigned long>(writer->pid) : std::nullopt, name.pid)
        << name.name;
    if (writer) {
      EXPECT_EQ(writer->machine, name.machine) << name.name;
    }
  }
  const std::string page = "/pages/page.jpg";
  const std::string one = PartialPath(page);
  const std::string two = PartialPath(page);
  EXPECT_NE(one, two);
  const auto mine = PartialFileWriter("page.jpg", one.substr(std::string("/pages/").size()));
  ASSERT_TRUE(mine);
  EXPECT_EQ(mine->pid, ProcessId());
  EXPECT_EQ(mine->machine, MachineTag());
}

TEST_F(JobTest, TransformWritesItsDiagnosticLine) {
  AddPhotos(1);
  AddOutputs(1);
  std::string job = WriteJob();
  std::ofstream(job, std::ios::app) << "[effects]\n0,0.5,0,0.5,0.5,0,0,0,1.5,4,0,50,60,0,1,0,1\n";
  const RunResult run = RunWith({"sheetsmith.exe", job});
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.err, HasSubstr("Sheetsmith TRANSFORM DEBUG: imgSize="));
  EXPECT_THAT(run.err, HasSubstr(" totalScale=1.5 wasRotated=1\n"));
}

TEST_F(JobTest, SettingsThatCannotBeReadEndTheRunWithoutPages) {
  AddPhotos(1);
  AddOutputs(1);
  for (const char* bad : {"rows=abc\n", "pageWidth=3000000000\n", "rows=0\n", "cols=-2\n",
                          "marginLeft=150\nmarginRight=150\n", "magnetAspectRatio=inf\n"}) {
    const RunResult run = RunWith({"sheetsmith.exe", WriteJob(bad)});
    EXPECT_EQ(run.exitCode, 1) << bad;
    EXPECT_EQ(run.out, "") << bad;
    EXPECT_THAT(run.err, HasSubstr("Sheetsmith: Invalid ")) << bad;
    EXPECT_FALSE(Exists(outputs[0])) << bad;
  }
}

TEST_F(JobTest, StartLineReportsAtMostEightThreads) {
  AddPhotos(1);
  AddOutputs(1);
  GridConfig config;
  ASSERT_TRUE(ParseConfig(WriteJob(), config));
  for (auto [hardware, reported] : {std::pair{16u, "threads=8"}, std::pair{4u, "threads=4"}}) {
    CreatePagesOptions options;
    options.hardwareThreads = hardware;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(CreatePages(config, options));
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), HasSubstr(reported));
  }
}

TEST_F(JobTest, AWorkerThatCannotStartFailsTheRunAfterJoiningTheOthers) {
  AddPhotos(4);
  AddOutputs(4);
  GridConfig config;
  ASSERT_TRUE(ParseConfig(WriteJob(), config));
  CreatePagesOptions options;
  options.hardwareThreads = 4;
  int started = 0;
  options.startThread = [&started](std::function<void()> work) {
    if (++started == 3)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(work));
  };
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(CreatePages(config, options));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("Sheetsmith: Failed to start the worker threads"));
  EXPECT_THAT(err, Not(HasSubstr("Total time")));
}

}  // namespace
}  // namespace sheetsmith
