// The platform side of the thumbnail and metadata channels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis_handlers.h"

namespace runner {

// The shell's thumbnail of the file at `path` (UTF-8), asked for at `size`,
// as a PNG file of the bitmap's own size; nullopt when there is none.
std::optional<std::vector<std::uint8_t>> MakeThumbnail(const std::string& path, PixelSize size);

// The first frame's size and metadata; nullopt when the file cannot be decoded.
std::optional<PhotoHeader> ReadPhotoHeader(const std::string& path);

}  // namespace runner
