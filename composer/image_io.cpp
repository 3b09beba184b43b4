#include "image_io.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "buffer_pool.h"
#include "file_io.h"
#include "jpeg_writer.h"
#include "resample.h"

#ifdef _WIN32
#define STBI_WINDOWS_UTF8
#endif
#define STB_IMAGE_IMPLEMENTATION
// The decoder's buffers, the decoded photo among them, come from the pixel pool.
#define STBI_MALLOC(size) ::sheetsmith::PoolAllocate(size)
#define STBI_REALLOC(block, size) ::sheetsmith::PoolReallocate(block, size)
#define STBI_FREE(block) ::sheetsmith::PoolFree(block)
#include <stb_image.h>

namespace sheetsmith {

std::optional<RgbaImage> LoadRgba(const std::string& path) {
  UniqueFile file = OpenFile(path, "rb");
  if (!file) return std::nullopt;
  // The decoder reads in small pieces; a large buffer makes that a few
  // system calls per photo instead of hundreds.
  std::setvbuf(file.get(), nullptr, _IOFBF, std::size_t{1} << 20);
  int width = 0;
  int height = 0;
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_file(file.get(), &width, &height, &channels, 4);
  if (!pixels) return std::nullopt;
  // The decoder allocates from the pixel pool, which is what RgbaImage frees to.
  RgbaImage image = AdoptPixels(pixels, width, height);
  image.knownOpaque = channels == 1 || channels == 3;  // the file has no alpha
  return image;
}

// A JPEG file decoded into the decoder's component planes, with what turns
// them into RGBA rows one at a time: the decoder's own upsampling and colour
// conversion, driven row by row as its whole-image loader drives them, so
// every row comes out as that loader would have made it. The rows are kept
// in a ring of the size the resampler asks for.
struct DecodedPhoto::JpegPlanes final : RowSource {
  UniqueFile file;
  stbi__context context{};
  stbi__jpeg* jpeg = nullptr;
  stbi__resample upsamplers[3]{};
  int components = 0;     // 3 (colour) or 1 (grey)
  bool rgbCoded = false;  // colour stored as R, G, B rather than Y, Cb, Cr
  std::vector<std::uint8_t> ring;
  int ringRows = 0;
  int nextRow = 0;
  std::int64_t rowNs = 0;

  JpegPlanes() = default;
  JpegPlanes(const JpegPlanes&) = delete;
  JpegPlanes& operator=(const JpegPlanes&) = delete;
  ~JpegPlanes() override {
    if (jpeg) {
      stbi__cleanup_jpeg(jpeg);
      STBI_FREE(jpeg);
    }
  }

  // Decodes the planes; false when the file is not a JPEG file this path
  // takes (then nothing of it was read past its header) or cannot be decoded.
  bool Decode(bool& notTaken) {
    notTaken = false;
    stbi__start_file(&context, file.get());
    if (!stbi__jpeg_test(&context)) {
      notTaken = true;
      return false;
    }
    jpeg = static_cast<stbi__jpeg*>(STBI_MALLOC(sizeof(stbi__jpeg)));
    if (!jpeg) return false;
    std::memset(jpeg, 0, sizeof(stbi__jpeg));
    jpeg->s = &context;
    stbi__setup_jpeg(jpeg);
    context.img_n = 0;  // what the clean-up frees until the header is read
    if (!stbi__decode_jpeg_image(jpeg)) return false;
    const int stored = context.img_n;
    if (stored != 1 && stored != 3) {
      // CMYK and other four-component files go the whole-image way.
      notTaken = true;
      return false;
    }
    components = stored;
    rgbCoded = stored == 3 && (jpeg->rgb == 3 || (jpeg->app14_color_transform == 0 && !jpeg->jfif));
    for (int k = 0; k < components; ++k) {
      auto& plane = jpeg->img_comp[k];
      // Room for upsampling past the edges by up to four.
      plane.linebuf = static_cast<stbi_uc*>(STBI_MALLOC(context.img_x + 3));
      if (!plane.linebuf) return false;
      stbi__resample& up = upsamplers[k];
      up.hs = jpeg->img_h_max / plane.h;
      up.vs = jpeg->img_v_max / plane.v;
      up.ystep = up.vs >> 1;
      up.w_lores = (static_cast<int>(context.img_x) + up.hs - 1) / up.hs;
      up.ypos = 0;
      up.line0 = up.line1 = plane.data;
      if (up.hs == 1 && up.vs == 1) {
        up.resample = resample_row_1;
      } else if (up.hs == 1 && up.vs == 2) {
        up.resample = stbi__resample_row_v_2;
      } else if (up.hs == 2 && up.vs == 1) {
        up.resample = stbi__resample_row_h_2;
      } else if (up.hs == 2 && up.vs == 2) {
        up.resample = jpeg->resample_row_hv_2_kernel;
      } else {
        up.resample = stbi__resample_row_generic;
      }
    }
    return true;
  }

  // Makes the next row into `out`.
  void MakeRow(std::uint8_t* out) {
    const int width = static_cast<int>(context.img_x);
    stbi_uc* rows[3] = {nullptr, nullptr, nullptr};
    for (int k = 0; k < components; ++k) {
      stbi__resample& up = upsamplers[k];
      auto& plane = jpeg->img_comp[k];
      const bool lower = up.ystep >= (up.vs >> 1);
      rows[k] = up.resample(plane.linebuf, lower ? up.line1 : up.line0, lower ? up.line0 : up.line1,
                            up.w_lores, up.hs);
      if (++up.ystep >= up.vs) {
        up.ystep = 0;
        up.line0 = up.line1;
        if (++up.ypos < plane.y) up.line1 += plane.w2;
      }
    }
    if (components == 3 && !rgbCoded) {
      jpeg->YCbCr_to_RGB_kernel(out, rows[0], rows[1], rows[2], width, 4);
      return;
    }
    for (int x = 0; x < width; ++x) {
      out[x * 4 + 0] = rows[0][x];
      out[x * 4 + 1] = components == 3 ? rows[1][x] : rows[0][x];
      out[x * 4 + 2] = components == 3 ? rows[2][x] : rows[0][x];
      out[x * 4 + 3] = 255;
    }
  }

  bool Reserve(int rows) override {
    ringRows = std::max(1, std::min(rows, static_cast<int>(context.img_y)));
    try {
      ring.resize(static_cast<std::size_t>(ringRows) * context.img_x * 4);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  const std::uint8_t* Row(int y) override {
    if (y < nextRow - ringRows || y >= static_cast<int>(context.img_y)) return nullptr;
    if (y >= nextRow) {
      const auto start = std::chrono::steady_clock::now();
      for (; nextRow <= y; ++nextRow) MakeRow(Slot(nextRow));
      rowNs += std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now() - start)
                   .count();
    }
    return Slot(y);
  }

  std::uint8_t* Slot(int y) {
    return &ring[static_cast<std::size_t>(y % ringRows) * context.img_x * 4];
  }
};

std::optional<DecodedPhoto> DecodedPhoto::Open(const std::string& path) {
  DecodedPhoto photo;
  auto planes = std::make_unique<JpegPlanes>();
  planes->file = OpenFile(path, "rb");
  if (!planes->file) return std::nullopt;
  std::setvbuf(planes->file.get(), nullptr, _IOFBF, std::size_t{1} << 20);
  bool notTaken = false;
  if (planes->Decode(notTaken)) {
    photo.width_ = static_cast<int>(planes->context.img_x);
    photo.height_ = static_cast<int>(planes->context.img_y);
    planes->file.reset();
    photo.planes_ = std::move(planes);
    return photo;
  }
  if (!notTaken) return std::nullopt;
  planes.reset();
  photo.whole_ = LoadRgba(path);
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
  if (!planes_ || planes_->nextRow != 0) return std::nullopt;
  std::optional<RgbaImage> scaled =
      ResampleRows(*planes_, width_, height_, width, height, quarterTurns);
  rowNs_ = planes_->rowNs;
  if (scaled) planes_.reset();
  return scaled;
}

std::optional<RgbaImage> DecodedPhoto::Whole() {
  if (whole_) {
    std::optional<RgbaImage> image = std::move(whole_);
    whole_.reset();
    return image;
  }
  if (!planes_ || planes_->nextRow != 0) return std::nullopt;
  std::optional<RgbaImage> image = MakeUnfilledImage(width_, height_);
  if (!image) return std::nullopt;
  for (int y = 0; y < height_; ++y) planes_->MakeRow(image->At(0, y));
  image->knownOpaque = true;
  planes_.reset();
  return image;
}

std::int64_t DecodedPhoto::rowNanoseconds() const { return rowNs_; }

std::optional<RgbaImage> Resize(const RgbaImage& image, int width, int height, int quarterTurns) {
  return Resample(image, width, height, quarterTurns);
}

bool SaveJpeg(const RgbaImage& image, const std::string& path, int quality) {
  if (image.empty()) return false;
  // Written beside the page and put in its place only when whole: a page cut
  // short, or one from an earlier run, never passes for this run's.
  const std::string partial = PartialPath(path);
  UniqueFile file = OpenFile(partial, "wb");
  if (!file) return false;
  std::FILE* stream = file.get();
  const bool written =
      EncodeJpeg(image, quality, [stream](const std::uint8_t* bytes, std::size_t count) {
        return std::fwrite(bytes, 1, count, stream) == count;
      });
  const bool closed = std::fclose(file.release()) == 0;
  if (written && closed && RenameOver(partial, path)) return true;
  RemoveFile(partial);
  return false;
}

}  // namespace sheetsmith
