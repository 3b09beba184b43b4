// Outside Windows there is neither GDI+ nor WIC: the product's baking is not
// available. The pool's rules are tested with a platform of the tests' own.
#include "baking_handler.h"

namespace runner {

BakingPlatform ProductBakingPlatform() {
  BakingPlatform platform;
  platform.createFolder = [](const std::string&, unsigned long*) { return true; };
  platform.localTime = [] { return LocalTime{}; };
  platform.currentThreadId = [] { return 0ul; };
  platform.bakeSingleImage = [](const BakeRequest&, int index, const std::string&,
                                const std::string&, int) {
    return BakeResult{"", false, "Baking is not available on this platform", index};
  };
  return platform;
}

}  // namespace runner
