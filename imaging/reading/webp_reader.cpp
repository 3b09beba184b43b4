// WebP photos through libwebp's demuxer and decoder.
#include "imaging/reading/webp_reader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "imaging/color/profiles.h"
#include "imaging/reading/exif.h"
#include "imaging/reading/jpeg_reader.h"
#include "imaging/reading/read_limits.h"

namespace sheetsmith {
namespace {

struct DemuxDelete {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

std::uint32_t LittleEndian32(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24);
}

// The chunk's bytes, empty when the file has none.
std::string Chunk(WebPDemuxer* demux, const char* fourcc) {
  WebPChunkIterator chunk;
  std::string bytes;
  if (WebPDemuxGetChunk(demux, fourcc, 1, &chunk)) {
    bytes.assign(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
  }
  WebPDemuxReleaseChunkIterator(&chunk);
  return bytes;
}

using Demuxer = std::unique_ptr<WebPDemuxer, DemuxDelete>;

// The file's demuxer once its chunks are whole and its canvas is within the
// limits; `width` and `height` are the canvas's.
Demuxer OpenWebp(std::string_view file, std::uint32_t& width, std::uint32_t& height,
                 ReadProblem* problem) {
  using Kind = ReadProblem::Kind;
  // RIFF, its size (of what follows the first 8 bytes), "WEBP".
  if (file.size() < 12 || std::uint64_t{LittleEndian32(file, 4)} + 8 > file.size()) {
    Fail(problem, Kind::kCutShort, "the file is cut short");
    return nullptr;
  }
  const WebPData data = {reinterpret_cast<const std::uint8_t*>(file.data()), file.size()};
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  Demuxer demux(WebPDemuxPartial(&data, &state));
  if (!demux || state == WEBP_DEMUX_PARSE_ERROR) {
    Fail(problem, Kind::kDamaged, "its chunks are damaged");
    return nullptr;
  }
  if (state != WEBP_DEMUX_DONE) {
    Fail(problem, Kind::kCutShort, "the file is cut short");
    return nullptr;
  }
  width = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
  height = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
  if (width == 0 || height == 0) {
    Fail(problem, Kind::kDamaged, "it has no size");
    return nullptr;
  }
  if (width > static_cast<std::uint32_t>(kMaxPhotoSide) ||
      height > static_cast<std::uint32_t>(kMaxPhotoSide) ||
      std::uint64_t{width} * height > kMaxWholeImagePixels) {
    Fail(problem, Kind::kTooLarge,
         "it is " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    return nullptr;
  }
  return demux;
}

// The EXIF chunk from its TIFF header on, empty when the file has none.
std::string ExifOf(WebPDemuxer* demux) {
  if (!(WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & EXIF_FLAG)) return {};
  std::string exif = Chunk(demux, "EXIF");
  // Some writers keep a JPEG's "Exif\0\0" before the TIFF header.
  if (exif.compare(0, 6, std::string_view("Exif\0\0", 6)) == 0) exif.erase(0, 6);
  return exif;
}

int TurnsOf(const std::string& exif) {
  return UprightQuarterTurns(
      ExifOrientationFromTiff(reinterpret_cast<const std::uint8_t*>(exif.data()), exif.size()));
}

}  // namespace

std::optional<PhotoOutline> OutlineWebp(std::string_view file, ReadProblem* problem) {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  const Demuxer demux = OpenWebp(file, width, height, problem);
  if (!demux) return std::nullopt;
  PhotoOutline outline;
  outline.exif = ExifOf(demux.get());
  const bool sideways = TurnsOf(outline.exif) % 2 != 0;
  outline.width = static_cast<int>(sideways ? height : width);
  outline.height = static_cast<int>(sideways ? width : height);
  return outline;
}

std::optional<WholePhoto> ReadWebp(std::string_view file, ReadProblem* problem) {
  using Kind = ReadProblem::Kind;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  const Demuxer demux = OpenWebp(file, width, height, problem);
  if (!demux) return std::nullopt;

  WebPIterator frame;
  if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) {
    return Refuse(problem, Kind::kDamaged, "it holds no picture");
  }
  const bool complete = frame.complete != 0;
  const WebPData fragment = frame.fragment;
  const int x = frame.x_offset;
  const int y = frame.y_offset;
  const int frameWidth = frame.width;
  const int frameHeight = frame.height;
  const bool alpha = frame.has_alpha != 0;
  WebPDemuxReleaseIterator(&frame);
  if (!complete) return Refuse(problem, Kind::kCutShort, "the file is cut short");
  if (x < 0 || y < 0 || frameWidth <= 0 || frameHeight <= 0 ||
      static_cast<std::uint64_t>(x) + frameWidth > width ||
      static_cast<std::uint64_t>(y) + frameHeight > height) {
    return Refuse(problem, Kind::kDamaged, "its first frame lies outside its canvas");
  }

  // An animation's first frame may cover only part of the canvas; the rest
  // is transparent, as before the animation's first frame is drawn.
  const bool covers = x == 0 && y == 0 && static_cast<std::uint32_t>(frameWidth) == width &&
                      static_cast<std::uint32_t>(frameHeight) == height;
  std::optional<RgbaImage> image =
      covers ? MakeUnfilledImage(static_cast<int>(width), static_cast<int>(height))
             : MakeImage(static_cast<int>(width), static_cast<int>(height), 0);
  if (!image) return Refuse(problem, Kind::kTooLarge, "out of memory");
  const std::size_t stride = std::size_t{width} * 4;
  std::uint8_t* at = image->At(x, y);
  const std::size_t room = image->ByteCount() - static_cast<std::size_t>(at - image->data());
  if (!WebPDecodeRGBAInto(fragment.bytes, fragment.size, at, room, static_cast<int>(stride))) {
    return Refuse(problem, Kind::kDamaged, "its picture data is damaged");
  }
  image->knownOpaque = covers && !alpha;

  WholePhoto photo;
  photo.image = std::move(*image);
  const std::uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
  if (flags & ICCP_FLAG) {
    std::string icc = Chunk(demux.get(), "ICCP");
    if (icc.size() > kMaxProfileBytes) {
      photo.profile.state = EmbeddedProfile::State::kDamaged;
      photo.profile.problem = "it is larger than any profile";
    } else if (!icc.empty()) {
      photo.profile.state = EmbeddedProfile::State::kFound;
      photo.profile.bytes = std::move(icc);
    }
  }
  photo.exif = ExifOf(demux.get());
  photo.uprightQuarterTurns = TurnsOf(photo.exif);
  return photo;
}

}  // namespace sheetsmith
