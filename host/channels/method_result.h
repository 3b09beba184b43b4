// The answer object of one method call.
//
// Implementations must call exactly one of Success, Error or NotImplemented,
// once. The object is handed to a handler as a std::unique_ptr that the
// handler owns: it may answer at once, or move the object to another thread
// and answer later. The object itself has no lock; one thread at a time.
#pragma once

#include <string>

#include "encodable_value.h"

namespace runner {

class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;
  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // Answers null.
  void Success() { SuccessInternal(nullptr); }
  void Success(const EncodableValue& result) { SuccessInternal(&result); }

  // An upper-case code with underscores and an English message.
  void Error(const std::string& code, const std::string& message = "") {
    ErrorInternal(code, message, nullptr);
  }
  void Error(const std::string& code, const std::string& message, const EncodableValue& details) {
    ErrorInternal(code, message, &details);
  }

  void NotImplemented() { NotImplementedInternal(); }

 protected:
  // The value is null when there is none.
  virtual void SuccessInternal(const EncodableValue* result) = 0;
  virtual void ErrorInternal(const std::string& code, const std::string& message,
                             const EncodableValue* details) = 0;
  virtual void NotImplementedInternal() = 0;
};

}  // namespace runner
