// HEIF and AVIF photos through libheif, checked against the readers' limits
// before anything is decoded.
#include "imaging/reading/heif_reader.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/color/nclx_profile.h"
#include "imaging/color/profiles.h"
#include "imaging/reading/heif_grid.h"
#include "imaging/reading/jpeg_reader.h"
#include "imaging/reading/read_limits.h"
#include "imaging/system/byte_order.h"

namespace sheetsmith {
namespace {

struct ContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct NclxFree {
  void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

// The largest EXIF block kept: real ones are tens of kilobytes.
constexpr std::size_t kMaxExifBytes = std::size_t{1} << 20;

std::nullopt_t RefuseWith(ReadProblem* problem, const heif_error& error) {
  const std::string detail = error.message ? error.message : "libheif failed";
  if (error.subcode == heif_suberror_End_of_data) {
    return Refuse(problem, ReadProblem::Kind::kCutShort, "the file is cut short");
  }
  if (error.subcode == heif_suberror_Security_limit_exceeded ||
      error.code == heif_error_Memory_allocation_error) {
    return Refuse(problem, ReadProblem::Kind::kTooLarge, detail);
  }
  if (error.code == heif_error_Unsupported_feature ||
      error.code == heif_error_Unsupported_filetype) {
    return Refuse(problem, ReadProblem::Kind::kUnsupported, detail);
  }
  return Refuse(problem, ReadProblem::Kind::kDamaged, detail);
}

// Takes the samples of a decoded interleaved plane into the photo at (x0,
// y0), `width` x `height` of them: 8-bit as they are, deeper ones
// (little-endian 16-bit words) rounded to 8 bits.
void CopyPixels(const std::uint8_t* plane, int stride, int bits, bool alpha, bool premultiplied,
                RgbaImage& out, int x0, int y0, int width, int height) {
  const int channels = alpha ? 4 : 3;
  const std::uint32_t max = (std::uint32_t{1} << bits) - 1;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = plane + static_cast<std::size_t>(y) * stride;
    std::uint8_t* to = out.At(x0, y0 + y);
    for (int x = 0; x < width; ++x, to += 4) {
      for (int c = 0; c < channels; ++c) {
        if (bits <= 8) {
          to[c] = row[x * channels + c];
        } else {
          const std::size_t at = (static_cast<std::size_t>(x) * channels + c) * 2;
          const std::uint32_t v = std::min<std::uint32_t>(row[at] | (row[at + 1] << 8), max);
          to[c] = static_cast<std::uint8_t>((v * 255 + max / 2) / max);
        }
      }
      if (!alpha) {
        to[3] = 255;
      } else if (premultiplied && to[3] != 0 && to[3] != 255) {
        for (int c = 0; c < 3; ++c) {
          to[c] = static_cast<std::uint8_t>(std::min(255, (to[c] * 255 + to[3] / 2) / to[3]));
        }
      }
    }
  }
}

void FlipRows(RgbaImage& image) {
  const std::size_t row = static_cast<std::size_t>(image.width) * 4;
  for (int top = 0, bottom = image.height - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(image.At(0, top), image.At(0, top) + row, image.At(0, bottom));
  }
}

void FlipColumns(RgbaImage& image) {
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t* row = image.At(0, y);
    for (int left = 0, right = image.width - 1; left < right; ++left, --right) {
      std::swap_ranges(row + left * 4, row + left * 4 + 4, row + right * 4);
    }
  }
}

// The interleaved RGB(A) samples of a handle's image, decoded at 8 bits, or
// as 16-bit words when `deep`; `bits` is how many of them hold the sample.
struct Interleaved {
  std::unique_ptr<heif_image, ImageRelease> image;
  const std::uint8_t* plane = nullptr;
  int stride = 0;
  int bits = 8;
  int width = 0;
  int height = 0;
};

std::optional<Interleaved> DecodeInterleaved(heif_image_handle* handle, heif_chroma chroma,
                                             bool deep, const heif_decoding_options* options,
                                             ReadProblem* problem) {
  heif_image* rawImage = nullptr;
  const heif_error error =
      heif_decode_image(handle, &rawImage, heif_colorspace_RGB, chroma, options);
  if (error.code != heif_error_Ok) return RefuseWith(problem, error);
  Interleaved decoded;
  decoded.image.reset(rawImage);
  decoded.plane =
      heif_image_get_plane_readonly(rawImage, heif_channel_interleaved, &decoded.stride);
  // The alpha plane may differ from luma, but libheif gives every
  // interleaved sample the image's depth.
  decoded.bits = deep ? heif_image_get_bits_per_pixel_range(rawImage, heif_channel_interleaved) : 8;
  decoded.width = heif_image_get_width(rawImage, heif_channel_interleaved);
  decoded.height = heif_image_get_height(rawImage, heif_channel_interleaved);
  if (!decoded.plane || decoded.bits < 1 || decoded.bits > 16) {
    return Refuse(problem, ReadProblem::Kind::kDamaged, "its decoded picture has no samples");
  }
  return decoded;
}

// A grid's tiles decoded one at a time, each from a file of its own, into
// the picture as stored; then mirrored by the grid's imir, its irot's turn
// left to the scaling. Only one tile's planes are held beside the picture.
std::optional<WholePhoto> ReadTiles(const HeifGrid& grid, int bits, ReadProblem* problem) {
  using Kind = ReadProblem::Kind;
  std::optional<RgbaImage> out = MakeUnfilledImage(grid.width, grid.height);
  if (!out) return Refuse(problem, Kind::kTooLarge, "out of memory");
  const bool deep = bits > 8;
  for (int row = 0; row < grid.rows; ++row) {
    for (int column = 0; column < grid.columns; ++column) {
      const HeifGrid::Tile& tile =
          grid.tiles[static_cast<std::size_t>(row) * grid.columns + column];
      const std::string single = SingleTileFile(grid, tile);
      std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
      if (!context) return Refuse(problem, Kind::kTooLarge, "out of memory");
      heif_context_set_maximum_image_size_limit(context.get(), kMaxPhotoSide);
      heif_context_set_max_decoding_threads(context.get(), 0);
      heif_error error = heif_context_read_from_memory_without_copy(context.get(), single.data(),
                                                                    single.size(), nullptr);
      heif_image_handle* rawHandle = nullptr;
      if (error.code == heif_error_Ok) {
        error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
      }
      if (error.code != heif_error_Ok) return RefuseWith(problem, error);
      std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);
      const std::optional<Interleaved> tileImage = DecodeInterleaved(
          handle.get(), deep ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB,
          deep, nullptr, problem);
      if (!tileImage) return std::nullopt;
      const int x0 = column * grid.tileWidth;
      const int y0 = row * grid.tileHeight;
      const int width = std::min(grid.tileWidth, grid.width - x0);
      const int height = std::min(grid.tileHeight, grid.height - y0);
      if (tileImage->width < width || tileImage->height < height) {
        return Refuse(problem, Kind::kDamaged, "a tile is not the size the grid claims");
      }
      CopyPixels(tileImage->plane, tileImage->stride, tileImage->bits, false, false, *out, x0, y0,
                 width, height);
    }
  }
  // The picture as displayed is the stored one turned anticlockwise, then
  // mirrored. A mirror after an odd turn is the other mirror before it.
  if (grid.mirror >= 0) {
    if ((grid.mirror == 0) != (grid.anticlockwiseTurns % 2 == 1)) {
      FlipRows(*out);
    } else {
      FlipColumns(*out);
    }
  }
  out->knownOpaque = true;
  WholePhoto photo;
  photo.image = std::move(*out);
  photo.uprightQuarterTurns = (4 - grid.anticlockwiseTurns) % 4;
  return photo;
}

EmbeddedProfile ProfileOf(const heif_image_handle* handle) {
  EmbeddedProfile profile;
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
  if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
    const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size > kMaxProfileBytes) {
      profile.state = EmbeddedProfile::State::kDamaged;
      profile.problem = "it is larger than any profile";
      return profile;
    }
    profile.bytes.resize(size);
    if (size == 0 || heif_image_handle_get_raw_color_profile(handle, profile.bytes.data()).code !=
                         heif_error_Ok) {
      profile.state = EmbeddedProfile::State::kDamaged;
      profile.problem = "it cannot be read from the file";
      profile.bytes.clear();
      return profile;
    }
    profile.state = EmbeddedProfile::State::kFound;
    return profile;
  }
  heif_color_profile_nclx* nclx = nullptr;
  const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &nclx);
  // Freed whatever the answer: a damaged box can give an error and a profile.
  const std::unique_ptr<heif_color_profile_nclx, NclxFree> owned(nclx);
  if (error.code != heif_error_Ok || !nclx) return profile;
  return NclxProfile(Nclx{static_cast<int>(nclx->color_primaries),
                          static_cast<int>(nclx->transfer_characteristics)});
}

std::string ExifOf(const heif_image_handle* handle) {
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1) return {};
  const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
  if (size < 4 || size > kMaxExifBytes) return {};
  std::string block(size, '\0');
  if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok) return {};
  // The block starts with the offset of the TIFF header from its fifth byte.
  const std::uint64_t offset = std::uint64_t{ReadBigEndian32(block, 0)} + 4;
  if (offset >= block.size()) return {};
  return block.substr(static_cast<std::size_t>(offset));
}

}  // namespace

std::optional<std::uint64_t> HeifItemCount(std::string_view file, bool& cutShort) {
  cutShort = false;
  HeifBox box;
  for (std::size_t at = 0; at < file.size(); at = box.end) {
    if (!NextHeifBox(file, at, box, cutShort)) return std::nullopt;
    if (box.type != "meta") continue;
    // meta is a full box: version and flags before its children.
    HeifBox child;
    for (std::size_t inner = box.content + 4; inner < box.end; inner = child.end) {
      if (!NextHeifBox(file.substr(0, box.end), inner, child, cutShort)) return std::nullopt;
      if (child.type != "iinf") continue;
      if (child.content + 6 > child.end) return std::nullopt;
      const bool wide = file[child.content] != 0;
      if (wide && child.content + 8 > child.end) return std::nullopt;
      return wide ? ReadBigEndian32(file, child.content + 4)
                  : ReadBigEndian16(file, child.content + 4);
    }
    return std::uint64_t{0};
  }
  return std::uint64_t{0};
}

namespace {

// A HEIF file opened by libheif, its primary image's handle, and its size as
// displayed (after any quarter turn), checked against the limits.
struct OpenedHeif {
  std::unique_ptr<heif_context, ContextFree> context;
  std::unique_ptr<heif_image_handle, HandleRelease> handle;
  int width = 0;
  int height = 0;
};

std::optional<OpenedHeif> OpenHeif(std::string_view file, ReadProblem* problem,
                                   int decoderThreads) {
  using Kind = ReadProblem::Kind;
  bool cutShort = false;
  const std::optional<std::uint64_t> items = HeifItemCount(file, cutShort);
  if (cutShort) return Refuse(problem, Kind::kCutShort, "the file is cut short");
  if (!items) return Refuse(problem, Kind::kDamaged, "its boxes are damaged");
  if (*items > kMaxHeifItems) {
    return Refuse(problem, Kind::kTooLarge,
                  "it lists " + std::to_string(*items) + " items, more than " +
                      std::to_string(kMaxHeifItems));
  }

  OpenedHeif opened;
  opened.context.reset(heif_context_alloc());
  if (!opened.context) return Refuse(problem, Kind::kTooLarge, "out of memory");
  heif_context_set_maximum_image_size_limit(opened.context.get(), kMaxPhotoSide);
  heif_context_set_max_decoding_threads(opened.context.get(), decoderThreads);
  heif_error error = heif_context_read_from_memory_without_copy(opened.context.get(), file.data(),
                                                                file.size(), nullptr);
  if (error.code != heif_error_Ok) return RefuseWith(problem, error);
  heif_image_handle* rawHandle = nullptr;
  error = heif_context_get_primary_image_handle(opened.context.get(), &rawHandle);
  if (error.code != heif_error_Ok) return RefuseWith(problem, error);
  opened.handle.reset(rawHandle);

  opened.width = heif_image_handle_get_width(rawHandle);
  opened.height = heif_image_handle_get_height(rawHandle);
  const int width = opened.width;
  const int height = opened.height;
  if (width <= 0 || height <= 0) return Refuse(problem, Kind::kDamaged, "it has no size");
  if (width > kMaxPhotoSide || height > kMaxPhotoSide ||
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) >
          kMaxWholeImagePixels) {
    return Refuse(problem, Kind::kTooLarge,
                  "it is " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  }
  return opened;
}

}  // namespace

std::optional<PhotoOutline> OutlineHeif(std::string_view file, ReadProblem* problem) {
  const std::optional<OpenedHeif> opened = OpenHeif(file, problem, 0);
  if (!opened) return std::nullopt;
  return PhotoOutline{opened->width, opened->height, ExifOf(opened->handle.get())};
}

std::optional<WholePhoto> ReadHeif(std::string_view file, ReadProblem* problem,
                                   int decoderThreads) {
  using Kind = ReadProblem::Kind;
  std::optional<OpenedHeif> opened = OpenHeif(file, problem, decoderThreads);
  if (!opened) return std::nullopt;
  const std::unique_ptr<heif_image_handle, HandleRelease>& handle = opened->handle;
  const int width = opened->width;
  const int height = opened->height;
  const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
  if (bits < 1 || bits > 16) {
    return Refuse(problem, Kind::kUnsupported,
                  "its samples are of " + std::to_string(bits) + " bits");
  }
  const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  const bool deep = bits > 8;
  const heif_chroma chroma =
      deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
           : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);

  // A grid is decoded at the size its description gives, which libheif
  // 1.15 checks only side by side: a grid that claims another picture than
  // its image's measured size (turned by its irot) is refused before any
  // decoder makes it, so that the limits above hold for it too.
  std::optional<HeifGridSize> gridSize;
  const std::optional<HeifGrid> grid = FindHeifGrid(file, &gridSize);
  if (gridSize) {
    const bool sideways = gridSize->anticlockwiseTurns % 2 == 1;
    if ((sideways ? gridSize->height : gridSize->width) != width ||
        (sideways ? gridSize->width : gridSize->height) != height) {
      return Refuse(problem, Kind::kDamaged,
                    "its grid is " + std::to_string(gridSize->width) + " x " +
                        std::to_string(gridSize->height) + " pixels, not the " +
                        std::to_string(width) + " x " + std::to_string(height) + " it claims");
    }
  }
  // A grid of tiles, as phones store photos, is decoded a tile at a time.
  if (grid && !alpha) {
    std::optional<WholePhoto> tiled = ReadTiles(*grid, bits, problem);
    if (tiled) {
      tiled->profile = ProfileOf(handle.get());
      tiled->exif = ExifOf(handle.get());
    }
    return tiled;
  }

  WholePhoto photo;
  photo.profile = ProfileOf(handle.get());
  photo.exif = ExifOf(handle.get());
  std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
  options->ignore_transformations = 0;  // irot, imir and clap are the picture's
  options->convert_hdr_to_8bit = 0;     // rounded here instead of cut
  const std::optional<Interleaved> decoded =
      DecodeInterleaved(handle.get(), chroma, deep, options.get(), problem);
  if (!decoded) return std::nullopt;
  if (decoded->width != width || decoded->height != height) {
    return Refuse(problem, Kind::kDamaged, "its decoded picture is not the size it claims");
  }
  // Made once the decoder has let go of its YCbCr planes, so that the two
  // are never held together with the photo.
  std::optional<RgbaImage> out = MakeUnfilledImage(width, height);
  if (!out) return Refuse(problem, Kind::kTooLarge, "out of memory");
  CopyPixels(decoded->plane, decoded->stride, decoded->bits, alpha,
             heif_image_handle_is_premultiplied_alpha(handle.get()) != 0, *out, 0, 0, width,
             height);
  out->knownOpaque = !alpha;
  photo.image = std::move(*out);
  return photo;
}

}  // namespace sheetsmith
