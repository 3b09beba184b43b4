// "bakeImagesForPrinting": a batch of photos baked into JPEG files.
#pragma once

#include <memory>

#include "method_call.h"
#include "method_result.h"
#include "parallel_baking.h"

namespace runner {

// The product's platform part of a baking run: folders, clock and the
// renderer. Per platform; outside Windows every photo fails.
BakingPlatform ProductBakingPlatform();

void HandleBakeImagesForPrinting(const MethodCall& call, std::unique_ptr<MethodResult> result);

}  // namespace runner
