// Feeds arbitrary text to the job file reader and then to the geometry it
// implies.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "geometry.h"
#include "job_file/grid_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sheetsmith::GridConfig config;
  std::vector<std::string> problems;
  sheetsmith::ParseConfigText(std::string_view(reinterpret_cast<const char*>(data), size), config,
                              &problems);
  sheetsmith::GridGeometry geometry;
  std::string problem;
  if (sheetsmith::ComputeGeometry(config, geometry, problem)) {
    sheetsmith::MagnetOrigin(config, geometry, config.rows - 1, config.cols - 1);
  }
  return 0;
}
