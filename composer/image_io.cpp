#include "image_io.h"

#include <cstdio>
#include <new>
#include <vector>

#include "file_io.h"

#ifdef _WIN32
#define STBI_WINDOWS_UTF8
#define STBIW_WINDOWS_UTF8
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#endif
#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace sheetsmith {

std::optional<RgbaImage> LoadRgba(const std::string& path) {
  UniqueFile file = OpenFile(path, "rb");
  if (!file) return std::nullopt;
  int width = 0;
  int height = 0;
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_file(file.get(), &width, &height, &channels, 4);
  if (!pixels) return std::nullopt;
  // stb_image allocates with malloc, which is what RgbaImage frees with.
  return AdoptPixels(pixels, width, height);
}

std::optional<RgbaImage> Resize(const RgbaImage& image, int width, int height) {
  if (image.empty()) return std::nullopt;
  std::optional<RgbaImage> out = MakeImage(width, height, 0);
  if (!out) return std::nullopt;
  const int ok = stbir_resize_uint8_generic(image.data(), image.width, image.height, 0, out->data(),
                                            width, height, 0, 4, 3, 0, STBIR_EDGE_CLAMP,
                                            STBIR_FILTER_DEFAULT, STBIR_COLORSPACE_LINEAR, nullptr);
  if (!ok) return std::nullopt;
  return out;
}

namespace {

struct JpegSink {
  std::FILE* file;
  bool failed = false;
};

void WriteToSink(void* context, void* data, int size) {
  auto* sink = static_cast<JpegSink*>(context);
  if (sink->failed || size <= 0) return;
  if (std::fwrite(data, 1, static_cast<std::size_t>(size), sink->file) !=
      static_cast<std::size_t>(size)) {
    sink->failed = true;
  }
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
  JpegSink sink{file.get()};
  const int ok =
      stbi_write_jpg_to_func(WriteToSink, &sink, image.width, image.height, 3, rgb.data(), quality);
  const bool closed = std::fclose(file.release()) == 0;
  if (ok && !sink.failed && closed) return true;
  // A page cut short must not pass for a finished one.
  RemoveFile(path);
  return false;
}

}  // namespace sheetsmith
