// Feeds arbitrary bytes to the photo loader as the composer uses it: opened
// as a photo, its colour profile read and its conversion to sRGB and to
// Adobe RGB made (the profile a file carries is outside input too), scaled
// to a magnet (a quarter turned) and converted; and loaded whole as a frame.
// The bytes go through a file, since photos are opened by path.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "image_io.h"
#include "placement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz_photo_" + std::to_string(getpid());
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  // Fresh for each input: a run keeps the conversion of every profile it met.
  sheetsmith::RunColors srgb(
      sheetsmith::ResolveColorTarget(sheetsmith::ParseColorSelection("srgb"), nullptr));
  sheetsmith::RunColors adobe(
      sheetsmith::ResolveColorTarget(sheetsmith::ParseColorSelection("adobe_rgb"), nullptr));
  for (sheetsmith::RunColors* colors : {&srgb, &adobe}) {
    if (std::optional<sheetsmith::DecodedPhoto> photo = sheetsmith::DecodedPhoto::Open(path)) {
      bool tagged = false;
      const auto conversion = sheetsmith::ConversionFor(*photo, path, colors, tagged);
      std::optional<sheetsmith::RgbaImage> scaled = photo->Scale(48, 36, 1);
      if (!scaled) scaled = photo->Whole();
      if (scaled && conversion) {
        conversion->Apply(scaled->data(), static_cast<std::size_t>(scaled->width) * scaled->height);
      }
    }
  }
  sheetsmith::LoadRgba(path);
  return 0;
}
