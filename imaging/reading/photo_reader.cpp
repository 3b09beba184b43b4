// The photo reader: each file to the decoder of its kind, JPEG opened for
// scaled decoding, every other kind decoded whole.
#include "imaging/reading/photo_reader.h"

#include "imaging/pixels/resample.h"
#include "imaging/reading/jpeg_reader.h"
#include "imaging/reading/stb_reader.h"
#include "imaging/system/file_io.h"

namespace sheetsmith {

std::optional<RgbaImage> LoadRgba(const std::string& path) {
  bool notJpeg = false;
  if (std::optional<RgbaImage> jpeg = JpegReader::LoadWhole(path, notJpeg)) return jpeg;
  if (!notJpeg) return std::nullopt;
  UniqueFile file = OpenFile(path, "rb");
  if (!file) return std::nullopt;
  EmbeddedProfile profile;
  SourceColors colors = SourceColors::kRgb;
  return LoadWithStb(file.get(), profile, colors);
}

std::optional<DecodedPhoto> DecodedPhoto::Open(const std::string& path) {
  DecodedPhoto photo;
  bool notJpeg = false;
  if (std::unique_ptr<JpegReader> reader = JpegReader::Open(path, notJpeg)) {
    photo.width_ = reader->width();
    photo.height_ = reader->height();
    photo.profile_ = reader->embeddedProfile();
    photo.colors_ = reader->colors();
    photo.jpeg_ = std::move(reader);
    return photo;
  }
  if (!notJpeg) return std::nullopt;
  UniqueFile file = OpenFile(path, "rb");
  if (!file) return std::nullopt;
  photo.whole_ = LoadWithStb(file.get(), photo.profile_, photo.colors_);
  if (!photo.whole_) return std::nullopt;
  photo.width_ = photo.whole_->width;
  photo.height_ = photo.whole_->height;
  return photo;
}

DecodedPhoto::DecodedPhoto(DecodedPhoto&&) noexcept = default;
DecodedPhoto& DecodedPhoto::operator=(DecodedPhoto&&) noexcept = default;
DecodedPhoto::~DecodedPhoto() = default;

std::optional<RgbaImage> DecodedPhoto::Scale(int width, int height, int quarterTurns) {
  if (whole_) {
    std::optional<RgbaImage> scaled = Resample(*whole_, width, height, quarterTurns);
    if (scaled) whole_.reset();
    return scaled;
  }
  if (!jpeg_ || started_) return std::nullopt;
  started_ = true;
  // Decoded at the smallest scale that still covers the wanted size (which
  // is before the turn, as the photo is stored); the resampler makes the rest.
  if (!jpeg_->Start(width, height)) return std::nullopt;
  std::optional<RgbaImage> scaled = ResampleRows(
      *jpeg_, jpeg_->scaledWidth(), jpeg_->scaledHeight(), width, height, quarterTurns);
  rowNs_ = jpeg_->rowNanoseconds();
  jpeg_.reset();
  return scaled;
}

std::optional<RgbaImage> DecodedPhoto::Whole() {
  if (whole_) {
    std::optional<RgbaImage> image = std::move(whole_);
    whole_.reset();
    return image;
  }
  if (!jpeg_ || started_) return std::nullopt;
  started_ = true;
  std::optional<RgbaImage> image = jpeg_->DecodeWhole();
  jpeg_.reset();
  return image;
}

std::int64_t DecodedPhoto::rowNanoseconds() const { return rowNs_; }

void DecodedPhoto::KeepInks() {
  if (jpeg_ && colors_ == SourceColors::kCmyk) jpeg_->KeepInks();
}

}  // namespace sheetsmith
