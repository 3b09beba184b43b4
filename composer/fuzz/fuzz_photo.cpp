// Feeds arbitrary bytes to the photo loader as the composer uses it: opened
// as a photo, its colour profile read and its conversion to sRGB or to
// Adobe RGB made (the profile a file carries is outside input too), scaled
// to a magnet (a quarter turned) and converted; and loaded whole as a frame.
// The bytes go through a file, since photos are opened by path.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "imaging/reading/photo_reader.h"
#include "placement.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz_photo_" + std::to_string(getpid());
  if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  // To sRGB or to Adobe RGB as the input's last byte says; each target's
  // run made again every so many inputs, since a run keeps the conversion
  // of every profile it met.
  static std::unique_ptr<sheetsmith::RunColors> targets[2];
  static int inputs = 0;
  const int which = size > 0 && data[size - 1] % 2 ? 1 : 0;
  if (inputs++ % 64 == 0 || !targets[which]) {
    for (int i = 0; i < 2; ++i) {
      targets[i] = std::make_unique<sheetsmith::RunColors>(sheetsmith::ResolveColorTarget(
          sheetsmith::ParseColorSelection(i == 1 ? "adobe_rgb" : "srgb"), nullptr));
    }
  }
  sheetsmith::RunColors& colors = *targets[which];
  if (std::optional<sheetsmith::DecodedPhoto> photo = sheetsmith::DecodedPhoto::Open(path)) {
    bool tagged = false;
    const auto conversion = sheetsmith::ConversionFor(*photo, path, &colors, tagged);
    std::optional<sheetsmith::RgbaImage> scaled = photo->Scale(48, 36, 1);
    if (!scaled) scaled = photo->Whole();
    if (scaled && conversion) {
      conversion->Apply(scaled->data(), static_cast<std::size_t>(scaled->width) * scaled->height);
    }
  }
  sheetsmith::LoadRgba(path);
  return 0;
}
