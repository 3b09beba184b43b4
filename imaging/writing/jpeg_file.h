// JPEG files written whole: a page or a baked photo never stands cut short
// where a file of its name is looked for.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

// Writes the red, green and blue channels as a JPEG at `quality` (the writer
// clamps it into 1..100), carrying the colour profile `profile` when it is
// not empty, under a PartialPath(path) of its own and then moved to `path`.
// True only when the whole file was written; a file that was begun but not
// finished is removed, and whatever stood at `path` before stays. The
// writer's helper threads' time is added to `helperTime` when given.
bool SaveJpeg(const RgbaImage& image, const std::string& path, int quality,
              std::string_view profile = {}, std::atomic<std::int64_t>* helperTime = nullptr);

}  // namespace sheetsmith
