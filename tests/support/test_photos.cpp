#include "test_photos.h"

// The reference writer the composer's own JPEG writer is held to.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <atomic>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// After <cstdio>, which it needs.
#include <jpeglib.h>
#include <lcms2.h>

#include "imaging/system/file_io.h"

namespace testsupport {

RgbaImage Solid(int width, int height, Rgb color, std::uint8_t alpha) {
  RgbaImage image = *sheetsmith::MakeImage(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.At(x, y);
      p[0] = color.r;
      p[1] = color.g;
      p[2] = color.b;
      p[3] = alpha;
    }
  }
  return image;
}

RgbaImage Quadrants(int width, int height) {
  RgbaImage image = *sheetsmith::MakeImage(width, height, 255);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      Rgb c = !bottom ? (!right ? Rgb{255, 0, 0} : Rgb{0, 255, 0})
                      : (!right ? Rgb{0, 0, 255} : Rgb{255, 255, 0});
      std::uint8_t* p = image.At(x, y);
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  }
  return image;
}

RgbaImage Gradient(int width, int height, int seed) {
  // Triangle waves, so that the colours run smoothly without wrapping edges.
  auto wave = [](int value) { return static_cast<std::uint8_t>(std::abs(value % 510 - 255)); };
  RgbaImage image = *sheetsmith::MakeImage(width, height, 255);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.At(x, y);
      p[0] = wave(x * 255 / std::max(1, width - 1) + seed * 37 + 255);
      p[1] = wave(y * 255 / std::max(1, height - 1) + seed * 61);
      p[2] = static_cast<std::uint8_t>(((x / 16 + y / 16) % 2) * 24 + 120 + (seed * 13) % 80);
    }
  }
  return image;
}

namespace {

void AppendToString(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                             static_cast<std::size_t>(size));
}

void Put16(std::string& out, unsigned value, bool bigEndian) {
  if (bigEndian) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
  } else {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
  }
}

void Put32(std::string& out, unsigned value, bool bigEndian) {
  if (bigEndian) {
    Put16(out, value >> 16, true);
    Put16(out, value & 0xFFFF, true);
  } else {
    Put16(out, value & 0xFFFF, false);
    Put16(out, value >> 16, false);
  }
}

std::vector<unsigned char> RgbBytes(const RgbaImage& image) {
  std::vector<unsigned char> rgb(static_cast<std::size_t>(image.width) * image.height * 3);
  for (std::size_t i = 0; i < rgb.size() / 3; ++i)
    std::memcpy(&rgb[i * 3], image.data() + i * 4, 3);
  return rgb;
}

}  // namespace

std::string EncodeJpeg(const RgbaImage& image, int quality) {
  std::string bytes;
  const std::vector<unsigned char> rgb = RgbBytes(image);
  stbi_write_jpg_to_func(AppendToString, &bytes, image.width, image.height, 3, rgb.data(), quality);
  return bytes;
}

namespace {

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

}  // namespace

std::string EncodeJpegAs(const RgbaImage& image, const JpegLayout& layout) {
  jpeg_compress_struct info{};
  JpegErrors errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = &OnJpegError;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&info);
    std::free(out);
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = static_cast<JDIMENSION>(image.width);
  info.image_height = static_cast<JDIMENSION>(image.height);
  const bool fourInks = layout.kind == JpegKind::kCmyk || layout.kind == JpegKind::kYcck;
  const bool grey = layout.kind == JpegKind::kGrey;
  info.input_components = fourInks ? 4 : grey ? 1 : 3;
  info.in_color_space = fourInks ? JCS_CMYK : grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  const J_COLOR_SPACE stored[] = {JCS_YCbCr, JCS_RGB, JCS_GRAYSCALE, JCS_CMYK, JCS_YCCK};
  jpeg_set_colorspace(&info, stored[static_cast<int>(layout.kind)]);
  jpeg_set_quality(&info, layout.quality, TRUE);
  info.comp_info[0].h_samp_factor = layout.h;
  info.comp_info[0].v_samp_factor = layout.v;
  info.restart_in_rows = static_cast<int>(layout.restartRows);
  if (layout.progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(image.width) * 4);
  while (info.next_scanline < info.image_height) {
    const std::uint8_t* pixels = image.At(0, static_cast<int>(info.next_scanline));
    for (int x = 0; x < image.width; ++x) {
      for (int c = 0; c < info.input_components && c < 3; ++c) {
        row[x * info.input_components + c] = pixels[x * 4 + c];
      }
      if (fourInks) {
        row[x * 4 + 3] =
            layout.inksAsGiven ? pixels[x * 4 + 3] : static_cast<unsigned char>(200 + x % 50);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(out), size);
  std::free(out);
  return bytes;
}

std::string ExifSegment(int orientation, bool bigEndian) {
  std::string tiff = bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
  Put32(tiff, 8, bigEndian);       // first IFD right after the header
  Put16(tiff, 2, bigEndian);       // two entries: one other tag, then orientation
  Put16(tiff, 0x010F, bigEndian);  // Make, ASCII, 4 bytes inline
  Put16(tiff, 2, bigEndian);
  Put32(tiff, 4, bigEndian);
  tiff += std::string("kor\0", 4);
  Put16(tiff, 0x0112, bigEndian);  // Orientation, SHORT, count 1
  Put16(tiff, 3, bigEndian);
  Put32(tiff, 1, bigEndian);
  Put16(tiff, static_cast<unsigned>(orientation), bigEndian);
  Put16(tiff, 0, bigEndian);
  Put32(tiff, 0, bigEndian);  // no next IFD
  const std::string payload = std::string("Exif\0\0", 6) + tiff;
  std::string segment("\xFF\xE1", 2);
  Put16(segment, static_cast<unsigned>(payload.size() + 2), true);
  return segment + payload;
}

std::string InsertAfterSoi(const std::string& jpeg, const std::string& segment) {
  return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string IccChunkSegment(const std::string& data, int number, int count) {
  const std::size_t length = 2 + 12 + 2 + data.size();
  std::string segment("\xFF\xE2", 2);
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  segment += std::string("ICC_PROFILE\0", 12);
  segment += static_cast<char>(number);
  segment += static_cast<char>(count);
  return segment + data;
}

std::string WithIccpChunk(const std::string& png, const std::string& profile) {
  int size = 0;
  unsigned char* compressed =
      stbi_zlib_compress(reinterpret_cast<unsigned char*>(const_cast<char*>(profile.data())),
                         static_cast<int>(profile.size()), &size, 8);
  std::string chunk = "iCCP" + std::string("photo profile\0\0", 15);
  chunk.append(reinterpret_cast<const char*>(compressed), static_cast<std::size_t>(size));
  STBIW_FREE(compressed);
  std::string out;
  const auto put32 = [&out](std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
  };
  // The signature (8 bytes) and the header chunk (25) come first.
  out = png.substr(0, 33);
  put32(static_cast<std::uint32_t>(chunk.size() - 4));
  out += chunk;
  put32(
      stbiw__crc32(reinterpret_cast<unsigned char*>(chunk.data()), static_cast<int>(chunk.size())));
  return out + png.substr(33);
}

std::string ReadBytes(const std::string& utf8Path) {
  sheetsmith::UniqueFile file = sheetsmith::OpenFile(utf8Path, "rb");
  std::string bytes;
  if (!file) return bytes;
  char buffer[65536];
  for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
    bytes.append(buffer, read);
  }
  return bytes;
}

bool WriteBytes(const std::string& utf8Path, const std::string& bytes) {
  sheetsmith::UniqueFile file = sheetsmith::OpenFile(utf8Path, "wb");
  if (!file) return false;
  return std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

bool WriteJpeg(const std::string& utf8Path, const RgbaImage& image, int quality,
               int exifOrientation, bool bigEndian) {
  std::string bytes = EncodeJpeg(image, quality);
  if (exifOrientation != 0) bytes = InsertAfterSoi(bytes, ExifSegment(exifOrientation, bigEndian));
  return WriteBytes(utf8Path, bytes);
}

bool WritePng(const std::string& utf8Path, const RgbaImage& image) {
  std::string bytes;
  stbi_write_png_to_func(AppendToString, &bytes, image.width, image.height, 4, image.data(),
                         image.width * 4);
  return !bytes.empty() && WriteBytes(utf8Path, bytes);
}

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TempDir::TempDir(const std::string& nameUtf8) {
  static std::atomic<int> counter{0};
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0;; ++attempt) {
    const std::string unique =
        nameUtf8 + "-" + std::to_string(std::rand()) + "-" + std::to_string(counter.fetch_add(1));
    const std::filesystem::path candidate = base / PathFromUtf8(unique);
    if (std::filesystem::create_directory(candidate)) {
      path_ = Utf8FromPath(candidate);
      return;
    }
    if (attempt > 100) std::abort();
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(PathFromUtf8(path_), ignored);
}

std::string TempDir::File(const std::string& nameUtf8) const {
  return Utf8FromPath(PathFromUtf8(path_) / PathFromUtf8(nameUtf8));
}

double MeanAbsDiff(const RgbaImage& a, const RgbaImage& b) {
  if (a.width != b.width || a.height != b.height || a.empty()) return 1e9;
  double sum = 0;
  const std::size_t count = static_cast<std::size_t>(a.width) * a.height;
  for (std::size_t i = 0; i < count; ++i) {
    for (int ch = 0; ch < 3; ++ch)
      sum += std::abs(int{a.data()[i * 4 + ch]} - int{b.data()[i * 4 + ch]});
  }
  return sum / (count * 3.0);
}

std::string ProfileBytes(void* profile) {
  cmsUInt32Number size = 0;
  std::string bytes;
  if (cmsSaveProfileToMem(profile, nullptr, &size)) {
    bytes.resize(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
  }
  cmsCloseProfile(profile);
  return bytes;
}

std::string BigEndian32(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string BigEndian16(std::uint16_t value) {
  return {static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string WithIccTag(const std::string& profile, const char* signature, const std::string& data) {
  const auto get = [](const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  const auto put = [](std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes.replace(at, 4, BigEndian32(value));
  };
  const std::uint32_t count = get(profile, 128);
  const std::size_t tableEnd = 132 + 12 * count;
  // One more entry in the table moves every tag's data on by 12 bytes.
  std::string made =
      profile.substr(0, tableEnd) + std::string(12, '\0') + profile.substr(tableEnd);
  for (std::uint32_t i = 0; i < count; ++i) {
    put(made, 132 + 12 * i + 4, get(made, 132 + 12 * i + 4) + 12);
  }
  made.resize((made.size() + 3) / 4 * 4, '\0');
  put(made, tableEnd, (static_cast<std::uint32_t>(static_cast<unsigned char>(signature[0])) << 24) |
                          (static_cast<std::uint32_t>(static_cast<unsigned char>(signature[1])) << 16) |
                          (static_cast<std::uint32_t>(static_cast<unsigned char>(signature[2])) << 8) |
                          static_cast<unsigned char>(signature[3]));
  put(made, tableEnd + 4, static_cast<std::uint32_t>(made.size()));
  put(made, tableEnd + 8, static_cast<std::uint32_t>(data.size()));
  put(made, 128, count + 1);
  made += data;
  put(made, 0, static_cast<std::uint32_t>(made.size()));
  return made;
}

std::string ProcessElementsTag(const std::vector<std::pair<std::size_t, std::size_t>>& table,
                               const std::string& elements) {
  std::string tag = "mpet" + std::string(4, '\0') + BigEndian16(3) + BigEndian16(3) +
                    BigEndian32(static_cast<std::uint32_t>(table.size()));
  const std::size_t start = tag.size() + 8 * table.size();
  for (const auto& [at, size] : table) {
    tag += BigEndian32(static_cast<std::uint32_t>(start + at)) +
           BigEndian32(static_cast<std::uint32_t>(size));
  }
  return tag + elements;
}

std::string MatrixElement() {
  return "matf" + std::string(4, '\0') + BigEndian16(3) + BigEndian16(3) + std::string(48, '\0');
}

std::string RgbProfile(const double (&primaries)[3][2], double gamma, const char* description) {
  const cmsCIExyY white = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE xyY = {{primaries[0][0], primaries[0][1], 1.0},
                               {primaries[1][0], primaries[1][1], 1.0},
                               {primaries[2][0], primaries[2][1], 1.0}};
  const double srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = gamma > 0 ? cmsBuildGamma(nullptr, gamma)
                                  : cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &xyY, curves);
  cmsFreeToneCurve(curve);
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", description);
  cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
  cmsMLUfree(text);
  return ProfileBytes(profile);
}

std::string DisplayP3Profile() {
  const double primaries[3][2] = {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}};
  return RgbProfile(primaries, 0, "Display P3 (test)");
}

}  // namespace testsupport
