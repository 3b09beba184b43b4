// HEIF and AVIF photos through libheif, checked against the readers' limits
// before anything is decoded.
#include "imaging/reading/heif_reader.h"

#include <libheif/heif.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/color/nclx_profile.h"
#include "imaging/color/profiles.h"
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

// A box's extent within `bytes` from `at`: its type and where its content
// starts and ends. False when the header itself does not fit or is damaged;
// `cutShort` when the box claims more than there is.
struct Box {
  std::string_view type;
  std::size_t content = 0;
  std::size_t end = 0;
};

bool NextBox(std::string_view bytes, std::size_t at, Box& box, bool& cutShort) {
  if (at + 8 > bytes.size()) {
    cutShort = true;
    return false;
  }
  std::uint64_t size = ReadBigEndian32(bytes, at);
  box.type = bytes.substr(at + 4, 4);
  std::size_t header = 8;
  if (size == 1) {
    if (at + 16 > bytes.size()) {
      cutShort = true;
      return false;
    }
    size = (std::uint64_t{ReadBigEndian32(bytes, at + 8)} << 32) | ReadBigEndian32(bytes, at + 12);
    header = 16;
  } else if (size == 0) {
    size = bytes.size() - at;  // to the end of the file
  }
  if (size < header) return false;
  if (size > bytes.size() - at) {
    cutShort = true;
    return false;
  }
  box.content = at + header;
  box.end = at + static_cast<std::size_t>(size);
  return true;
}

// Takes the samples of a decoded interleaved plane into the photo: 8-bit as
// they are, deeper ones (little-endian 16-bit words) rounded to 8 bits.
void CopyPixels(const std::uint8_t* plane, int stride, int bits, bool alpha, bool premultiplied,
                RgbaImage& out) {
  const int channels = alpha ? 4 : 3;
  const std::uint32_t max = (std::uint32_t{1} << bits) - 1;
  for (int y = 0; y < out.height; ++y) {
    const std::uint8_t* row = plane + static_cast<std::size_t>(y) * stride;
    std::uint8_t* to = out.At(0, y);
    for (int x = 0; x < out.width; ++x, to += 4) {
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
  Box box;
  for (std::size_t at = 0; at < file.size(); at = box.end) {
    if (!NextBox(file, at, box, cutShort)) return std::nullopt;
    if (box.type != "meta") continue;
    // meta is a full box: version and flags before its children.
    Box child;
    for (std::size_t inner = box.content + 4; inner < box.end; inner = child.end) {
      if (!NextBox(file.substr(0, box.end), inner, child, cutShort)) return std::nullopt;
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

std::optional<WholePhoto> ReadHeif(std::string_view file, ReadProblem* problem,
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

  std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context) return Refuse(problem, Kind::kTooLarge, "out of memory");
  heif_context_set_maximum_image_size_limit(context.get(), kMaxPhotoSide);
  heif_context_set_max_decoding_threads(context.get(), decoderThreads);
  heif_error error =
      heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr);
  if (error.code != heif_error_Ok) return RefuseWith(problem, error);
  heif_image_handle* rawHandle = nullptr;
  error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
  if (error.code != heif_error_Ok) return RefuseWith(problem, error);
  std::unique_ptr<heif_image_handle, HandleRelease> handle(rawHandle);

  // The size as displayed (after any quarter turn), checked before decoding.
  const int width = heif_image_handle_get_width(handle.get());
  const int height = heif_image_handle_get_height(handle.get());
  if (width <= 0 || height <= 0) return Refuse(problem, Kind::kDamaged, "it has no size");
  if (width > kMaxPhotoSide || height > kMaxPhotoSide ||
      static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) >
          kMaxWholeImagePixels) {
    return Refuse(problem, Kind::kTooLarge,
                  "it is " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  }
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

  WholePhoto photo;
  photo.profile = ProfileOf(handle.get());
  photo.exif = ExifOf(handle.get());
  std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
  options->ignore_transformations = 0;  // irot, imir and clap are the picture's
  options->convert_hdr_to_8bit = 0;     // rounded here instead of cut
  heif_image* rawImage = nullptr;
  error = heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, chroma, options.get());
  if (error.code != heif_error_Ok) return RefuseWith(problem, error);
  std::unique_ptr<heif_image, ImageRelease> image(rawImage);
  int stride = 0;
  const std::uint8_t* plane =
      heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  // The bits of the decoded samples: the alpha plane may differ from luma,
  // but libheif gives every interleaved sample the image's depth.
  const int sampleBits =
      deep ? heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) : 8;
  if (!plane || heif_image_get_width(image.get(), heif_channel_interleaved) != width ||
      heif_image_get_height(image.get(), heif_channel_interleaved) != height || sampleBits < 1 ||
      sampleBits > 16) {
    return Refuse(problem, Kind::kDamaged, "its decoded picture is not the size it claims");
  }
  // Made once the decoder has let go of its YCbCr planes, so that the two
  // are never held together with the photo.
  std::optional<RgbaImage> out = MakeUnfilledImage(width, height);
  if (!out) return Refuse(problem, Kind::kTooLarge, "out of memory");
  CopyPixels(plane, stride, sampleBits, alpha,
             heif_image_handle_is_premultiplied_alpha(handle.get()) != 0, *out);
  out->knownOpaque = !alpha;
  photo.image = std::move(*out);
  return photo;
}

}  // namespace sheetsmith
