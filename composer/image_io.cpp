#include "image_io.h"

#include <cstdio>
#include <new>
#include <vector>

#include "buffer_pool.h"
#include "file_io.h"
#include "resample.h"

#ifdef _WIN32
#define STBI_WINDOWS_UTF8
#define STBIW_WINDOWS_UTF8
#endif
#define STB_IMAGE_IMPLEMENTATION
// The decoder's buffers, the decoded photo among them, come from the pixel pool.
#define STBI_MALLOC(size) ::sheetsmith::PoolAllocate(size)
#define STBI_REALLOC(block, size) ::sheetsmith::PoolReallocate(block, size)
#define STBI_FREE(block) ::sheetsmith::PoolFree(block)
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image.h>
#include <stb_image_write.h>

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

std::optional<RgbaImage> Resize(const RgbaImage& image, int width, int height) {
  return Resample(image, width, height);
}

namespace {

// The writer hands over a few bytes at a time; they reach the file in large
// pieces.
struct JpegSink {
  std::FILE* file;
  bool failed = false;
  std::vector<char> pending;

  void Flush() {
    if (!failed && !pending.empty() &&
        std::fwrite(pending.data(), 1, pending.size(), file) != pending.size()) {
      failed = true;
    }
    pending.clear();
  }
};

constexpr std::size_t kSinkBytes = 1 << 16;

void WriteToSink(void* context, void* data, int size) {
  auto* sink = static_cast<JpegSink*>(context);
  if (sink->failed || size <= 0) return;
  const char* bytes = static_cast<const char*>(data);
  sink->pending.insert(sink->pending.end(), bytes, bytes + size);
  if (sink->pending.size() >= kSinkBytes) sink->Flush();
}

}  // namespace

bool SaveJpeg(const RgbaImage& image, const std::string& path, int quality) {
  if (image.empty()) return false;
  const std::size_t pixelCount = static_cast<std::size_t>(image.width) * image.height;
  std::vector<unsigned char> rgb;
  try {
    rgb.resize(pixelCount * 3);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::uint8_t* source = image.data();
  for (std::size_t i = 0; i < pixelCount; ++i) {
    rgb[i * 3 + 0] = source[i * 4 + 0];
    rgb[i * 3 + 1] = source[i * 4 + 1];
    rgb[i * 3 + 2] = source[i * 4 + 2];
  }
  UniqueFile file = OpenFile(path, "wb");
  if (!file) return false;
  JpegSink sink{file.get(), false, {}};
  sink.pending.reserve(kSinkBytes + 256);
  const int ok =
      stbi_write_jpg_to_func(WriteToSink, &sink, image.width, image.height, 3, rgb.data(), quality);
  sink.Flush();
  const bool closed = std::fclose(file.release()) == 0;
  if (ok && !sink.failed && closed) return true;
  // A page cut short must not pass for a finished one.
  RemoveFile(path);
  return false;
}

}  // namespace sheetsmith
