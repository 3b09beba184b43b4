#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "bake_arguments.h"
#include "bake_geometry.h"
#include "bake_rules.h"
#include "parallel_baking.h"

namespace runner {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

EncodableValue Entry(const char* source, int width, int height) {
  return EncodableValue(EncodableMap{{S("sourcePath"), S(source)},
                                     {S("canvasWidth"), EncodableValue(width)},
                                     {S("canvasHeight"), EncodableValue(height)}});
}

TEST(BakeArgumentsTest, EntriesNeedTheirThreeKeysAndOthersKeepDefaults) {
  EncodableList requests{Entry("C:\\a.jpg", 1000, 1000),
                         EncodableValue(EncodableMap{{S("sourcePath"), S("C:\\b.jpg")},
                                                     {S("canvasWidth"), EncodableValue(10)}}),
                         Entry("C:\\c.jpg", 500, 700), S("not a map")};
  auto& third = requests[2].Get<EncodableMap>();
  third[S("imageScale")] = EncodableValue(2);  // an int32 is ignored
  third[S("offsetX")] = EncodableValue(12.5);
  third[S("rotateForOutput")] = EncodableValue(true);
  third[S("framePath")] = S("C:\\f.png");
  third[S("effects")] = EncodableValue(EncodableMap{
      {S("stroke"), EncodableValue(0.25)},
      {S("strokeColor"), EncodableValue(4294901760.0)},  // 0xFFFF0000, opaque red
      {S("strokeExternal"), EncodableValue(0.49)},
      {S("hue"), EncodableValue(1)},  // int32: ignored
  });
  BakeArguments parsed;
  const EncodableValue arguments(EncodableMap{{S("requests"), EncodableValue(requests)},
                                              {S("maxThreads"), EncodableValue(3)},
                                              {S("jpegQuality"), EncodableValue(150)}});
  ASSERT_FALSE(ParseBakeArguments(&arguments, parsed));
  ASSERT_EQ(parsed.requests.size(), 2u);
  EXPECT_EQ(parsed.requests[1].sourcePath, "C:\\c.jpg");
  EXPECT_DOUBLE_EQ(parsed.requests[1].imageScale, 1.0);
  EXPECT_DOUBLE_EQ(parsed.requests[1].offsetX, 12.5);
  EXPECT_TRUE(parsed.requests[1].rotateForOutput);
  EXPECT_EQ(parsed.requests[1].framePath, "C:\\f.png");
  EXPECT_FLOAT_EQ(parsed.requests[1].effects.stroke, 0.25f);
  EXPECT_EQ(parsed.requests[1].effects.strokeColor, 0xFFFF0000u);
  EXPECT_FALSE(parsed.requests[1].effects.strokeExternal);
  EXPECT_FLOAT_EQ(parsed.requests[1].effects.hue, 0.5f);
  EXPECT_EQ(parsed.requests[0].effects.strokeColor, 0xFF000000u);
  EXPECT_EQ(parsed.maxThreads, 3);
  EXPECT_EQ(parsed.jpegQuality, 100);
}

TEST(BakeArgumentsTest, QualityClampsAndErrorsAreNamed) {
  auto parse = [](EncodableMap map, BakeArguments& parsed) {
    const EncodableValue value(std::move(map));
    return ParseBakeArguments(&value, parsed);
  };
  BakeArguments low;
  ASSERT_FALSE(parse({{S("requests"), EncodableValue(EncodableList{Entry("a", 1, 1)})},
                      {S("jpegQuality"), EncodableValue(0)}},
                     low));
  EXPECT_EQ(low.jpegQuality, 1);
  BakeArguments asDouble;
  ASSERT_FALSE(parse({{S("requests"), EncodableValue(EncodableList{Entry("a", 1, 1)})},
                      {S("jpegQuality"), EncodableValue(50.0)}},
                     asDouble));
  EXPECT_EQ(asDouble.jpegQuality, 95);

  BakeArguments none;
  const EncodableValue list(EncodableList{});
  EXPECT_EQ(ParseBakeArguments(&list, none)->message, "Expected map of arguments");
  EXPECT_EQ(parse({{S("requests"), S("x")}}, none)->message,
            "Missing or invalid 'requests' parameter");
  const auto empty = parse({{S("requests"), EncodableValue(EncodableList{S("x")})}}, none);
  EXPECT_EQ(empty->code, "NO_REQUESTS");
  EXPECT_EQ(empty->message, "No valid bake requests found");
}

TEST(BakeRulesTest, ThreadCountFolderAndFileNames) {
  EXPECT_EQ(BakeThreadCount(0, 1), 1);
  EXPECT_EQ(BakeThreadCount(0, 0), 1);
  EXPECT_EQ(BakeThreadCount(0, 16), 8);
  EXPECT_EQ(BakeThreadCount(-2, 4), 3);
  EXPECT_EQ(BakeThreadCount(3, 16), 3);
  EXPECT_EQ(BakeThreadCount(40, 2), 8);
  const LocalTime time{2025, 3, 7, 9, 5, 4, 42};
  EXPECT_EQ(BakingFolderName(time), "Korvela_Baking_2025037_954");
  EXPECT_EQ(BakedFileName(3, LocalTime{2025, 1, 1, 14, 5, 9, 42}, 17), "baked_0003_145942_17.jpg");
  EXPECT_EQ(BakedFileName(12345, time, 0), "baked_12345_95442_0.jpg");
}

TEST(BakeRulesTest, ABakedFileTakesTheNextCounterWhileItsNameIsTaken) {
  const LocalTime time{2025, 1, 1, 14, 5, 9, 42};
  struct Case {
    const char* what;
    std::vector<std::string> taken;  // files already there
    std::string failsAt;             // the name whose making fails otherwise
    std::optional<std::string> path;
    int tries;
  };
  const Case cases[] = {
      {"a free name", {}, "", "C:\\b\\baked_0003_145942_5.jpg", 1},
      {"an earlier bake's two files",
       {"C:\\b\\baked_0003_145942_5.jpg", "C:\\b\\baked_0003_145942_6.jpg"},
       "",
       "C:\\b\\baked_0003_145942_7.jpg",
       3},
      {"a folder it cannot write", {}, "C:\\b\\baked_0003_145942_5.jpg", std::nullopt, 1},
  };
  for (const Case& c : cases) {
    std::int32_t counter = 5;
    int tries = 0;
    const auto path = ClaimBakedFile(
        "C:\\b", 3, time, [&] { return counter++; },
        [&](const std::string& name) {
          ++tries;
          if (name == c.failsAt) return FileClaim::kFailed;
          return std::find(c.taken.begin(), c.taken.end(), name) != c.taken.end() ? FileClaim::kTaken
                                                                                   : FileClaim::kMade;
        });
    EXPECT_EQ(path, c.path) << c.what;
    EXPECT_EQ(tries, c.tries) << c.what;
  }
  // A folder where every name is taken ends, unanswered.
  int tries = 0;
  std::int32_t counter = 0;
  EXPECT_EQ(ClaimBakedFile("C:\\b", 0, time, [&] { return counter++; },
                           [&](const std::string&) {
                             ++tries;
                             return FileClaim::kTaken;
                           }),
            std::nullopt);
  EXPECT_EQ(tries, kMaxBakedNameTries);
}

TEST(BakeRulesTest, ReplyListsResultsInOrderWithTheCounts) {
  const EncodableValue reply =
      BakeReply({BakeResult{"C:\\x\\baked_0000.jpg", true, "", 0},
                 BakeResult{"", false, "Failed to render image with effects", 1}});
  const auto& map = reply.Get<EncodableMap>();
  EXPECT_EQ(map.at(S("successCount")), EncodableValue(1));
  EXPECT_EQ(map.at(S("failureCount")), EncodableValue(1));
  const auto& results = map.at(S("results")).Get<EncodableList>();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0], EncodableValue(EncodableMap{{S("success"), EncodableValue(true)},
                                                    {S("index"), EncodableValue(0)},
                                                    {S("bakedPath"), S("C:\\x\\baked_0000.jpg")}}));
  EXPECT_EQ(results[1].Get<EncodableMap>().at(S("error")),
            S("Failed to render image with effects"));
  EXPECT_EQ(results[1].Get<EncodableMap>().count(S("bakedPath")), 0u);
}

TEST(BakeGeometryTest, ScaledDecodeOnlyWhenItSavesAQuarter) {
  EXPECT_EQ(ScaledDecodeSize(4000, 3000, 1500, 1500), (Size{2000, 1500}));
  EXPECT_EQ(ScaledDecodeSize(1800, 1800, 1500, 1500), std::nullopt);  // 1500 >= 1350
  EXPECT_EQ(ScaledDecodeSize(1000, 800, 1500, 1500), std::nullopt);   // smaller than wanted
  EXPECT_EQ(ScaledDecodeSize(4000, 3000, 0, 1500), std::nullopt);
}

TEST(BakeGeometryTest, CanvasLimitsAndTheWantedSize) {
  EXPECT_TRUE(CanvasSizeIsUsable(1, 1));
  EXPECT_TRUE(CanvasSizeIsUsable(kMaxCanvasSide, kMaxCanvasSide));
  for (const auto& [w, h] :
       {std::pair{0, 100}, {100, 0}, {-1, 100}, {kMaxCanvasSide + 1, 10}, {10, 2147483647}}) {
    EXPECT_FALSE(CanvasSizeIsUsable(w, h)) << w << "x" << h;
  }
  EXPECT_EQ(WantedDecodeSize(1000, 667), (Size{1500, 1000}));  // 1000.5 truncates
  EXPECT_EQ(WantedDecodeSize(kMaxCanvasSide, 1), (Size{49152, 1}));
}

TEST(BakeGeometryTest, CoverFitZoomTurnAndSnap) {
  // A 2000 x 1500 photo on a 1000 x 1000 canvas: cover 2/3, 1333 x 1000.
  const PhotoPlacement plain = PlacePhotoOnCanvas(1000, 1000, 2000, 1500, 1.0, 0, 0, false);
  EXPECT_NEAR(plain.cover, 2.0 / 3.0, 1e-12);
  EXPECT_EQ(plain.width, 1333);
  EXPECT_EQ(plain.height, 1000);
  EXPECT_DOUBLE_EQ(plain.x, -167.0);  // -166.5 rounds away from zero
  EXPECT_DOUBLE_EQ(plain.y, 0.0);
  // Turned, the photo is 1500 x 2000 on an 800 x 1000 canvas.
  const PhotoPlacement turned = PlacePhotoOnCanvas(800, 1000, 2000, 1500, 1.0, 0, 0, true);
  EXPECT_NEAR(turned.cover, 0.5333333333, 1e-9);
  EXPECT_EQ(turned.width, 800);
  EXPECT_EQ(turned.height, 1066);
  // Zoom below 1 leaves white around; offsets move the photo.
  const PhotoPlacement small = PlacePhotoOnCanvas(1000, 1000, 1000, 1000, 0.5, 30, -20, false);
  EXPECT_EQ(small.width, 500);
  EXPECT_DOUBLE_EQ(small.x, 280.0);
  EXPECT_DOUBLE_EQ(small.y, 230.0);
  // Odd canvases snap to half pixels.
  EXPECT_DOUBLE_EQ(SnapPosition(10.3, 101), 10.5);
  EXPECT_DOUBLE_EQ(SnapPosition(10.2, 101), 10.0);
  EXPECT_DOUBLE_EQ(SnapPosition(10.5, 100), 11.0);
  EXPECT_DOUBLE_EQ(SnapPosition(-10.5, 100), -11.0);
  // Values from outside never make the conversions undefined.
  const PhotoPlacement wild =
      PlacePhotoOnCanvas(100, 100, 10, 10, 1e300, 1e300, std::nan(""), false);
  EXPECT_GE(wild.width, 0);
}

// A platform of the tests' own: bakes nothing, records what it was asked.
struct FakePlatform {
  std::mutex mutex;
  std::vector<int> baked;
  std::vector<std::string> folders;
  int startedThreads = 0;
  int failThreadNumber = -1;  // this start (0-based) throws
  bool failWithBadAlloc = false;
  bool failFolder = false;

  BakingPlatform Make() {
    BakingPlatform platform;
    platform.hardwareThreads = 4;
    platform.createFolder = [this](const std::string& path, unsigned long* error) {
      std::lock_guard<std::mutex> lock(mutex);
      folders.push_back(path);
      if (failFolder && folders.size() == 2) {
        *error = 5;
        return false;
      }
      return true;
    };
    platform.localTime = [] { return LocalTime{2025, 3, 7, 9, 5, 4, 0}; };
    platform.currentThreadId = [] { return 77ul; };
    platform.bakeSingleImage = [this](const BakeRequest& request, int index,
                                      const std::string& folder, const std::string&, int) {
      std::lock_guard<std::mutex> lock(mutex);
      baked.push_back(index);
      if (request.sourcePath == "missing")
        return BakeResult{"", false, "Failed to render image with effects", index};
      if (request.sourcePath == "throws") throw std::runtime_error("boom");
      return BakeResult{folder + "\\baked", true, "", index};
    };
    platform.startThread = [this](std::function<void()> work) {
      if (startedThreads++ == failThreadNumber) {
        if (failWithBadAlloc) throw std::bad_alloc();
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
      return std::thread(std::move(work));
    };
    return platform;
  }
};

std::vector<BakeRequest> Requests(std::initializer_list<const char*> sources) {
  std::vector<BakeRequest> requests;
  for (const char* source : sources) {
    BakeRequest request;
    request.sourcePath = source;
    request.canvasWidth = 100;
    request.canvasHeight = 100;
    requests.push_back(request);
  }
  return requests;
}

TEST(ParallelBakingTest, EveryPhotoOnceAndResultsInOrder) {
  FakePlatform fake;
  testing::internal::CaptureStderr();
  const auto results = BakeImagesInParallel(Requests({"a", "missing", "throws", "d", "e"}), 3,
                                            "adobe_rgb", 90, fake.Make());
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(results.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(results[i].index, i);
  EXPECT_TRUE(results[0].success);
  EXPECT_EQ(results[1].error, "Failed to render image with effects");
  EXPECT_EQ(results[2].error, "Thread exception: boom");
  EXPECT_EQ(results[4].bakedPath,
            "C:\\Users\\Public\\Korvela_Temp\\Korvela_Baking_2025037_954\\baked");
  std::vector<int> baked = fake.baked;
  std::sort(baked.begin(), baked.end());
  EXPECT_EQ(baked, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(fake.startedThreads, 3);
  EXPECT_THAT(err, testing::HasSubstr("INFO: Using color profile: adobe_rgb\n"));
  EXPECT_THAT(err,
              testing::HasSubstr("INFO: Starting parallel baking with 3 threads for 5 images\n"));
  EXPECT_THAT(err, testing::HasSubstr("INFO: Joining thread 0 (ID: 77)...\n"));
  EXPECT_THAT(err, testing::HasSubstr("INFO: Parallel baking completed: 3 succeeded, 2 failed\n"));
}

TEST(ParallelBakingTest, NoMoreThreadsThanPhotosButTheLogSaysTheCount) {
  FakePlatform fake;
  testing::internal::CaptureStderr();
  BakeImagesInParallel(Requests({"a", "b"}), 3, "srgb", 95, fake.Make());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(fake.startedThreads, 2);
  EXPECT_THAT(err, testing::HasSubstr("with 3 threads for 2 images"));
}

TEST(ParallelBakingTest, AFolderThatCannotBeMadeFailsEveryPhotoWithoutBaking) {
  FakePlatform fake;
  fake.failFolder = true;
  testing::internal::CaptureStderr();
  const auto results = BakeImagesInParallel(Requests({"a", "b"}), 0, "srgb", 95, fake.Make());
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              testing::HasSubstr("ERROR: Failed to create output directory, error=5"));
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].error, "Failed to create output directory");
  EXPECT_EQ(results[1].index, 1);
  EXPECT_TRUE(fake.baked.empty());
  EXPECT_EQ(fake.startedThreads, 0);
}

TEST(ParallelBakingTest, ThreadsThatCannotStartLeaveNothingRunningAndNothingUnanswered) {
  {
    // The second start fails: the first worker takes every photo.
    FakePlatform fake;
    fake.failThreadNumber = 1;
    testing::internal::CaptureStderr();
    const auto results =
        BakeImagesInParallel(Requests({"a", "b", "c"}), 3, "srgb", 95, fake.Make());
    testing::internal::GetCapturedStderr();
    for (const BakeResult& result : results) EXPECT_TRUE(result.success);
  }
  {
    // No thread at all: every photo is reported, none baked.
    FakePlatform fake;
    fake.failThreadNumber = 0;
    testing::internal::CaptureStderr();
    const auto results = BakeImagesInParallel(Requests({"a", "b"}), 2, "srgb", 95, fake.Make());
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::HasSubstr("ERROR: Failed to start baking thread 0"));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[0].success);
    EXPECT_EQ(results[0].index, 0);
    EXPECT_EQ(results[0].error, "No baking thread could be started for this image");
    EXPECT_TRUE(fake.baked.empty());
  }
}

TEST(ParallelBakingTest, ACanvasThatCannotBeMadeFailsThatPhotoBeforeDecoding) {
  FakePlatform fake;
  std::vector<BakeRequest> requests = Requests({"a", "b", "c", "d"});
  requests[1].canvasWidth = 0;
  requests[2].canvasHeight = -3;
  requests[3].canvasWidth = 2000000000;  // x 1.5 would overflow an int
  testing::internal::CaptureStderr();
  const auto results = BakeImagesInParallel(requests, 2, "srgb", 95, fake.Make());
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(results.size(), 4u);
  EXPECT_TRUE(results[0].success);
  for (int i = 1; i < 4; ++i) {
    EXPECT_FALSE(results[i].success) << i;
    EXPECT_EQ(results[i].error, "Failed to render image with effects") << i;
    EXPECT_EQ(results[i].index, i);
  }
  EXPECT_EQ(fake.baked, (std::vector<int>{0}));  // the others never reached the decoder
  EXPECT_THAT(err, testing::HasSubstr("ERROR: Invalid canvas size 0x100 for image 1\n"));
}

// Bakes may overlap; together they bake no more photos at once than the
// process has baking slots (as many as the hardware has threads).
TEST(ParallelBakingTest, OverlappingBakesShareTheProcesssBakingThreads) {
  CountingSlots slots(2);
  std::atomic<int> baking{0};
  std::atomic<int> most{0};
  FakePlatform first;
  FakePlatform second;
  BakingPlatform platforms[] = {first.Make(), second.Make()};
  for (BakingPlatform& platform : platforms) {
    platform.threadSlots = &slots;
    platform.bakeSingleImage = [&](const BakeRequest&, int index, const std::string&,
                                   const std::string&, int) {
      const int now = baking.fetch_add(1) + 1;
      for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      baking.fetch_sub(1);
      return BakeResult{"baked", true, "", index};
    };
  }
  const auto eight = Requests({"a", "b", "c", "d", "e", "f", "g", "h"});
  testing::internal::CaptureStderr();
  std::thread other([&] { BakeImagesInParallel(eight, 4, "srgb", 95, platforms[1]); });
  const auto results = BakeImagesInParallel(eight, 4, "srgb", 95, platforms[0]);
  other.join();
  testing::internal::GetCapturedStderr();
  for (const BakeResult& result : results) EXPECT_TRUE(result.success);
  EXPECT_EQ(most.load(), 2);
}

TEST(ParallelBakingTest, AThreadStartOutOfMemoryIsAThreadThatCouldNotStart) {
  FakePlatform fake;
  fake.failThreadNumber = 0;
  fake.failWithBadAlloc = true;
  testing::internal::CaptureStderr();
  const auto results = BakeImagesInParallel(Requests({"a", "b"}), 2, "srgb", 95, fake.Make());
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              testing::HasSubstr("ERROR: Failed to start baking thread 0: "));
  ASSERT_EQ(results.size(), 2u);
  for (const BakeResult& result : results) {
    EXPECT_EQ(result.error, "No baking thread could be started for this image");
  }
}

}  // namespace
}  // namespace runner
