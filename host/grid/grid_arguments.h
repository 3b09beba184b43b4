// Reading the arguments of the grid composing methods into a GridRequest.
#pragma once

#include <optional>
#include <string>

#include "encodable_value.h"
#include "grid_request.h"

namespace runner::printing {

// The waiting methods ("createGridImages", "createGridImagesFast") and the
// asynchronous one read some values by different kind rules.
enum class GridMethod { kWaiting, kAsync };

struct GridArgumentError {
  std::string message;  // answered with INVALID_ARGUMENTS
};

// The request, or the error to answer. Wrong kinds count as missing: a
// required value then is an error, an optional one keeps its default.
std::optional<GridArgumentError> ParseGridRequest(const EncodableValue* arguments,
                                                  GridMethod method, GridRequest& request);

// One imageEffects entry; an entry that is not a map gives the defaults.
GridImageEffects ParseGridImageEffects(const EncodableValue& entry, GridMethod method);

}  // namespace runner::printing
