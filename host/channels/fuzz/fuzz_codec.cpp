// Feeds arbitrary bytes to the method-call decoder and to the answer-envelope
// decoder, and encodes again whatever decodes.
#include <cstddef>
#include <cstdint>

#include "standard_codec.h"

namespace {

class ReEncodingResult : public runner::MethodResult {
 protected:
  void SuccessInternal(const runner::EncodableValue* result) override {
    runner::StandardMethodCodec::GetInstance().EncodeSuccessEnvelope(result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const runner::EncodableValue* details) override {
    runner::StandardMethodCodec::GetInstance().EncodeErrorEnvelope(code, message, details);
  }
  void NotImplementedInternal() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const runner::StandardMethodCodec& codec = runner::StandardMethodCodec::GetInstance();
  if (auto call = codec.DecodeMethodCall(data, size)) {
    const std::vector<std::uint8_t> again = codec.EncodeMethodCall(*call);
    codec.DecodeMethodCall(again.data(), again.size());
  }
  ReEncodingResult result;
  codec.DecodeAndProcessResponseEnvelope(data, size, &result);
  return 0;
}
