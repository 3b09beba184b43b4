// One method call from the interface: a name and one argument value.
#pragma once

#include <memory>
#include <string>

#include "encodable_value.h"

namespace runner {

class MethodCall {
 public:
  MethodCall(std::string methodName, std::unique_ptr<EncodableValue> arguments)
      : methodName_(std::move(methodName)),
        arguments_(arguments ? std::move(arguments) : std::make_unique<EncodableValue>()) {}
  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  const std::string& method_name() const { return methodName_; }
  // Never null: a call without arguments carries a null value.
  const EncodableValue* arguments() const { return arguments_.get(); }

 private:
  std::string methodName_;
  std::unique_ptr<EncodableValue> arguments_;
};

}  // namespace runner
