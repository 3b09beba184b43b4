// The arguments of "bakeImagesForPrinting".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "bake_request.h"
#include "encodable_value.h"

namespace runner {

struct BakeArguments {
  std::vector<BakeRequest> requests;  // the accepted entries, in order
  std::int32_t maxThreads = 0;        // 0 or less: automatic
  std::int32_t jpegQuality = 95;      // clamped to 1..100
};

struct BakeArgumentError {
  std::string code;
  std::string message;
};

// Entries that are not maps with a string sourcePath and int32 canvasWidth
// and canvasHeight are skipped; values of other kinds keep their defaults.
std::optional<BakeArgumentError> ParseBakeArguments(const EncodableValue* arguments,
                                                    BakeArguments& parsed);

}  // namespace runner
