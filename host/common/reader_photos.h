// Photos read for the host's drawing roads (baking, the host's own composer,
// thumbnails) by the shared photo reader, the one the page composer reads
// with, so that a photo has the same pixels, orientation and colours on
// every road. The platform's decoders are left for the formats the reader
// does not know.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "imaging/color/color_plan.h"
#include "imaging/pixels/rgba_image.h"
#include "imaging/reading/read_problem.h"

namespace runner {

// Whether the photo at `path` is the shared reader's to read: a format it
// knows, told by the file's first bytes, and also an empty file or one that
// cannot be opened, so that the reader says why. Other formats (TIFF, or one
// a Windows codec adds) are left to the platform.
bool ReaderTakes(const std::string& path);

// A photo's size, upright.
struct UprightSize {
  int width = 0;
  int height = 0;
};

// The size a photo is wanted at, given its size upright; nullopt for whole.
using SizeRule = std::function<std::optional<UprightSize>(UprightSize upright)>;

// What becomes of a photo's colours once the reader has told what its file
// holds: the conversion its pixels take as they are read (none when null),
// whether a CMYK photo's inks are wanted for it, and what to say of a
// profile that cannot be used.
using ColorStep = std::function<sheetsmith::SourcePlan(const sheetsmith::EmbeddedProfile& profile,
                                                       sheetsmith::SourceColors colors)>;

struct PhotoForDrawing {
  sheetsmith::RgbaImage image;
  // Quarter turns clockwise still to be made to bring `image` upright: a
  // photo read whole is left for the drawing side to turn, exactly and
  // without a copy; a scaled one is turned already.
  int turnsLeft = 0;
  // The quarter turns the file asks for, made or left.
  int uprightTurns = 0;
  int storedWidth = 0;  // the photo as its file stores it
  int storedHeight = 0;
  sheetsmith::SourceColors colors = sheetsmith::SourceColors::kRgb;
  sheetsmith::EmbeddedProfile profile;
  sheetsmith::SourcePlan plan;  // what `colors` made of it
};

// The photo at `path` read by the shared reader: decoded at the size `size`
// asks for (a JPEG at the smallest DCT scale that covers it, then resampled),
// or whole, its colours through `colors` (nothing when not given). Nullopt,
// with the reason, when it cannot be read.
std::optional<PhotoForDrawing> ReadForDrawing(const std::string& path, const SizeRule& size,
                                              const ColorStep& colors,
                                              sheetsmith::ReadProblem* problem);

// The reason for a failure's message, in the reader's words: "the file is cut
// short", "there is no such file", ...
std::string ReadProblemReason(const sheetsmith::ReadProblem& problem);

}  // namespace runner
