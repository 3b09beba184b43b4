// Photos and frames of the formats stb_image reads (PNG, GIF, BMP, PSD),
// each checked against what stb_image 2.27 mishandles before it sees it.
#include "imaging/reading/stb_reader.h"

#include <cstdlib>
#include <cstring>

#include "imaging/pixels/buffer_pool.h"
#include "imaging/reading/jpeg_reader.h"

#ifdef _WIN32
#define STBI_WINDOWS_UTF8
#endif
#define STB_IMAGE_IMPLEMENTATION
// JPEG files are libjpeg-turbo's (jpeg_reader.h): stb's decoder for them is
// left out altogether.
#define STBI_NO_JPEG
// Nor TGA: it has no signature, so any damaged file of another kind whose
// first bytes happen to look like its header decodes as a large grey image.
#define STBI_NO_TGA
// Nor the formats that are no photos of a camera or a phone, whose readers in
// stb_image 2.27 overflow an int on a long header number (PNM), read past a
// 16-bit grey picture (PNM) or loop for ever on a run of nothing (HDR).
#define STBI_NO_PNM
#define STBI_NO_HDR
#define STBI_NO_PIC
// The decoder's buffers, the decoded photo among them, come from the pixel pool.
#define STBI_MALLOC(size) ::sheetsmith::PoolAllocate(size)
#define STBI_REALLOC(block, size) ::sheetsmith::PoolReallocate(block, size)
#define STBI_FREE(block) ::sheetsmith::PoolFree(block)
#include <stb_image.h>

namespace sheetsmith {
namespace {

std::uint32_t BigEndian32(const unsigned char* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) |
         (static_cast<std::uint32_t>(bytes[1]) << 16) |
         (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
}

// Whether a PNG's chunks, read on from its signature `at` bytes into a file
// of `size` bytes, would lead stb_image 2.27 astray: a chunk claiming more
// bytes than the file has left (it makes room for the claim before reading,
// so a few hundred bytes can ask for gigabytes), or a first picture-data
// chunk that is empty (it copies it into a buffer it has not made yet).
//
// On the way the colour profile of an iCCP chunk before the picture's data
// is read into `profile`.
bool PngChunksMislead(std::FILE* file, long at, long size, EmbeddedProfile& profile) {
  bool seenData = false;
  unsigned char header[8];
  while (std::fread(header, 1, 8, file) == 8) {
    const std::uint32_t length = BigEndian32(header);
    // Length, type, data and checksum.
    if (std::uint64_t{length} + 12 > static_cast<std::uint64_t>(size - at)) {
      if (std::memcmp(header + 4, "iCCP", 4) == 0) {
        profile.state = EmbeddedProfile::State::kDamaged;
        profile.problem = "the file is cut short";
      }
      return true;
    }
    if (std::memcmp(header + 4, "IDAT", 4) == 0) {
      if (!seenData && length == 0) return true;
      seenData = true;
    }
    if (!seenData && std::memcmp(header + 4, "iCCP", 4) == 0 &&
        profile.state == EmbeddedProfile::State::kNone) {
      // The signature and that chunk, read as a PNG of its own: its checksum
      // checked, its profile inflated.
      std::string chunk("\x89PNG\r\n\x1A\n", 8);
      chunk.append(reinterpret_cast<const char*>(header), 8);
      chunk.resize(chunk.size() + length + 4);
      if (length > kMaxProfileBytes ||
          std::fread(chunk.data() + 16, 1, length + 4, file) != length + 4) {
        profile.state = EmbeddedProfile::State::kDamaged;
        profile.problem = "its chunk cannot be read";
        return false;
      }
      profile = FindEmbeddedProfile(chunk);
      at += static_cast<long>(length) + 12;
      continue;
    }
    if (std::memcmp(header + 4, "IEND", 4) == 0) return false;
    if (std::fseek(file, static_cast<long>(length) + 4, SEEK_CUR) != 0) return false;
    at += static_cast<long>(length) + 12;
  }
  return false;
}

// Whether the file is one that stb_image 2.27 mishandles, which is then
// refused before it sees it. The file is read from its start and put back
// there, its size and first bytes given back; one too large for a long
// offset is refused too.
bool StbWouldMishandle(std::FILE* file, long& size, unsigned char (&start)[8],
                       EmbeddedProfile& profile) {
  if (std::fseek(file, 0, SEEK_END) != 0) return true;
  size = std::ftell(file);
  std::rewind(file);
  if (size < 0) return true;
  bool mishandled = false;
  std::memset(start, 0, sizeof start);
  if (std::fread(start, 1, 8, file) == 8 && std::memcmp(start, "\x89PNG\r\n\x1A\n", 8) == 0) {
    mishandled = PngChunksMislead(file, 8, size, profile);
  }
  std::rewind(file);
  return mishandled;
}

// The fewest bytes a file starting with `start` can hold a picture of
// `pixels` in, by the most its coding packs into a byte: deflate's 1032 to
// one of at least a bit a pixel (PNG); a 12-bit LZW code for at most 8192
// pixels (GIF: stb_image lets its table grow that far); a bit a pixel
// unpacked (BMP); two bytes for a run of up to 128 of one channel (PSD).
// stb_image takes the bytes past a BMP's or PSD's end as zeros and makes a
// GIF's canvas before it finds the data missing, so a file of a hundred
// bytes claiming a hundred megapixels would cost seconds and half a
// gigabyte, or pass as a black picture.
std::uint64_t LeastBytesFor(const unsigned char (&start)[8], std::uint64_t pixels) {
  if (std::memcmp(start, "\x89PNG", 4) == 0) return pixels / (8 * 1032);
  if (std::memcmp(start, "GIF8", 4) == 0) return pixels / 8192 * 3 / 2;
  if (std::memcmp(start, "BM", 2) == 0) return pixels / 8;
  if (std::memcmp(start, "8BPS", 4) == 0) return pixels / 64;
  return 0;
}

}  // namespace

std::optional<RgbaImage> LoadWithStb(std::FILE* file, EmbeddedProfile& profile,
                                     SourceColors& colors) {
  // The decoder reads in small pieces; a large buffer makes that a few
  // system calls per photo instead of hundreds. (Set before the first read,
  // as the C library asks.)
  std::setvbuf(file, nullptr, _IOFBF, std::size_t{1} << 20);
  long size = 0;
  unsigned char start[8];
  if (StbWouldMishandle(file, size, start, profile)) return std::nullopt;
  int width = 0;
  int height = 0;
  int channels = 0;
  if (!stbi_info_from_file(file, &width, &height, &channels)) return std::nullopt;
  // A BMP stored top down gives its height negative here.
  const std::uint64_t rows = static_cast<std::uint64_t>(std::llabs(static_cast<long long>(height)));
  const std::uint64_t claimed = static_cast<std::uint64_t>(width) * rows;
  if (width <= 0 || rows == 0 || claimed > kMaxWholeImagePixels ||
      static_cast<std::uint64_t>(size) < LeastBytesFor(start, claimed)) {
    return std::nullopt;
  }
  stbi_uc* pixels = stbi_load_from_file(file, &width, &height, &channels, 4);
  if (!pixels) return std::nullopt;
  // The decoder allocates from the pixel pool, which is what RgbaImage frees to.
  RgbaImage image = AdoptPixels(pixels, width, height);
  image.knownOpaque = channels == 1 || channels == 3;  // the file has no alpha
  colors = channels <= 2 ? SourceColors::kGray : SourceColors::kRgb;
  return image;
}

}  // namespace sheetsmith
