// The MethodResult that the channel machinery makes for each incoming call:
// it encodes the answer with the channel's codec and sends it through a
// one-shot reply function bound to the message's reply handle.
//
// Only the first answer is sent. A later one sends nothing and writes
// "Error: Only one of Success, Error, or NotImplemented can be called, and it
// can be called exactly once. Ignoring duplicate result." to standard error.
// Destroyed unanswered, it writes "Warning: Failed to respond to a message.
// This is a memory leak." and sends nothing: the caller never gets an answer.
#pragma once

#include <cstdint>
#include <functional>

#include "method_result.h"
#include "standard_codec.h"

namespace runner {

// Sends encoded answer bytes; an empty answer means not implemented.
using BinaryReply = std::function<void(const std::uint8_t* data, std::size_t size)>;

class EngineMethodResult : public MethodResult {
 public:
  EngineMethodResult(BinaryReply reply, const StandardMethodCodec* codec);
  ~EngineMethodResult() override;

 protected:
  void SuccessInternal(const EncodableValue* result) override;
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override;
  void NotImplementedInternal() override;

 private:
  void Send(const std::vector<std::uint8_t>* data);

  BinaryReply reply_;  // empty once answered
  const StandardMethodCodec* codec_;
};

}  // namespace runner
