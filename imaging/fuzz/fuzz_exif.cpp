// Feeds arbitrary bytes to the EXIF orientation probe.
#include <cstddef>
#include <cstdint>

#include "imaging/reading/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sheetsmith::ExifOrientationFromBytes(data, size);
  return 0;
}
