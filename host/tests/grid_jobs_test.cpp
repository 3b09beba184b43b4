#include "grid_jobs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "color_profiles.h"
#include "page_queue.h"
#include "recording_result.h"

namespace runner::printing {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

EncodableValue GridArguments() {
  EncodableMap map{{S("imagePaths"), EncodableValue(EncodableList{S("a.jpg")})},
                   {S("outputPaths"), EncodableValue(EncodableList{S("page.jpg")})}};
  for (const char* key : {"rows", "columns", "pageWidth", "pageHeight", "marginLeft", "marginRight",
                          "marginTop", "marginBottom"}) {
    map[S(key)] = EncodableValue(10);
  }
  map[S("magnetAspectRatio")] = EncodableValue(0.75);
  return EncodableValue(map);
}

// The poll of a running job: how far it is.
EncodableValue Running(int photosDone, int photosTotal, int pagesDone, int pagesTotal) {
  return EncodableValue(EncodableMap{{S("completed"), EncodableValue(false)},
                                     {S("photosDone"), EncodableValue(photosDone)},
                                     {S("photosTotal"), EncodableValue(photosTotal)},
                                     {S("pagesDone"), EncodableValue(pagesDone)},
                                     {S("pagesTotal"), EncodableValue(pagesTotal)}});
}

// A composition that waits until the test lets it finish.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class GridJobsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetGridComposition(nullptr);
    SetGridJobClock(nullptr);
  }

  std::string Call(void (*handler)(const MethodCall&, std::unique_ptr<MethodResult>),
                   const char* method, EncodableValue arguments, EncodableValue* value = nullptr) {
    std::string text;
    handler(MethodCall(method, std::make_unique<EncodableValue>(std::move(arguments))),
            std::make_unique<RecordingResult>(&text, value));
    return text;
  }
  EncodableValue Poll(std::int32_t id, std::string* text) {
    EncodableValue value;
    *text = Call(&HandleCheckGridJobStatus, "checkGridJobStatus", EncodableValue(id), &value);
    return value;
  }
  bool Succeeded(std::int32_t id) {
    const EncodableValue status = PollUntilCompleted(id);
    const auto* map = status.GetIf<EncodableMap>();
    return map && map->at(S("success")) == EncodableValue(true);
  }
  EncodableValue PollUntilCompleted(std::int32_t id) {
    for (int i = 0; i < 500; ++i) {
      std::string text;
      EncodableValue value = Poll(id, &text);
      const auto& map = value.Get<EncodableMap>();
      if (map.at(S("completed")) == EncodableValue(true)) return value;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "job " << id << " never completed";
    return {};
  }
};

TEST_F(GridJobsTest, WaitingMethodsAnswerTrueOrGridError) {
  GridRequest seen;
  SetGridComposition([&seen](const GridRequest& request, GridProgress&) {
    seen = request;
    GridResult result;
    result.success = request.imagePaths.size() == 1;
    if (!result.success) result.errorMessage = "Failed to create config file";
    return result;
  });
  EncodableValue value;
  EXPECT_EQ(Call(&HandleCreateGridImages, "createGridImages", GridArguments(), &value), "success");
  EXPECT_EQ(value, EncodableValue(true));
  EXPECT_DOUBLE_EQ(seen.magnetAspectRatio, 0.0);  // never passed by the waiting methods

  EncodableValue twoPhotos = GridArguments();
  twoPhotos.Get<EncodableMap>()[S("imagePaths")] = EncodableValue(EncodableList{S("a"), S("b")});
  EXPECT_EQ(Call(&HandleCreateGridImages, "createGridImagesFast", twoPhotos),
            "GRID_ERROR: Failed to create config file");
}

// Both kinds of request are made in the colours chosen when they came.
TEST_F(GridJobsTest, RequestsCarryTheColorProfileStoredWhenTheyCame) {
  auto seen = std::make_shared<std::vector<std::string>>();
  auto seenMutex = std::make_shared<std::mutex>();
  SetGridComposition([seen, seenMutex](const GridRequest& request, GridProgress&) {
    std::lock_guard<std::mutex> lock(*seenMutex);
    seen->push_back(request.colorSelection);
    GridResult result;
    result.success = true;
    return result;
  });
  ASSERT_TRUE(SaveSelectedColorProfile("adobe_rgb"));
  Call(&HandleCreateGridImages, "createGridImages", GridArguments());
  ASSERT_TRUE(SaveSelectedColorProfile("custom:C:\\p.icc"));
  EncodableValue id;
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", GridArguments(), &id);
  ASSERT_TRUE(SaveSelectedColorProfile("srgb"));  // after the request: not its colours
  PollUntilCompleted(id.Get<std::int32_t>());
  std::lock_guard<std::mutex> lock(*seenMutex);
  EXPECT_EQ(*seen, (std::vector<std::string>{"adobe_rgb", "custom:C:\\p.icc"}));
}

// The photos a composition could not read reach the final poll by their
// index in "imagePaths", ascending and once each, whoever told them and in
// whatever order; an empty path is an empty cell, not an unreadable photo.
TEST_F(GridJobsTest, TheFinalPollListsThePhotosThatCouldNotBeRead) {
  SetGridComposition([](const GridRequest&, GridProgress& progress) {
    ComposerOutput output(progress);
    output.Append(
        "Sheetsmith: Unreadable photo 3 cut-short (the file is cut short): d.jpg\n"
        "Sheetsmith: Unreadable frame 2 missing (there is no such file): f.png\n"
        "Sheetsmith: Unreadable photo 1 missing (there is no such file): .\n");
    progress.PhotoUnreadable(0);  // the host's own composer, making a page again
    progress.PhotoUnreadable(0);
    progress.PhotoUnreadable(9);  // past the request's photos
    GridResult result;
    result.success = true;
    return result;
  });
  EncodableValue arguments = GridArguments();
  arguments.Get<EncodableMap>()[S("imagePaths")] =
      EncodableValue(EncodableList{S("a.jpg"), S(""), S("c.jpg"), S("d.jpg")});
  EncodableValue id;
  ASSERT_EQ(Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", arguments, &id),
            "success");
  const EncodableValue done = PollUntilCompleted(id.Get<std::int32_t>());
  EXPECT_EQ(done.Get<EncodableMap>().at(S("unreadablePhotos")),
            EncodableValue(EncodableList{EncodableValue(0), EncodableValue(3)}));
}

TEST_F(GridJobsTest, AsyncJobsArePolledUntilDoneAndThenForgotten) {
  auto gate = std::make_shared<Gate>();
  GridRequest seen;
  std::mutex seenMutex;
  SetGridComposition([gate, &seen, &seenMutex](const GridRequest& request, GridProgress&) {
    gate->Wait();
    std::lock_guard<std::mutex> lock(seenMutex);
    seen = request;
    GridResult result;
    result.success = true;
    result.totalTimeMs = 42;
    return result;
  });
  EncodableValue first;
  EncodableValue second;
  ASSERT_EQ(
      Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", GridArguments(), &first),
      "success");
  ASSERT_EQ(
      Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", GridArguments(), &second),
      "success");
  const std::int32_t id = first.Get<std::int32_t>();
  EXPECT_GE(id, 1);
  EXPECT_EQ(second.Get<std::int32_t>(), id + 1);

  std::string text;
  EXPECT_EQ(Poll(id, &text), Running(0, 1, 0, 1));
  EXPECT_EQ(Poll(id, &text), Running(0, 1, 0, 1));  // still there
  gate->Open();
  EXPECT_EQ(PollUntilCompleted(id),
            EncodableValue(EncodableMap{{S("completed"), EncodableValue(true)},
                                        {S("success"), EncodableValue(true)},
                                        {S("errorMessage"), EncodableValue("")},
                                        {S("totalTimeMs"), EncodableValue(42)},
                                        {S("unreadablePhotos"), EncodableValue(EncodableList{})}}));
  Poll(id, &text);
  EXPECT_EQ(text, "JOB_NOT_FOUND: Job ID not found: " + std::to_string(id));
  PollUntilCompleted(id + 1);
  std::lock_guard<std::mutex> lock(seenMutex);
  EXPECT_DOUBLE_EQ(seen.magnetAspectRatio, 0.75);
}

TEST_F(GridJobsTest, FinishedJobsNobodyPollsAreForgottenAfterTenMinutes) {
  std::mutex clockMutex;
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  SetGridJobClock([&] {
    std::lock_guard<std::mutex> lock(clockMutex);
    return now;
  });
  auto advance = [&](std::chrono::seconds by) {
    std::lock_guard<std::mutex> lock(clockMutex);
    now += by;
  };
  auto gate = std::make_shared<Gate>();
  SetGridComposition([gate](const GridRequest& request, GridProgress&) {
    if (request.rows == 1) gate->Wait();
    GridResult result;
    result.success = true;
    return result;
  });
  EncodableMap slow = GridArguments().Get<EncodableMap>();
  slow[S("rows")] = EncodableValue(1);
  EncodableValue finished;
  EncodableValue kept;
  EncodableValue running;
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", GridArguments(), &finished);
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", GridArguments(), &kept);
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", EncodableValue(slow),
       &running);
  // Wait until both quick jobs are done without polling them.
  for (int i = 0; i < 500 && RunningGridJobs() > 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(RunningGridJobs(), 1);

  advance(std::chrono::minutes(9) + std::chrono::seconds(59));
  std::string text;
  EXPECT_EQ(Poll(kept.Get<std::int32_t>(), &text).Get<EncodableMap>().at(S("completed")),
            EncodableValue(true));  // still there just before the limit
  advance(std::chrono::seconds(1));
  Poll(finished.Get<std::int32_t>(), &text);
  EXPECT_EQ(text,
            "JOB_NOT_FOUND: Job ID not found: " + std::to_string(finished.Get<std::int32_t>()));
  // A job still running never expires, however long it takes.
  advance(std::chrono::hours(2));
  EXPECT_EQ(Poll(running.Get<std::int32_t>(), &text).Get<EncodableMap>().at(S("completed")),
            EncodableValue(false));
  gate->Open();
  EXPECT_EQ(PollUntilCompleted(running.Get<std::int32_t>()).Get<EncodableMap>().at(S("success")),
            EncodableValue(true));
}

TEST_F(GridJobsTest, AJobThatThrowsCompletesAsAFailure) {
  SetGridComposition([](const GridRequest&, GridProgress&) -> GridResult {
    throw std::runtime_error("disk full");
  });
  EncodableValue id;
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", GridArguments(), &id);
  const EncodableValue status = PollUntilCompleted(id.Get<std::int32_t>());
  EXPECT_EQ(status.Get<EncodableMap>().at(S("success")), EncodableValue(false));
  EXPECT_EQ(status.Get<EncodableMap>().at(S("errorMessage")), EncodableValue("disk full"));
  std::string text;
  Poll(id.Get<std::int32_t>(), &text);
  EXPECT_EQ(text, "JOB_NOT_FOUND: Job ID not found: " + std::to_string(id.Get<std::int32_t>()));
}

// Background jobs compose two at a time, the others wait their turn; a
// waiting request starts at once even while two jobs hold both turns.
TEST_F(GridJobsTest, BackgroundJobsComposeTwoAtATimeAndAWaitingRequestNeverWaits) {
  auto gate = std::make_shared<Gate>();
  auto composing = std::make_shared<std::atomic<int>>(0);
  auto most = std::make_shared<std::atomic<int>>(0);
  SetGridComposition([gate, composing, most](const GridRequest& request, GridProgress&) {
    const int now = composing->fetch_add(1) + 1;
    for (int seen = most->load(); now > seen && !most->compare_exchange_weak(seen, now);) {
    }
    if (request.rows == 1) gate->Wait();  // the background jobs
    composing->fetch_sub(1);
    GridResult result;
    result.success = true;
    return result;
  });
  EncodableMap background = GridArguments().Get<EncodableMap>();
  background[S("rows")] = EncodableValue(1);
  std::vector<std::int32_t> ids;
  for (int i = 0; i < 3; ++i) {
    // Each for pages of its own: requests for the same pages wait for each other.
    background[S("outputPaths")] =
        EncodableValue(EncodableList{EncodableValue("page" + std::to_string(i) + ".jpg")});
    EncodableValue id;
    Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", EncodableValue(background),
         &id);
    ids.push_back(id.Get<std::int32_t>());
  }
  for (int i = 0; i < 500 && composing->load() < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for a third to start
  EXPECT_EQ(most->load(), kMaxConcurrentComposers);

  auto waiting = std::async(std::launch::async, [this] {
    EncodableValue arguments = GridArguments();
    arguments.Get<EncodableMap>()[S("outputPaths")] = EncodableValue(EncodableList{S("other.jpg")});
    return Call(&HandleCreateGridImages, "createGridImages", arguments);
  });
  const bool answered = waiting.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  EXPECT_TRUE(answered) << "the waiting request waited for a background job";
  EXPECT_EQ(most->load(), kMaxConcurrentComposers + 1);
  gate->Open();
  if (answered) {
    EXPECT_EQ(waiting.get(), "success");
  }
  for (const std::int32_t id : ids) PollUntilCompleted(id);
}

// Requests for a page another request is still composing are composed after
// it, in the order they came, whether waiting or in the background and
// however the path is spelt; a request for other pages goes ahead.
TEST_F(GridJobsTest, RequestsForTheSamePagesComposeInTurnInTheOrderTheyCame) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> started;  // each request's rows, in the order it began composing
    std::set<int> released;
  };
  auto shared = std::make_shared<Shared>();
  SetGridComposition([shared](const GridRequest& request, GridProgress&) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->started.push_back(request.rows);
    shared->changed.notify_all();
    shared->changed.wait(lock, [&] { return shared->released.count(request.rows) != 0; });
    GridResult result;
    result.success = true;
    return result;
  });
  const auto arguments = [](int rows, const char* page) {
    EncodableMap map = GridArguments().Get<EncodableMap>();
    map[S("rows")] = EncodableValue(rows);
    map[S("outputPaths")] = EncodableValue(EncodableList{S("C:\\pages\\x.jpg"), S(page)});
    return EncodableValue(map);
  };
  // The requests begun so far; the first two, which begin at once on
  // threads of their own, in either order.
  const auto startedSoFar = [shared](std::size_t count) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->changed.wait_for(lock, std::chrono::seconds(10),
                             [&] { return shared->started.size() >= count; });
    std::vector<int> started = shared->started;
    if (started.size() >= 2) std::sort(started.begin(), started.begin() + 2);
    return started;
  };
  const auto release = [shared](int rows) {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->released.insert(rows);
    shared->changed.notify_all();
  };
  EncodableValue first;
  EncodableValue second;
  EncodableValue other;
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync",
       arguments(1, "C:\\pages\\page 1.jpg"), &first);
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync",
       arguments(2, "c:/PAGES/Page 1.jpg"), &second);
  auto waiting = std::async(std::launch::async, [&] {
    return Call(&HandleCreateGridImages, "createGridImages", arguments(3, "C:\\pages\\page 1.jpg"));
  });
  // Whatever fails, every composition is let go before the test ends.
  struct ReleaseAll {
    std::function<void(int)> release;
    ~ReleaseAll() {
      for (int rows = 1; rows <= 4; ++rows) release(rows);
    }
  } releaseAll{release};
  // Only the first of the three for page 1 composes; a job for other pages
  // goes ahead beside it.
  EncodableMap elsewhere = GridArguments().Get<EncodableMap>();
  elsewhere[S("rows")] = EncodableValue(4);
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", EncodableValue(elsewhere),
       &other);
  EXPECT_EQ(startedSoFar(2), (std::vector<int>{1, 4}));
  release(4);
  EXPECT_TRUE(Succeeded(other.Get<std::int32_t>()));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // room for one to start early
  EXPECT_EQ(startedSoFar(2), (std::vector<int>{1, 4}));
  release(1);
  EXPECT_EQ(startedSoFar(3), (std::vector<int>{1, 4, 2}));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(startedSoFar(3), (std::vector<int>{1, 4, 2}));
  EXPECT_TRUE(Succeeded(first.Get<std::int32_t>()));
  release(2);
  EXPECT_EQ(startedSoFar(4), (std::vector<int>{1, 4, 2, 3}));
  release(3);
  EXPECT_EQ(waiting.get(), "success");
  PollUntilCompleted(second.Get<std::int32_t>());
  EXPECT_EQ(GridPageQueue().Size(), 0);
}

// A running job's poll tells how far it is; the counts never go back.
TEST_F(GridJobsTest, APollOfARunningJobTellsItsProgress) {
  auto gate = std::make_shared<Gate>();
  auto reported = std::make_shared<Gate>();
  SetGridComposition([gate, reported](const GridRequest&, GridProgress& progress) {
    progress.PhotosDone(5);
    progress.PagesDone(1);
    progress.PhotosDone(2);  // a fallback starting again counts from where it was
    reported->Open();
    gate->Wait();
    return GridResult{};
  });
  EncodableMap arguments = GridArguments().Get<EncodableMap>();
  arguments[S("imagePaths")] = EncodableValue(EncodableList(9, S("a.jpg")));
  arguments[S("outputPaths")] = EncodableValue(EncodableList(2, S("page.jpg")));
  arguments[S("rows")] = EncodableValue(2);
  arguments[S("columns")] = EncodableValue(2);
  EncodableValue id;
  Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", EncodableValue(arguments),
       &id);
  reported->Wait();
  std::string text;
  // Nine photos, but two pages of four cells place eight.
  EXPECT_EQ(Poll(id.Get<std::int32_t>(), &text), Running(5, 8, 1, 2));
  gate->Open();
  PollUntilCompleted(id.Get<std::int32_t>());
}

TEST_F(GridJobsTest, PollArgumentsMustBeAnInt32AndBadRequestsStartNoJob) {
  int compositions = 0;
  SetGridComposition([&compositions](const GridRequest&, GridProgress&) {
    ++compositions;
    return GridResult{};
  });
  for (EncodableValue wrong :
       {EncodableValue(EncodableMap{}), S("1"), EncodableValue(std::int64_t{1})}) {
    EXPECT_EQ(Call(&HandleCheckGridJobStatus, "checkGridJobStatus", wrong),
              "INVALID_ARGUMENTS: Expected job ID as integer");
  }
  EXPECT_EQ(Call(&HandleCheckGridJobStatus, "checkGridJobStatus", EncodableValue(-7)),
            "JOB_NOT_FOUND: Job ID not found: -7");
  EncodableValue bad = GridArguments();
  bad.Get<EncodableMap>()[S("imageEffects")] = S("none");
  EXPECT_EQ(Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", bad),
            "INVALID_ARGUMENTS: imageEffects must be a list");
  EXPECT_EQ(Call(&HandleCreateGridImagesFastAsync, "createGridImagesFastAsync", S("x")),
            "INVALID_ARGUMENTS: Expected map of arguments");
  EXPECT_EQ(compositions, 0);
}

}  // namespace
}  // namespace runner::printing
