// The photo reader: each file to the decoder of its format, told by its
// first bytes; JPEG opened for scaled decoding, every other format decoded
// whole.
#include "imaging/reading/photo_reader.h"

#include <atomic>
#include <cstdio>

#include "imaging/pixels/resample.h"
#include "imaging/reading/exif.h"
#include "imaging/reading/heif_reader.h"
#include "imaging/reading/jpeg_reader.h"
#include "imaging/reading/read_limits.h"
#include "imaging/reading/stb_reader.h"
#include "imaging/reading/webp_reader.h"
#include "imaging/system/file_io.h"

namespace sheetsmith {
namespace {

std::atomic<int> heifDecoderThreads{0};

// The rest of an open file after `head`, at most kMaxCodedFileBytes in all.
std::optional<std::string> ReadAll(std::FILE* file, std::string head, ReadProblem* problem) {
  std::string bytes = std::move(head);
  char chunk[1 << 16];
  std::size_t read = 0;
  while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes.size() + read > kMaxCodedFileBytes) {
      return Refuse(problem, ReadProblem::Kind::kTooLarge,
                    "the file is larger than " + std::to_string(kMaxCodedFileBytes >> 20) + " MB");
    }
    bytes.append(chunk, read);
  }
  if (std::ferror(file)) {
    return Refuse(problem, ReadProblem::Kind::kCannotOpen, "the file cannot be read");
  }
  return bytes;
}

// A photo file opened for reading, with its first bytes, which tell its format.
struct OpenedPhoto {
  UniqueFile file;
  std::string head;
  PhotoFormat format = PhotoFormat::kUnknown;
};

std::optional<OpenedPhoto> OpenPhoto(const std::string& path, ReadProblem* problem) {
  OpenedPhoto opened;
  opened.file = OpenFile(path, "rb");
  if (!opened.file) {
    if (problem && !*problem) *problem = OpenFailure();
    return std::nullopt;
  }
  opened.head.assign(kFormatProbeBytes, '\0');
  opened.head.resize(std::fread(opened.head.data(), 1, opened.head.size(), opened.file.get()));
  opened.format = SniffPhotoFormat(opened.head);
  return opened;
}

}  // namespace

void SetHeifDecoderThreads(int threads) { heifDecoderThreads = threads < 0 ? 0 : threads; }

std::optional<RgbaImage> LoadRgba(const std::string& path, ReadProblem* problem) {
  std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path, problem);
  if (!photo) return std::nullopt;
  std::optional<RgbaImage> image = photo->Whole();
  if (!image && problem && !*problem) *problem = photo->problem();
  return image;
}

std::optional<PhotoOutline> OutlinePhoto(const std::string& path, ReadProblem* problem) {
  PhotoFormat format = PhotoFormat::kUnknown;
  {
    std::optional<OpenedPhoto> opened = OpenPhoto(path, problem);
    if (!opened) return std::nullopt;
    format = opened->format;
    if (format == PhotoFormat::kHeic || format == PhotoFormat::kAvif ||
        format == PhotoFormat::kWebp) {
      const std::optional<std::string> bytes =
          ReadAll(opened->file.get(), std::move(opened->head), problem);
      if (!bytes) return std::nullopt;
      return format == PhotoFormat::kWebp ? OutlineWebp(*bytes, problem)
                                          : OutlineHeif(*bytes, problem);
    }
  }
  std::optional<DecodedPhoto> photo = DecodedPhoto::Open(path, problem);
  if (!photo) return std::nullopt;
  PhotoOutline outline;
  const bool sideways = photo->uprightQuarterTurns() % 2 != 0;
  outline.width = sideways ? photo->height() : photo->width();
  outline.height = sideways ? photo->width() : photo->height();
  if (format == PhotoFormat::kJpeg) {
    const std::optional<std::string> head = ReadFilePrefix(path, kExifProbeBytes);
    if (head) outline.exif = std::string(JpegExifBlock(*head));
  }
  return outline;
}

std::optional<DecodedPhoto> DecodedPhoto::Open(const std::string& path, ReadProblem* problem) {
  using Kind = ReadProblem::Kind;
  std::optional<OpenedPhoto> opened = OpenPhoto(path, problem);
  if (!opened) return std::nullopt;
  UniqueFile& file = opened->file;
  std::string& head = opened->head;
  DecodedPhoto photo;
  photo.format_ = opened->format;
  switch (photo.format_) {
    case PhotoFormat::kJpeg: {
      file.reset();
      bool notJpeg = false;
      std::unique_ptr<JpegReader> reader = JpegReader::Open(path, notJpeg, problem);
      if (!reader) return std::nullopt;
      photo.width_ = reader->width();
      photo.height_ = reader->height();
      photo.profile_ = reader->embeddedProfile();
      photo.colors_ = reader->colors();
      photo.jpeg_ = std::move(reader);
      photo.uprightTurns_ = UprightQuarterTurns(ReadExifOrientation(path));
      return photo;
    }
    case PhotoFormat::kPng:
    case PhotoFormat::kGif:
    case PhotoFormat::kBmp:
    case PhotoFormat::kPsd:
      std::rewind(file.get());
      photo.whole_ = LoadWithStb(file.get(), photo.profile_, photo.colors_);
      if (!photo.whole_) {
        return Refuse(problem, Kind::kDamaged,
                      "its " + std::string(PhotoFormatName(photo.format_)) +
                          " data is damaged, cut short or claims too many pixels");
      }
      break;
    case PhotoFormat::kHeic:
    case PhotoFormat::kAvif:
    case PhotoFormat::kWebp: {
      const std::optional<std::string> bytes = ReadAll(file.get(), std::move(head), problem);
      if (!bytes) return std::nullopt;
      file.reset();
      std::optional<WholePhoto> whole = photo.format_ == PhotoFormat::kWebp
                                            ? ReadWebp(*bytes, problem)
                                            : ReadHeif(*bytes, problem, heifDecoderThreads);
      if (!whole) return std::nullopt;
      photo.whole_ = std::move(whole->image);
      photo.profile_ = std::move(whole->profile);
      photo.colors_ = whole->colors;
      photo.exif_ = std::move(whole->exif);
      photo.uprightTurns_ = whole->uprightQuarterTurns;
      break;
    }
    case PhotoFormat::kUnknown:
      if (head.empty()) return Refuse(problem, Kind::kCutShort, "the file is empty");
      if (head.compare(0, 4, "II*\0", 4) == 0 || head.compare(0, 4, "MM\0*", 4) == 0) {
        return Refuse(problem, Kind::kUnsupported, "TIFF files are not read here");
      }
      return Refuse(problem, Kind::kUnsupported, "it is not a photo of a format read here");
  }
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
    if (scaled) {
      whole_.reset();
    } else {
      Fail(&problem_, ReadProblem::Kind::kTooLarge, "out of memory");
    }
    return scaled;
  }
  if (!jpeg_ || started_) return std::nullopt;
  started_ = true;
  // Decoded at the smallest scale that still covers the wanted size (which
  // is before the turn, as the photo is stored); the resampler makes the rest.
  if (!jpeg_->Start(width, height)) {
    problem_ = jpeg_->failure();
    return std::nullopt;
  }
  std::optional<RgbaImage> scaled = ResampleRows(
      *jpeg_, jpeg_->scaledWidth(), jpeg_->scaledHeight(), width, height, quarterTurns);
  rowNs_ = jpeg_->rowNanoseconds();
  if (!scaled) problem_ = jpeg_->failure();
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
  if (!image) {
    if (static_cast<std::uint64_t>(width_) * height_ > kMaxWholeImagePixels) {
      Fail(&problem_, ReadProblem::Kind::kTooLarge,
           "it is " + std::to_string(width_) + " x " + std::to_string(height_) +
               " pixels, too many to read whole");
    } else {
      problem_ = jpeg_->failure();
    }
  }
  jpeg_.reset();
  return image;
}

std::int64_t DecodedPhoto::rowNanoseconds() const { return rowNs_; }

void DecodedPhoto::KeepInks() {
  if (jpeg_ && colors_ == SourceColors::kCmyk) jpeg_->KeepInks();
}

}  // namespace sheetsmith
