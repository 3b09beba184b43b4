// HEIF photos, HEVC-coded (HEIC, as phones save them) and AV1-coded (AVIF),
// read with libheif: the primary image whole, its tiles joined, turned and
// mirrored by its irot/imir boxes, 10- and 12-bit samples rounded to 8, alpha
// kept, with its ICC profile or its nclx colours as a profile, and its EXIF.
#pragma once

#include <optional>
#include <string_view>

#include "imaging/reading/read_problem.h"
#include "imaging/reading/whole_photo.h"

namespace sheetsmith {

// The photo in a HEIF file's bytes, or nullopt with the reason in `problem`.
// A file whose boxes run past its end is cut short; one listing more than
// kMaxHeifItems items, or whose image is beyond kMaxPhotoSide on a side or
// kMaxWholeImagePixels in all, is refused before anything is decoded.
// `decoderThreads`: how many threads may decode a grid's tiles side by side
// besides the caller's (0: the caller decodes them one after another).
std::optional<WholePhoto> ReadHeif(std::string_view file, ReadProblem* problem,
                                   int decoderThreads = 0);

// The size and EXIF of the photo in a HEIF file's bytes, checked as ReadHeif
// checks them, without decoding anything.
std::optional<PhotoOutline> OutlineHeif(std::string_view file, ReadProblem* problem);

// The number of items a HEIF file's meta box lists, or nullopt when the
// file's top-level boxes are damaged; `cutShort` is set when a box runs past
// the end of the bytes.
std::optional<std::uint64_t> HeifItemCount(std::string_view file, bool& cutShort);

}  // namespace sheetsmith
