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
  auto* record =
      new FaceResultsRecord{std::make_unique<LoggingResult>(&log, false),
                            EncodableValue(EncodableList{EncodableValue(), EncodableValue()})};
  EXPECT_EQ(AnswerFaceResults(reinterpret_cast<std::intptr_t>(record)), 0);
  EXPECT_EQ(log.answer, "list of 2");
  EXPECT_TRUE(log.destroyed);
}

TEST(FaceResultsTest, AnExceptionOutOfTheAnswerIsSwallowedAndTheRecordFreed) {
  Log log;
  auto* record =
      new FaceResultsRecord{std::make_unique<LoggingResult>(&log, true), EncodableValue()};
  EXPECT_EQ(AnswerFaceResults(reinterpret_cast<std::intptr_t>(record)), 0);
  EXPECT_TRUE(log.destroyed);
}

}  // namespace
}  // namespace runner
