#include "analysis_handlers.h"

#include <gtest/gtest.h>

#include <cmath>

#include "recording_result.h"

namespace runner {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

struct Answered {
  std::string text;
  EncodableValue value;
};

template <typename Handler>
Answered Call(const Handler& handler, const char* method, EncodableValue arguments) {
  Answered answered;
  handler(MethodCall(method, std::make_unique<EncodableValue>(std::move(arguments))),
          std::make_unique<RecordingResult>(&answered.text, &answered.value));
  return answered;
}

class FaceHandlerTest : public ::testing::Test {
 protected:
  Answered Detect(const char* method, EncodableValue arguments, bool workerStarts = true) {
    return Call(
        [&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
          HandleDetectFaces(
              call, std::move(result), reinterpret_cast<void*>(0x1234),
              [&](std::unique_ptr<FaceDetectionJob>& job) {
                if (!workerStarts) return false;
                started = std::move(job);
                return true;
              },
              [&](const std::string& line) { lines += line; });
        },
        method, std::move(arguments));
  }
  std::unique_ptr<FaceDetectionJob> started;
  std::string lines;
};

TEST_F(FaceHandlerTest, ArgumentsItCannotUseAreAnsweredAtOnce) {
  EXPECT_EQ(Detect("detectFaces", EncodableValue(EncodableMap{})).text, "not implemented");
  const Answered notMap = Detect("detectFacesWindows", S("C:\\a.jpg"));
  EXPECT_EQ(notMap.text, "success");
  EXPECT_TRUE(notMap.value.IsNull());
  for (EncodableValue arguments :
       {EncodableValue(EncodableMap{}),
        EncodableValue(EncodableMap{{S("imagePaths"), S("C:\\a.jpg")}})}) {
    const Answered empty = Detect("detectFacesWindows", arguments);
    EXPECT_EQ(empty.value, EncodableValue(EncodableList{}));
  }
  EXPECT_FALSE(started);
  EXPECT_TRUE(lines.empty());
}

TEST_F(FaceHandlerTest, StringPathsGoToTheWorkerWithTheResultAndTheWindow) {
  const Answered answered =
      Detect("detectFacesWindows",
             EncodableValue(EncodableMap{
                 {S("imagePaths"), EncodableValue(EncodableList{S("C:\\a.jpg"), EncodableValue(5),
                                                                S("D:\\\xD7\xA9.jpg")})}}));
  EXPECT_TRUE(answered.text.empty());  // the worker answers later
  ASSERT_TRUE(started);
  EXPECT_EQ(started->paths, (std::vector<std::string>{"C:\\a.jpg", "D:\\\xD7\xA9.jpg"}));
  EXPECT_EQ(started->window, reinterpret_cast<void*>(0x1234));
  ASSERT_TRUE(started->result);
  EXPECT_EQ(lines, "FD: channel detectFacesWindows, paths=2 first=\"C:\\a.jpg\"\n");
}

TEST_F(FaceHandlerTest, AWorkerThatCannotStartIsAnsweredOnceFromTheHandler) {
  const Answered answered =
      Detect("detectFacesWindows",
             EncodableValue(
                 EncodableMap{{S("imagePaths"), EncodableValue(EncodableList{S("C:\\a.jpg")})}}),
             false);
  EXPECT_EQ(answered.text, "success");
  EXPECT_EQ(answered.value,
            EncodableValue(EncodableList{FaceEntry("C:\\a.jpg", {}, "FD: worker_start_failed")}));
}

TEST(FaceEntryTest, BoxesAreDoublesUnderTheirKeys) {
  const EncodableValue entry = FaceEntry("p", {{1.5, 2, 3, 4}}, "FD: x\n");
  const auto& map = entry.Get<EncodableMap>();
  EXPECT_EQ(map.at(S("imagePath")), S("p"));
  EXPECT_EQ(map.at(S("debugInfo")), S("FD: x\n"));
  EXPECT_EQ(map.at(S("faces")), EncodableValue(EncodableList{EncodableValue(
                                    EncodableMap{{S("left"), EncodableValue(1.5)},
                                                 {S("top"), EncodableValue(2.0)},
                                                 {S("width"), EncodableValue(3.0)},
                                                 {S("height"), EncodableValue(4.0)}})}));
}

Answered Thumbnail(EncodableMap arguments, std::vector<PixelSize>* asked) {
  return Call(
      [&](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        HandleGetThumbnail(call, std::move(result), [&](const std::string&, PixelSize size) {
          asked->push_back(size);
          return std::optional<std::vector<std::uint8_t>>(std::vector<std::uint8_t>{0x89, 'P'});
        });
      },
      "getThumbnail", EncodableValue(std::move(arguments)));
}

TEST(ThumbnailHandlerTest, TheShellIsAskedForTheLogicalSizeTimesTheScale) {
  std::vector<PixelSize> asked;
  EncodableMap arguments{{S("path"), S("C:\\a.jpg")},
                         {S("width"), EncodableValue(200)},
                         {S("height"), EncodableValue(150)}};
  arguments[S("scale")] = EncodableValue(1.5);
  EXPECT_EQ(Thumbnail(arguments, &asked).value,
            EncodableValue(std::vector<std::uint8_t>{0x89, 'P'}));
  arguments[S("scale")] = EncodableValue(2);  // an int32 is a scale too
  Thumbnail(arguments, &asked);
  arguments[S("scale")] = EncodableValue(-1.0);
  Thumbnail(arguments, &asked);
  EXPECT_EQ(asked, (std::vector<PixelSize>{{300, 225}, {400, 300}, {200, 150}}));
}

TEST(ThumbnailHandlerTest, MissingOrUnusableArgumentsAnswerNullWithoutAsking) {
  std::vector<PixelSize> asked;
  const EncodableMap good{{S("path"), S("C:\\a.jpg")},
                          {S("width"), EncodableValue(200)},
                          {S("height"), EncodableValue(150)}};
  std::vector<EncodableMap> bad(6, good);
  bad[0][S("path")] = S("");
  bad[1][S("width")] = EncodableValue(std::int64_t{200});
  bad[2][S("height")] = EncodableValue(150.0);
  bad[3][S("width")] = EncodableValue(0);
  bad[4][S("scale")] = EncodableValue(std::nan(""));
  bad[5][S("scale")] = EncodableValue(HUGE_VAL);
  for (std::size_t i = 0; i < bad.size(); ++i) {
    const Answered answered = Thumbnail(bad[i], &asked);
    EXPECT_EQ(answered.text, "success") << i;
    EXPECT_TRUE(answered.value.IsNull()) << i;
  }
  EXPECT_TRUE(asked.empty());
}

TEST(QuickMetaTest, QuarterTurnsSwapAndTheOriginalDateComesFirst) {
  PhotoHeader header{4000, 3000, true, 6, "2024:05:17 08:30:00", "2030:01:01 00:00:00"};
  EXPECT_EQ(QuickMetaAnswer(header),
            EncodableValue(EncodableMap{
                {S("width"), EncodableValue(3000)},
                {S("height"), EncodableValue(4000)},
                {S("capturedAtMillis"), EncodableValue(std::int64_t{1715934600000})}}));
  header.orientation = 3;
  header.dateTaken.reset();  // only the TIFF date
  EXPECT_EQ(QuickMetaAnswer(header),
            EncodableValue(EncodableMap{
                {S("width"), EncodableValue(4000)},
                {S("height"), EncodableValue(3000)},
                {S("capturedAtMillis"), EncodableValue(std::int64_t{1893456000000})}}));
  header.dateChanged = "                   ";  // the EXIF placeholder
  EXPECT_EQ(QuickMetaAnswer(header).Get<EncodableMap>().count(S("capturedAtMillis")), 0u);
  // Without a metadata reader nothing but the size is used.
  const PhotoHeader bare{640, 480, false, 6, "2024:05:17 08:30:00", std::nullopt};
  EXPECT_EQ(QuickMetaAnswer(bare),
            EncodableValue(EncodableMap{{S("width"), EncodableValue(640)},
                                        {S("height"), EncodableValue(480)}}));
}

TEST(QuickMetaTest, HandlerAnswersNullForNoPathOrAnUnreadablePhoto) {
  int read = 0;
  const auto handler = [&](bool readable) {
    return [&, readable](const MethodCall& call, std::unique_ptr<MethodResult> result) {
      HandleGetQuickMeta(call, std::move(result), [&, readable](const std::string&) {
        ++read;
        return readable ? std::optional<PhotoHeader>(
                              PhotoHeader{10, 20, false, std::nullopt, std::nullopt, std::nullopt})
                        : std::nullopt;
      });
    };
  };
  EXPECT_EQ(Call(handler(true), "getMeta", EncodableValue(EncodableMap{})).text, "not implemented");
  EXPECT_TRUE(Call(handler(true), "getQuickMeta", S("x")).value.IsNull());
  EXPECT_TRUE(Call(handler(true), "getQuickMeta", EncodableValue(EncodableMap{{S("path"), S("")}}))
                  .value.IsNull());
  EXPECT_EQ(read, 0);
  EXPECT_TRUE(Call(handler(false), "getQuickMeta",
                   EncodableValue(EncodableMap{{S("path"), S("C:\\gone.jpg")}}))
                  .value.IsNull());
  EXPECT_EQ(
      Call(handler(true), "getQuickMeta", EncodableValue(EncodableMap{{S("path"), S("C:\\a.png")}}))
          .value,
      EncodableValue(
          EncodableMap{{S("width"), EncodableValue(10)}, {S("height"), EncodableValue(20)}}));
}

}  // namespace
}  // namespace runner
