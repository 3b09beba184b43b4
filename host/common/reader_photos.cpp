// Photos for the host's drawing roads through the shared photo reader.
#include "reader_photos.h"

#include "imaging/reading/photo_format.h"
#include "imaging/reading/photo_reader.h"
#include "imaging/system/file_io.h"

namespace runner {

bool ReaderTakes(const std::string& path) {
  const std::optional<std::string> head =
      sheetsmith::ReadFilePrefix(path, sheetsmith::kFormatProbeBytes);
  if (!head || head->empty()) return true;
  return sheetsmith::SniffPhotoFormat(*head) != sheetsmith::PhotoFormat::kUnknown;
}

std::optional<PhotoForDrawing> ReadForDrawing(const std::string& path, const SizeRule& size,
                                              const ColorStep& colors,
                                              sheetsmith::ReadProblem* problem) {
  std::optional<sheetsmith::DecodedPhoto> decoded = sheetsmith::DecodedPhoto::Open(path, problem);
  if (!decoded) return std::nullopt;
  PhotoForDrawing photo;
  photo.storedWidth = decoded->width();
  photo.storedHeight = decoded->height();
  photo.colors = decoded->colors();
  photo.profile = decoded->profile();
  if (colors) {
    photo.plan = colors(photo.profile, photo.colors);
    if (photo.plan.keepInks) decoded->KeepInks();
  }
  const int turns = decoded->uprightQuarterTurns();
  photo.uprightTurns = turns;
  const bool sideways = turns % 2 != 0;
  const UprightSize upright{sideways ? photo.storedHeight : photo.storedWidth,
                            sideways ? photo.storedWidth : photo.storedHeight};
  const std::optional<UprightSize> wanted = size ? size(upright) : std::nullopt;
  std::optional<sheetsmith::RgbaImage> image;
  if (wanted && wanted->width > 0 && wanted->height > 0) {
    // Scale takes the size as stored and turns what it makes.
    image = decoded->Scale(sideways ? wanted->height : wanted->width,
                           sideways ? wanted->width : wanted->height, turns);
  } else {
    image = decoded->Whole();
    photo.turnsLeft = turns;
  }
  if (!image) {
    if (problem && !*problem) *problem = decoded->problem();
    return std::nullopt;
  }
  if (photo.plan.conversion) photo.plan.conversion->Apply(image->data(), image->ByteCount() / 4);
  photo.image = std::move(*image);
  return photo;
}

std::string ReadProblemReason(const sheetsmith::ReadProblem& problem) {
  if (!problem.detail.empty()) return problem.detail;
  const std::string_view code = sheetsmith::ReadProblemCode(problem.kind);
  return code.empty() ? "the photo cannot be read" : std::string(code);
}

}  // namespace runner
