// Feeds arbitrary bytes to the method-call decoder and to the answer-envelope
// decoder. Whatever decodes is encoded again, and that encoding must decode
// to the same call: anything else means the writer and the reader disagree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "standard_codec.h"

namespace {

const runner::StandardMethodCodec& Codec() { return runner::StandardMethodCodec::GetInstance(); }

class ReEncodingResult : public runner::MethodResult {
 protected:
  void SuccessInternal(const runner::EncodableValue* result) override {
    Codec().EncodeSuccessEnvelope(result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const runner::EncodableValue* details) override {
    Codec().EncodeErrorEnvelope(code, message, details);
  }
  void NotImplementedInternal() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (auto call = Codec().DecodeMethodCall(data, size)) {
    const std::vector<std::uint8_t> again = Codec().EncodeMethodCall(*call);
    const auto decodedAgain = Codec().DecodeMethodCall(again.data(), again.size());
    if (!decodedAgain || decodedAgain->method_name() != call->method_name() ||
        *decodedAgain->arguments() != *call->arguments()) {
      std::abort();
    }
  }
  ReEncodingResult result;
  Codec().DecodeAndProcessResponseEnvelope(data, size, &result);
  return 0;
}
