// Answers of incoming calls encoded and sent back through the engine, once
// each.
#include "engine_method_result.h"

#include <cstdio>

namespace runner {

EngineMethodResult::EngineMethodResult(BinaryReply reply, const StandardMethodCodec* codec)
    : reply_(std::move(reply)), codec_(codec) {}

EngineMethodResult::~EngineMethodResult() {
  if (reply_) {
    std::fputs("Warning: Failed to respond to a message. This is a memory leak.\n", stderr);
    std::fflush(stderr);
  }
}

void EngineMethodResult::Send(const std::vector<std::uint8_t>* data) {
  if (!reply_) {
    std::fputs(
        "Error: Only one of Success, Error, or NotImplemented can be called, and it can be called "
        "exactly once. Ignoring duplicate result.\n",
        stderr);
    std::fflush(stderr);
    return;
  }
  // Taken out first, so that the object counts as answered even if sending
  // reaches back into it.
  BinaryReply reply = std::move(reply_);
  reply_ = nullptr;
  if (data) {
    reply(data->data(), data->size());
  } else {
    reply(nullptr, 0);
  }
}

void EngineMethodResult::SuccessInternal(const EncodableValue* result) {
  if (!reply_) return Send(nullptr);
  const std::vector<std::uint8_t> data = codec_->EncodeSuccessEnvelope(result);
  Send(&data);
}

void EngineMethodResult::ErrorInternal(const std::string& code, const std::string& message,
                                       const EncodableValue* details) {
  if (!reply_) return Send(nullptr);
  const std::vector<std::uint8_t> data = codec_->EncodeErrorEnvelope(code, message, details);
  Send(&data);
}

void EngineMethodResult::NotImplementedInternal() { Send(nullptr); }

}  // namespace runner
