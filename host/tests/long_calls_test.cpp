#include "long_calls.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "recording_result.h"

namespace runner {
namespace {

// The window's message queue, as far as long calls use it: records posted
// from workers, taken on the test's thread as the window takes them.
class FakeWindow {
 public:
  FakeWindow() {
    SetAnswerPoster([this](std::intptr_t record) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return false;
      posted_.push_back(record);
      changed_.notify_all();
      return true;
    });
  }
  ~FakeWindow() { SetAnswerPoster(nullptr); }

  // Answers the next posted record, waiting for one.
  void AnswerNext() {
    std::intptr_t record = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ASSERT_TRUE(
          changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !posted_.empty(); }));
      record = posted_.front();
      posted_.pop_front();
    }
    AnswerLongCall(record);
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::intptr_t> posted_;
  bool closed_ = false;
};

Answer Says(std::string text) {
  return [text](MethodResult& result) { result.Success(EncodableValue(text)); };
}

// The print queue takes its calls one at a time in the order they came, off
// the calling thread; each answer is given where the window takes it.
TEST(LongCallsTest, PrintQueueCallsRunInOrderAndAnswerWhereTheWindowTakesThem) {
  FakeWindow window;
  std::mutex mutex;
  std::vector<std::string> ran;
  std::string first, second;
  EncodableValue firstValue, secondValue;
  const std::thread::id caller = std::this_thread::get_id();
  bool offTheCaller = true;
  for (auto [name, text, value] :
       {std::tuple{"first", &first, &firstValue}, std::tuple{"second", &second, &secondValue}}) {
    RunLongCall(std::make_unique<RecordingResult>(text, value), LongCallLane::kPrintQueue,
                [&, name = std::string(name)] {
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
                  std::lock_guard<std::mutex> lock(mutex);
                  ran.push_back(name);
                  offTheCaller = offTheCaller && std::this_thread::get_id() != caller;
                  return Says(name);
                });
  }
  EXPECT_EQ(first, "") << "answered before the window took it";
  window.AnswerNext();
  window.AnswerNext();
  EXPECT_EQ(firstValue, EncodableValue("first"));
  EXPECT_EQ(secondValue, EncodableValue("second"));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
  EXPECT_TRUE(offTheCaller);
}

// Work that throws is answered as the channel answers a handler that
// throws; a window that no longer takes posts does not lose the answer's
// record: it is answered where the worker is.
TEST(LongCallsTest, ThrowingWorkAndAClosedWindowStillAnswerOnce) {
  FakeWindow window;
  std::string text;
  testing::internal::CaptureStderr();
  RunLongCall(std::make_unique<RecordingResult>(&text), LongCallLane::kOwnThread,
              []() -> Answer { throw std::runtime_error("disk full"); });
  window.AnswerNext();
  EXPECT_EQ(text, "INTERNAL_ERROR: disk full");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: Exception on channel printing_channel: disk full\n");

  window.Close();
  std::string late;
  RunLongCall(std::make_unique<RecordingResult>(&late), LongCallLane::kOwnThread,
              [] { return Says("late"); });
  EXPECT_EQ(FinishWorkers(std::chrono::seconds(10)), 0);
  EXPECT_EQ(late, "success");
  EXPECT_EQ(WorkersAtWork(), 0);
}

}  // namespace
}  // namespace runner
