// Feeds arbitrary bytes to the EXIF orientation probe, and to the capture
// time reader as the JPEG's EXIF block and as a block on its own.
#include <cstddef>
#include <cstdint>

#include "imaging/reading/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sheetsmith::ExifOrientationFromBytes(data, size);
  const std::string_view block =
      sheetsmith::JpegExifBlock(std::string_view(reinterpret_cast<const char*>(data), size));
  sheetsmith::ExifTimesFromTiff(reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
  sheetsmith::ExifTimesFromTiff(data, size);
  return 0;
}
