// The printing channel: one channel for printers, papers, printing, baking,
// colour profiles and grid jobs. Each call is routed by its method name to
// exactly one handler; a name outside the table is answered not-implemented.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "method_call.h"
#include "method_result.h"

namespace runner::printing {

inline constexpr const char kPrintingChannelName[] = "printing_channel";

// A handler takes the call (handlers without arguments ignore it) and owns
// the result from then on.
using PrintingHandler = void (*)(const MethodCall& call, std::unique_ptr<MethodResult> result);

struct PrintingMethod {
  std::string_view name;
  PrintingHandler handler;  // null while the handler is not built yet
};

// The 19 method names in the order they are compared.
const std::array<PrintingMethod, 19>& PrintingMethods();

// Routes a call through `table`: the first row whose name matches exactly
// (same length, same bytes) takes the result; no match, or a row without a
// handler, is answered NotImplemented.
void DispatchPrintingCall(std::span<const PrintingMethod> table, const MethodCall& call,
                          std::unique_ptr<MethodResult> result);

// The channel's method-call handler: DispatchPrintingCall over PrintingMethods().
void HandlePrintingCall(const MethodCall& call, std::unique_ptr<MethodResult> result);

// Names whose handlers are not built yet, in table order.
std::vector<std::string> WaitingPrintingMethods();

}  // namespace runner::printing
