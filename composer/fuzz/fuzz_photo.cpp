// Feeds arbitrary bytes to the photo loader as the composer uses it: opened
// as a photo and scaled to a magnet (a quarter turned), and loaded whole as
// a frame. The bytes go through a file, since photos are opened by path.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz_photo_" + std::to_string(getpid());
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  if (std::optional<sheetsmith::DecodedPhoto> photo = sheetsmith::DecodedPhoto::Open(path)) {
    if (!photo->Scale(48, 36, 1)) photo->Whole();
  }
  sheetsmith::LoadRgba(path);
  return 0;
}
