// WebP photos read with libwebp: lossy and lossless, with alpha kept, the
// first frame of an animation, the ICC profile of an ICCP chunk and the EXIF
// block of an EXIF chunk (whose orientation is applied as a JPEG's is).
#pragma once

#include <optional>
#include <string_view>

#include "imaging/reading/read_problem.h"
#include "imaging/reading/whole_photo.h"

namespace sheetsmith {

// The photo in a WebP file's bytes, or nullopt with the reason in `problem`:
// cut short when the file ends before its RIFF size or its first frame;
// refused before decoding when its canvas is beyond kMaxPhotoSide on a side
// or kMaxWholeImagePixels in all.
std::optional<WholePhoto> ReadWebp(std::string_view file, ReadProblem* problem);

// The size (turned by the EXIF orientation) and EXIF of the photo in a WebP
// file's bytes, checked as ReadWebp checks them, without decoding it.
std::optional<PhotoOutline> OutlineWebp(std::string_view file, ReadProblem* problem);

}  // namespace sheetsmith
