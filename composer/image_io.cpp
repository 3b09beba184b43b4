#include "image_io.h"

#include <cstdio>

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

std::optional<RgbaImage> Resize(const RgbaImage& image, int width, int height,
                                int quarterTurns) {
  return Resample(image, width, height, quarterTurns);
}

bool SaveJpeg(const RgbaImage& image, const std::string& path, int quality) {
  if (image.empty()) return false;
  UniqueFile file = OpenFile(path, "wb");
  if (!file) return false;
  std::FILE* stream = file.get();
  const bool written =
      EncodeJpeg(image, quality, [stream](const std::uint8_t* bytes, std::size_t count) {
        return std::fwrite(bytes, 1, count, stream) == count;
      });
  const bool closed = std::fclose(file.release()) == 0;
  if (written && closed) return true;
  // A page cut short must not pass for a finished one.
  RemoveFile(path);
  return false;
}

}  // namespace sheetsmith
