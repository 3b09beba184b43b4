#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "standard_codec.h"

namespace runner {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const EncodableValue& value) {
  Bytes bytes;
  ByteStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, writer);
  return bytes;
}

EncodableValue Decode(const Bytes& bytes) {
  ByteStreamReader reader(bytes.data(), bytes.size());
  return StandardCodecSerializer::GetInstance().ReadValue(reader);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

const StandardMethodCodec& Codec() { return StandardMethodCodec::GetInstance(); }

TEST(CodecBytesTest, KnownEncodings) {
  EXPECT_EQ(Encode(EncodableValue(std::int32_t{5})), (Bytes{0x03, 0x05, 0x00, 0x00, 0x00}));

  const EncodableValue one(1.0);
  EXPECT_EQ(Codec().EncodeSuccessEnvelope(&one),
            (Bytes{0x00, 0x06, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F}));

  const Bytes longString = Encode(EncodableValue(std::string(300, 'a')));
  ASSERT_EQ(longString.size(), 4u + 300u);
  EXPECT_EQ(Bytes(longString.begin(), longString.begin() + 4), (Bytes{0x07, 0xFE, 0x2C, 0x01}));

  EXPECT_EQ(Encode(EncodableValue(std::vector<std::int32_t>{})), (Bytes{0x09, 0x00, 0x00, 0x00}));

  const EncodableMap map{{EncodableValue("width"), EncodableValue(1)},
                         {EncodableValue("height"), EncodableValue(2)},
                         {EncodableValue("left"), EncodableValue(3)}};
  const Bytes mapBytes = Encode(EncodableValue(map));
  const auto at = [&](const char* key) {
    return std::search(mapBytes.begin(), mapBytes.end(), key, key + std::strlen(key)) -
           mapBytes.begin();
  };
  EXPECT_LT(at("height"), at("left"));
  EXPECT_LT(at("left"), at("width"));

  EXPECT_EQ(Codec().EncodeErrorEnvelope("INVALID_ARGUMENTS", "Expected map of arguments", nullptr),
            Concat({{0x01, 0x07, 0x11},
                    Text("INVALID_ARGUMENTS"),
                    {0x07, 0x19},
                    Text("Expected map of arguments"),
                    {0x00}}));
  EXPECT_EQ(Codec().EncodeErrorEnvelope("X", "", nullptr),
            (Bytes{0x01, 0x07, 0x01, 'X', 0x00, 0x00}));
  EXPECT_EQ(Codec().EncodeSuccessEnvelope(nullptr), (Bytes{0x00, 0x00}));
}

TEST(CodecBytesTest, SizesAtTheirBoundaries) {
  for (std::size_t size : {0u, 253u, 254u, 65535u, 65536u, 70000u}) {
    const Bytes bytes = Encode(EncodableValue(std::vector<std::uint8_t>(size, 7)));
    const std::size_t header = size < 254 ? 2 : size <= 65535 ? 4 : 6;
    ASSERT_EQ(bytes.size(), header + size) << size;
    if (size >= 254 && size <= 65535) {
      EXPECT_EQ(bytes[1], 254);
    }
    if (size > 65535) {
      EXPECT_EQ(bytes[1], 255);
    }
    EXPECT_EQ(Decode(bytes), EncodableValue(std::vector<std::uint8_t>(size, 7))) << size;
  }
}

TEST(CodecRoundTripTest, EveryKindNestedAndTypedListsAtUnalignedPositions) {
  EncodableMap inner{
      {EncodableValue("null"), EncodableValue()},
      {EncodableValue("true"), EncodableValue(true)},
      {EncodableValue("false"), EncodableValue(false)},
      {EncodableValue("int32"), EncodableValue(std::int32_t{-7})},
      {EncodableValue("int64"), EncodableValue(std::int64_t{1} << 40)},
      {EncodableValue("double"), EncodableValue(-2.5)},
      {EncodableValue("string"), EncodableValue("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D")},
      {EncodableValue("bytes"), EncodableValue(std::vector<std::uint8_t>{1, 2, 255})},
      {EncodableValue("int32s"), EncodableValue(std::vector<std::int32_t>{1, -2, 3})},
      {EncodableValue("int64s"), EncodableValue(std::vector<std::int64_t>{-1, 1LL << 50})},
      {EncodableValue("doubles"), EncodableValue(std::vector<double>{0.5, -1e300})},
      {EncodableValue("floats"), EncodableValue(std::vector<float>{1.5f, -3.25f})},
      {EncodableValue("empty floats"), EncodableValue(std::vector<float>{})},
      {EncodableValue(std::int32_t{3}), EncodableValue("integer key")},
  };
  // Odd-length prefixes put every typed list and real at a different offset.
  for (int prefix = 0; prefix < 8; ++prefix) {
    const EncodableValue value(
        EncodableList{EncodableValue(std::string(prefix, 'p')), EncodableValue(inner),
                      EncodableValue(EncodableList{EncodableValue(EncodableList{})})});
    EXPECT_EQ(Decode(Encode(value)), value) << prefix;
  }
}

TEST(CodecReadTest, LargeIntegerReadsAsAString) {
  EXPECT_EQ(Decode(Concat({{0x05, 0x03}, Text("123")})), EncodableValue("123"));
}

TEST(CodecRoundTripTest, EmptyTypedListsArePaddedLikeTheInterfacesCodecPadsThem) {
  // The interface's codec aligns an empty typed list on both sides; a value
  // written after it must be found where that codec looks for it.
  for (std::size_t offset = 0; offset < 8; ++offset) {
    const EncodableValue value(EncodableList{EncodableValue(std::string(offset, 'x')),
                                             EncodableValue(std::vector<float>{}),
                                             EncodableValue(std::int32_t{7})});
    const Bytes bytes = Encode(value);
    // list, count, string type and size, the string, float list type and count
    const std::size_t countEnd = 2 + 2 + offset + 2;
    const std::size_t aligned = (countEnd + 3) / 4 * 4;
    ASSERT_EQ(bytes.size(), aligned + 5) << offset;
    EXPECT_EQ(bytes[aligned], 0x03) << offset;
    EXPECT_EQ(Decode(bytes), value) << offset;
  }
  const Bytes padded{0x0C, 0x03, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(Encode(Decode(padded)), padded);
}

TEST(CodecReadTest, ShortReadsGiveNullsAndZerosWithALine) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode({}), EncodableValue());
  EXPECT_EQ(Decode({0x03, 0x05}), EncodableValue(std::int32_t{0}));
  EXPECT_EQ(Decode({0x06, 0, 0, 0}), EncodableValue(0.0));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "Invalid read in StandardCodecByteStreamReader\n"
            "Invalid read in StandardCodecByteStreamReader\n"
            "Invalid read in StandardCodecByteStreamReader\n");
}

TEST(CodecReadTest, UnknownTypeIsNullWithALine) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Decode({0x0F}), EncodableValue());
  EXPECT_EQ(Decode({0xC8}), EncodableValue());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n"
            "Unknown type in StandardCodecSerializer::ReadValueOfType: 200\n");
}

TEST(CodecReadTest, RepeatedMapKeyKeepsTheFirstEntry) {
  const Bytes bytes{0x0D, 0x02, 0x07, 0x01, 'k',  0x03, 1, 0, 0,
                    0,    0x07, 0x01, 'k',  0x03, 2,    0, 0, 0};
  EXPECT_EQ(Decode(bytes),
            EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(std::int32_t{1})}}));
}

TEST(CodecWriteTest, CustomValuesWriteNullWithALine) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Encode(EncodableValue(CustomEncodableValue(42))), (Bytes{0x00}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require "
            "codec extensions.\n");
}

// Messages from outside that lie about their sizes or nest without end.
TEST(CodecHostileInputTest, LyingSizesAreMalformedAndAllocateNothingLarge) {
  const std::vector<Bytes> lies = {
      {0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'},         // 4 GiB string
      {0x0C, 0xFF, 0x00, 0x00, 0x00, 0xF0, 0x00},        // list of 4 billion
      {0x0D, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},              // map of 2 billion
      {0x09, 0xFF, 0xFF, 0xFF, 0xFF, 0x3F, 0, 0, 0, 0},  // int32 list
      {0x0B, 0xFE, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},  // 256 doubles in 8 bytes
      {0x08, 0x05, 1, 2},                                // 5 bytes in 2
  };
  for (const Bytes& lie : lies) {
    ByteStreamReader reader(lie.data(), lie.size());
    testing::internal::CaptureStderr();
    StandardCodecSerializer::GetInstance().ReadValue(reader);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(reader.malformed()) << int{lie[0]};
    EXPECT_EQ(err, "Invalid read in StandardCodecByteStreamReader\n");
  }
}

TEST(CodecHostileInputTest, NestedListsCannotMultiplyTheRestOfTheMessage) {
  // Each list claims as many elements as bytes remain after it; only the
  // innermost one really holds them. Every outer list would then read about
  // `remaining` nulls past the end, one error line each.
  Bytes nested;
  for (int i = 0; i < 40; ++i) {
    nested.push_back(0x0C);
    nested.push_back(0xFE);
    nested.push_back(0x10);  // 4112 elements
    nested.push_back(0x10);
  }
  nested.push_back(0x0C);
  nested.push_back(0xFE);
  nested.push_back(0x00);  // 4096 nulls
  nested.push_back(0x10);
  nested.insert(nested.end(), 4096, 0x00);
  nested.insert(nested.end(), 16, 0x00);
  ByteStreamReader reader(nested.data(), nested.size());
  testing::internal::CaptureStderr();
  StandardCodecSerializer::GetInstance().ReadValue(reader);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(reader.malformed());
  EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 1);

  // A map needs two bytes for every entry it has still to read; here its
  // first value uses up what the second entry needed.
  const Bytes map{0x0D, 0x02, 0x00, 0x0C, 0x03, 0x00, 0x00, 0x00};
  ByteStreamReader mapReader(map.data(), map.size());
  testing::internal::CaptureStderr();
  StandardCodecSerializer::GetInstance().ReadValue(mapReader);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(mapReader.malformed());

  // An honest list that fills the message exactly still decodes.
  Bytes honest{0x0C, 0x05};
  honest.insert(honest.end(), 5, 0x00);
  EXPECT_EQ(Decode(honest), EncodableValue(EncodableList(5)));
}

TEST(CodecHostileInputTest, DeepNestingStopsAtTheLimit) {
  Bytes deep;
  for (int i = 0; i < 1000000; ++i) {
    deep.push_back(0x0C);
    deep.push_back(0x01);
  }
  deep.push_back(0x00);
  ByteStreamReader reader(deep.data(), deep.size());
  testing::internal::CaptureStderr();
  StandardCodecSerializer::GetInstance().ReadValue(reader);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(reader.malformed());

  Bytes allowed;
  for (int i = 0; i < kMaxNestingDepth; ++i) {
    allowed.push_back(0x0C);
    allowed.push_back(0x01);
  }
  allowed.push_back(0x00);
  ByteStreamReader fine(allowed.data(), allowed.size());
  StandardCodecSerializer::GetInstance().ReadValue(fine);
  EXPECT_FALSE(fine.malformed());
}

TEST(MethodCodecTest, MethodCallsDecodeAndEncode) {
  const EncodableValue args(EncodableMap{{EncodableValue("rows"), EncodableValue(2)}});
  const Bytes bytes = Codec().EncodeMethodCall(
      MethodCall("createGridImages", std::make_unique<EncodableValue>(args)));
  Bytes withTrailer = bytes;
  withTrailer.push_back(0x42);  // bytes after the arguments are ignored
  const auto call = Codec().DecodeMethodCall(withTrailer.data(), withTrailer.size());
  ASSERT_TRUE(call);
  EXPECT_EQ(call->method_name(), "createGridImages");
  EXPECT_EQ(*call->arguments(), args);

  const Bytes noArgs = Concat({{0x07, 0x03}, Text("abc")});
  testing::internal::CaptureStderr();
  const auto bare = Codec().DecodeMethodCall(noArgs.data(), noArgs.size());
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(bare);
  EXPECT_TRUE(bare->arguments()->IsNull());
}

TEST(MethodCodecTest, CallWhoseNameIsNoStringYieldsNoCall) {
  const Bytes bytes{0x03, 0x05, 0x00, 0x00, 0x00, 0x00};
  testing::internal::CaptureStderr();
  EXPECT_EQ(Codec().DecodeMethodCall(bytes.data(), bytes.size()), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Invalid method call; method name is not a string.\n");
  // Arguments that lie about their size make the whole call undecodable.
  const Bytes lying = Concat({{0x07, 0x01}, Text("m"), {0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}});
  testing::internal::CaptureStderr();
  EXPECT_EQ(Codec().DecodeMethodCall(lying.data(), lying.size()), nullptr);
  testing::internal::GetCapturedStderr();
}

class RecordingResult : public MethodResult {
 public:
  std::string answer;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    answer = "success";
    if (result && result->Is<std::int32_t>()) {
      answer += " " + std::to_string(result->Get<std::int32_t>());
    }
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    answer = "error " + code + " '" + message + "'" + (details ? " with details" : "");
  }
  void NotImplementedInternal() override { answer = "not implemented"; }
};

TEST(MethodCodecTest, AnswerEnvelopesDecode) {
  auto decode = [](const Bytes& bytes) {
    RecordingResult result;
    const bool ok = Codec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result);
    return ok ? result.answer : "undecodable";
  };
  const EncodableValue seven(std::int32_t{7});
  EXPECT_EQ(decode(Codec().EncodeSuccessEnvelope(&seven)), "success 7");
  EXPECT_EQ(decode({}), "not implemented");
  EXPECT_EQ(decode(Codec().EncodeErrorEnvelope("E", "went wrong", nullptr)),
            "error E 'went wrong'");
  EXPECT_EQ(decode(Codec().EncodeErrorEnvelope("E", "", &seven)), "error E '' with details");
  EXPECT_EQ(decode({0x02}), "undecodable");
  EXPECT_EQ(decode({0x01, 0x03, 1, 0, 0, 0, 0x00, 0x00}), "undecodable");  // code not a string
  testing::internal::CaptureStderr();
  EXPECT_EQ(decode({0x00, 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "undecodable");
  testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace runner
