#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "engine_method_result.h"
#include "messenger_double.h"
#include "method_channel.h"

namespace runner {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

Bytes Call(const std::string& method, EncodableValue arguments = EncodableValue()) {
  return Codec().EncodeMethodCall(
      MethodCall(method, std::make_unique<EncodableValue>(std::move(arguments))));
}

class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { messenger_double::Reset(); }
  void TearDown() override { messenger_double::Reset(); }
  FlutterDesktopMessengerRef messenger() { return messenger_double::Messenger(); }
};

TEST_F(ChannelTest, CallsReachTheHandlerAndAnswersGoBackOnce) {
  MethodChannel channel(messenger(), "printing_channel");
  std::string seen;
  channel.SetMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    seen = call.method_name();
    result->Success(EncodableValue(std::int32_t{5}));
  });
  ASSERT_TRUE(messenger_double::Deliver("printing_channel", Call("getPrinters")));
  EXPECT_EQ(seen, "getPrinters");
  const auto responses = messenger_double::Responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].channel, "printing_channel");
  EXPECT_EQ(responses[0].data, (Bytes{0x00, 0x03, 0x05, 0x00, 0x00, 0x00}));
  EXPECT_EQ(messenger_double::UnlockedSends(), 0);
}

TEST_F(ChannelTest, UndecodableCallGetsAnEmptyReplyAndItsLine) {
  MethodChannel channel(messenger(), "thumbnail_channel");
  bool called = false;
  channel.SetMethodCallHandler([&](const MethodCall&, std::unique_ptr<MethodResult> result) {
    called = true;
    result->NotImplemented();
  });
  testing::internal::CaptureStderr();
  messenger_double::Deliver("thumbnail_channel", Bytes{0x03, 0x05, 0x00, 0x00, 0x00, 0x00});
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(called);
  EXPECT_THAT(err, HasSubstr("Unable to construct method call from message on channel "
                             "thumbnail_channel\n"));
  ASSERT_EQ(messenger_double::Responses().size(), 1u);
  EXPECT_TRUE(messenger_double::Responses()[0].data.empty());
}

TEST_F(ChannelTest, SettingAHandlerAgainReplacesTheFirst) {
  MethodChannel channel(messenger(), "media_info_channel");
  int first = 0;
  int second = 0;
  channel.SetMethodCallHandler([&](const MethodCall&, std::unique_ptr<MethodResult> r) {
    ++first;
    r->NotImplemented();
  });
  channel.SetMethodCallHandler([&](const MethodCall&, std::unique_ptr<MethodResult> r) {
    ++second;
    r->NotImplemented();
  });
  messenger_double::Deliver("media_info_channel", Call("getQuickMeta"));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 1);
  channel.SetMethodCallHandler(nullptr);
  EXPECT_FALSE(messenger_double::HasCallback("media_info_channel"));
}

TEST_F(ChannelTest, DuplicateAnswersAndUnansweredResults) {
  MethodChannel channel(messenger(), "printing_channel");
  std::unique_ptr<MethodResult> kept;
  channel.SetMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    if (call.method_name() == "twice") {
      result->Error("PRINTER_ERROR", "Failed");
      result->Success();
    } else if (call.method_name() == "keep") {
      kept = std::move(result);
    }  // "drop": destroyed unanswered
  });
  testing::internal::CaptureStderr();
  messenger_double::Deliver("printing_channel", Call("twice"));
  messenger_double::Deliver("printing_channel", Call("drop"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("Error: Only one of Success, Error, or NotImplemented can be called, "
                             "and it can be called exactly once. Ignoring duplicate result.\n"));
  EXPECT_THAT(err, HasSubstr("Warning: Failed to respond to a message. This is a memory leak.\n"));
  const auto responses = messenger_double::Responses();
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].data[0], 0x01);  // the error went out, the success did not

  // A result answered later from another thread, under the lock.
  messenger_double::Deliver("printing_channel", Call("keep"));
  ASSERT_TRUE(kept);
  std::thread worker([result = std::move(kept)] { result->Success(EncodableValue(true)); });
  worker.join();
  ASSERT_EQ(messenger_double::Responses().size(), 2u);
  EXPECT_EQ(messenger_double::Responses()[1].data, (Bytes{0x00, 0x01}));
  EXPECT_EQ(messenger_double::UnlockedSends(), 0);
}

TEST_F(ChannelTest, NotImplementedIsZeroBytesAndNothingGoesToAGoneEngine) {
  MethodChannel channel(messenger(), "face_rects_channel");
  std::unique_ptr<MethodResult> kept;
  channel.SetMethodCallHandler([&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    if (call.method_name() == "later") {
      kept = std::move(result);
    } else {
      result->NotImplemented();
    }
  });
  messenger_double::Deliver("face_rects_channel", Call("unknownMethod"));
  ASSERT_EQ(messenger_double::Responses().size(), 1u);
  EXPECT_TRUE(messenger_double::Responses()[0].data.empty());

  messenger_double::Deliver("face_rects_channel", Call("later"));
  messenger_double::SetAvailable(false);
  kept->Success(EncodableValue(1));
  EXPECT_EQ(messenger_double::Responses().size(), 1u);  // dropped silently
}

TEST_F(ChannelTest, AReplyHandleIsUsedOnce) {
  const BinaryReply reply = MakeResponseSender(
      messenger(), reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(0x99));
  const std::uint8_t byte = 7;
  testing::internal::CaptureStderr();
  reply(&byte, 1);
  reply(&byte, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Response can be set only once. Ignoring duplicate response.\n");
  EXPECT_EQ(messenger_double::Responses().size(), 1u);
}

TEST_F(ChannelTest, ReferencesAreReturnedAndAChannelForgetsItsCallback) {
  {
    MethodChannel channel(messenger(), "printing_channel");
    channel.SetMethodCallHandler(
        [](const MethodCall&, std::unique_ptr<MethodResult> r) { r->NotImplemented(); });
    messenger_double::Deliver("printing_channel", Call("x"));
    EXPECT_GT(messenger_double::OutstandingReferences(), 0);
  }
  EXPECT_EQ(messenger_double::OutstandingReferences(), 0);
  EXPECT_FALSE(messenger_double::HasCallback("printing_channel"));
  EXPECT_EQ(messenger_double::Registrations(),
            (std::vector<std::string>{"printing_channel", "printing_channel (removed)"}));
}

TEST_F(ChannelTest, AHandlerThatThrowsIsAnsweredWithAnInternalError) {
  MethodChannel channel(messenger(), "printing_channel");
  channel.SetMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    if (call.method_name() == "answerThenThrow") result->Success(EncodableValue(1));
    throw std::runtime_error("disk on fire");
  });
  testing::internal::CaptureStderr();
  ASSERT_TRUE(messenger_double::Deliver("printing_channel", Call("throw")));
  ASSERT_TRUE(messenger_double::Deliver("printing_channel", Call("answerThenThrow")));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, HasSubstr("ERROR: Exception on channel printing_channel: disk on fire\n"));
  const auto responses = messenger_double::Responses();
  ASSERT_EQ(responses.size(), 2u);
  EXPECT_EQ(responses[0].data,
            Codec().EncodeErrorEnvelope("INTERNAL_ERROR", "disk on fire", nullptr));
  const EncodableValue one(std::int32_t{1});
  EXPECT_EQ(responses[1].data, Codec().EncodeSuccessEnvelope(&one));
  EXPECT_THAT(err, ::testing::Not(HasSubstr("Response can be set only once")));
}

TEST_F(ChannelTest, ANewChannelOfTheSameNameOutlivesTheOneItReplaces) {
  int served = 0;
  auto handler = [&](const MethodCall&, std::unique_ptr<MethodResult> result) {
    ++served;
    result->Success();
  };
  auto first = std::make_unique<MethodChannel>(messenger(), "printing_channel");
  first->SetMethodCallHandler(handler);
  auto second = std::make_unique<MethodChannel>(messenger(), "printing_channel");
  second->SetMethodCallHandler(handler);
  first = std::move(second);  // the old channel goes after the new one registered
  ASSERT_TRUE(messenger_double::HasCallback("printing_channel"));
  ASSERT_TRUE(messenger_double::Deliver("printing_channel", Call("getPrintersWindows")));
  EXPECT_EQ(served, 1);
  first.reset();
  EXPECT_FALSE(messenger_double::HasCallback("printing_channel"));
}

}  // namespace
}  // namespace runner
