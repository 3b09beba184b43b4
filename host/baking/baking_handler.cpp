#include "baking_handler.h"

#include <exception>

#include "bake_arguments.h"
#include "color_profiles.h"

namespace runner {

void HandleBakeImagesForPrinting(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  BakeArguments arguments;
  if (const auto error = ParseBakeArguments(call.arguments(), arguments)) {
    result->Error(error->code, error->message);
    return;
  }
  const std::string profileId = ReadSelectedColorProfile();
  std::vector<BakeResult> results;
  try {
    results = BakeImagesInParallel(arguments.requests, arguments.maxThreads, profileId,
                                   arguments.jpegQuality, ProductBakingPlatform());
  } catch (const std::exception& error) {
    result->Error("BAKING_EXCEPTION", error.what());
    return;
  } catch (...) {
    result->Error("BAKING_EXCEPTION", "Unknown exception during parallel baking");
    return;
  }
  EncodableValue reply;
  try {
    reply = BakeReply(results);
  } catch (const std::exception& error) {
    result->Error("RESULT_PROCESSING_ERROR", error.what());
    return;
  }
  result->Success(reply);
}

}  // namespace runner
