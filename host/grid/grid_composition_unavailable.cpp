// Outside Windows there is neither the page composer's process launcher nor
// GDI+: the product's composition is not available, and tests provide their
// own through SetGridComposition.
#include "grid_jobs.h"

namespace runner::printing {

GridResult CreateGridImagesWithHelper(const GridRequest&, GridProgress&) {
  GridResult result;
  result.errorMessage = "Grid composition is not available on this platform";
  return result;
}

}  // namespace runner::printing
