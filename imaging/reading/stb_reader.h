// The reader of the formats stb_image decodes for the programs: PNG, GIF,
// BMP and PSD. A file stb_image 2.27 would mishandle (a PNG chunk claiming
// more than the file holds, an empty first picture-data chunk, a header
// claiming more pixels than kMaxWholeImagePixels or than the file's bytes
// can hold) is refused before stb_image sees it.
#pragma once

#include <cstdio>
#include <optional>

#include "imaging/color/conversion.h"
#include "imaging/color/embedded_profiles.h"
#include "imaging/pixels/rgba_image.h"

namespace sheetsmith {

// The whole picture of the open `file`, four bytes a pixel from the pixel
// pool, or nullopt. A PNG's iCCP profile before its picture data is read
// into `profile` on the way; `colors` says whether the pixels are grey.
std::optional<RgbaImage> LoadWithStb(std::FILE* file, EmbeddedProfile& profile,
                                     SourceColors& colors);

}  // namespace sheetsmith
