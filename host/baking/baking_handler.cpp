// The baking call: its arguments checked, the batch run off the platform
// thread, the answer given.
#include "baking_handler.h"

#include <exception>

#include "bake_arguments.h"
#include "color_profiles.h"
#include "long_calls.h"

namespace runner {
namespace {

Answer Failure(std::string code, std::string message) {
  return [code = std::move(code), message = std::move(message)](MethodResult& result) {
    result.Error(code, message);
  };
}

}  // namespace

void HandleBakeImagesForPrinting(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  BakeArguments arguments;
  if (const auto error = ParseBakeArguments(call.arguments(), arguments)) {
    result->Error(error->code, error->message);
    return;
  }
  RunLongCall(
      std::move(result), LongCallLane::kOwnThread, [arguments = std::move(arguments)]() -> Answer {
        const std::string profileId = ReadSelectedColorProfile();
        std::vector<BakeResult> results;
        try {
          results = BakeImagesInParallel(arguments.requests, arguments.maxThreads, profileId,
                                         arguments.jpegQuality, ProductBakingPlatform());
        } catch (const std::exception& error) {
          return Failure("BAKING_EXCEPTION", error.what());
        } catch (...) {
          return Failure("BAKING_EXCEPTION", "Unknown exception during parallel baking");
        }
        EncodableValue reply;
        try {
          reply = BakeReply(results);
        } catch (const std::exception& error) {
          return Failure("RESULT_PROCESSING_ERROR", error.what());
        }
        return [reply = std::move(reply)](MethodResult& answer) { answer.Success(reply); };
      });
}

}  // namespace runner
