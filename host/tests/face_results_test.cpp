#include "face_results.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace runner {
namespace {

struct Log {
  std::string answer;
  bool destroyed = false;
};

class LoggingResult : public MethodResult {
 public:
  LoggingResult(Log* log, bool throwOnSuccess) : log_(log), throw_(throwOnSuccess) {}
  ~LoggingResult() override { log_->destroyed = true; }

 protected:
  void SuccessInternal(const EncodableValue* value) override {
    if (throw_) throw std::runtime_error("engine gone");
    log_->answer = value && value->Is<EncodableList>()
                       ? "list of " + std::to_string(value->Get<EncodableList>().size())
                       : "other";
  }
  void ErrorInternal(const std::string&, const std::string&, const EncodableValue*) override {}
  void NotImplementedInternal() override {}

 private:
  Log* log_;
  bool throw_;
};

TEST(FaceResultsTest, ZeroDoesNothing) { EXPECT_EQ(AnswerFaceResults(0), 0); }

TEST(FaceResultsTest, ARecordIsAnsweredWithItsValueAndFreed) {
  Log log;
  const std::intptr_t address = HandOutFaceResults(std::make_unique<FaceResultsRecord>(
      FaceResultsRecord{std::make_unique<LoggingResult>(&log, false),
                        EncodableValue(EncodableList{EncodableValue(), EncodableValue()})}));
  EXPECT_EQ(OutstandingFaceResults(), 1u);
  EXPECT_EQ(AnswerFaceResults(address), 0);
  EXPECT_EQ(log.answer, "list of 2");
  EXPECT_TRUE(log.destroyed);
  EXPECT_EQ(OutstandingFaceResults(), 0u);
  // A second message with the same address finds nothing to free.
  EXPECT_EQ(AnswerFaceResults(address), 0);
}

TEST(FaceResultsTest, AddressesThatNoWorkerHandedOutAreIgnored) {
  Log log;
  // A record that exists but was never handed out: a foreign post must not
  // answer or free it.
  auto stray = std::make_unique<FaceResultsRecord>(
      FaceResultsRecord{std::make_unique<LoggingResult>(&log, false), EncodableValue()});
  EXPECT_EQ(AnswerFaceResults(reinterpret_cast<std::intptr_t>(stray.get())), 0);
  EXPECT_EQ(AnswerFaceResults(0x12345678), 0);
  EXPECT_EQ(AnswerFaceResults(-1), 0);
  EXPECT_TRUE(log.answer.empty());
  EXPECT_FALSE(log.destroyed);
}

TEST(FaceResultsTest, AWorkerTakesBackARecordTheWindowNeverGot) {
  Log log;
  const std::intptr_t address = HandOutFaceResults(std::make_unique<FaceResultsRecord>(
      FaceResultsRecord{std::make_unique<LoggingResult>(&log, false), EncodableValue()}));
  std::unique_ptr<FaceResultsRecord> back = TakeBackFaceResults(address);
  ASSERT_TRUE(back);
  EXPECT_EQ(AnswerFaceResults(address), 0);  // gone from the set: not answered twice
  EXPECT_TRUE(log.answer.empty());
  EXPECT_EQ(TakeBackFaceResults(address), nullptr);
}

TEST(FaceResultsTest, AnExceptionOutOfTheAnswerIsSwallowedAndTheRecordFreed) {
  Log log;
  const std::intptr_t address = HandOutFaceResults(std::make_unique<FaceResultsRecord>(
      FaceResultsRecord{std::make_unique<LoggingResult>(&log, true), EncodableValue()}));
  EXPECT_EQ(AnswerFaceResults(address), 0);
  EXPECT_TRUE(log.destroyed);
}

}  // namespace
}  // namespace runner
