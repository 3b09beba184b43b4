// A MethodResult for handler tests: the answer as text ("success", "CODE:
// message", "not implemented") and the success value.
#pragma once

#include <string>

#include "method_result.h"

namespace runner {

class RecordingResult : public MethodResult {
 public:
  explicit RecordingResult(std::string* text, EncodableValue* value = nullptr)
      : text_(text), value_(value) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    *text_ = "success";
    if (value_) *value_ = result ? *result : EncodableValue();
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue*) override {
    *text_ = code + ": " + message;
  }
  void NotImplementedInternal() override { *text_ = "not implemented"; }

 private:
  std::string* text_;
  EncodableValue* value_;
};

}  // namespace runner
