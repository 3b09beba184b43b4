// Feeds arbitrary bytes to the readers of HEIF, AVIF and WebP photos, as the
// photo reader hands them a file's bytes: told apart by their first bytes,
// each read whole with its limits, its EXIF orientation read, and the
// profile its nclx colours make. A few bytes after a valid header reach the
// box walkers (the grid of tiles among them), libheif and its decoders, or
// libwebp's demuxer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "imaging/reading/exif.h"
#include "imaging/reading/heif_grid.h"
#include "imaging/reading/heif_reader.h"
#include "imaging/reading/photo_format.h"
#include "imaging/reading/webp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  sheetsmith::ReadProblem problem;
  std::optional<sheetsmith::WholePhoto> photo;
  switch (sheetsmith::SniffPhotoFormat(bytes.substr(0, sheetsmith::kFormatProbeBytes))) {
    case sheetsmith::PhotoFormat::kHeic:
    case sheetsmith::PhotoFormat::kAvif:
      photo = sheetsmith::ReadHeif(bytes, &problem);
      break;
    case sheetsmith::PhotoFormat::kWebp:
      photo = sheetsmith::ReadWebp(bytes, &problem);
      break;
    default:
      // The box walkers alone, over whatever the bytes are.
      bool cutShort = false;
      sheetsmith::HeifItemCount(bytes, cutShort);
      if (const auto grid = sheetsmith::FindHeifGrid(bytes)) {
        for (const auto& tile : grid->tiles) sheetsmith::SingleTileFile(*grid, tile);
      }
      return 0;
  }
  // A reader either gives a photo or says why not.
  if (!photo && !problem) std::abort();
  if (photo) {
    sheetsmith::ExifOrientationFromTiff(reinterpret_cast<const std::uint8_t*>(photo->exif.data()),
                                        photo->exif.size());
  }
  return 0;
}
