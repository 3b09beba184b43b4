// Prints how fast the composer's JPEG writer and libjpeg-turbo's encoder
// write the same pages, and how large the files are: the measurement behind
// the choice of the page writer.
//   encode_bench QUALITY PAGE.jpg...
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// After <cstdio>, which it needs.
#include <jpeglib.h>

#include "imaging/reading/photo_reader.h"
#include "imaging/writing/jpeg_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

// libjpeg-turbo at the quality, its default integer DCT, chroma at full
// resolution (as the composer's writer above quality 90) or halved both ways.
std::size_t EncodeWithLibjpeg(const sheetsmith::RgbaImage& page, int quality, bool halfChroma,
                              bool optimize) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(page.width);
  info.image_height = static_cast<JDIMENSION>(page.height);
  info.input_components = 4;
  info.in_color_space = JCS_EXT_RGBX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  info.comp_info[0].h_samp_factor = halfChroma ? 2 : 1;
  info.comp_info[0].v_samp_factor = halfChroma ? 2 : 1;
  info.optimize_coding = optimize ? TRUE : FALSE;
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(page.At(0, static_cast<int>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::free(out);
  return size;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: encode_bench QUALITY PAGE.jpg...\n");
    return 2;
  }
  const int quality = std::atoi(argv[1]);
  std::vector<sheetsmith::RgbaImage> pages;
  for (int i = 2; i < argc; ++i) {
    if (auto page = sheetsmith::LoadRgba(argv[i])) pages.push_back(std::move(*page));
  }
  const int rounds = 5;
  const auto measure = [&](const char* name, auto encode) {
    std::size_t bytes = 0;
    const Clock::time_point start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
      bytes = 0;
      for (const auto& page : pages) bytes += encode(page);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rounds;
    std::printf("  %-44s %7.1f ms for %zu pages, %8zu bytes\n", name, ms, pages.size(), bytes);
  };
  std::printf("Page writers at quality %d:\n", quality);
  measure("composer's writer (4:4:4 above 90)", [&](const sheetsmith::RgbaImage& page) {
    std::size_t size = 0;
    sheetsmith::EncodeJpeg(page, quality, [&size](const std::uint8_t*, std::size_t count) {
      size += count;
      return true;
    });
    return size;
  });
  measure("libjpeg-turbo, 4:4:4", [&](const auto& page) {
    return EncodeWithLibjpeg(page, quality, false, false);
  });
  measure("libjpeg-turbo, 4:4:4, optimised Huffman", [&](const auto& page) {
    return EncodeWithLibjpeg(page, quality, false, true);
  });
  measure("libjpeg-turbo, 4:2:0", [&](const auto& page) {
    return EncodeWithLibjpeg(page, quality, true, false);
  });
  return 0;
}
