// The composer's JPEG writer against stb_image_write's: the same pixels at
// the same quality must give the same file, byte for byte.
#include "imaging/writing/jpeg_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "imaging/reading/photo_reader.h"
#include "imaging/system/file_io.h"
#include "imaging/writing/jpeg_file.h"
#include "imaging/writing/jpeg_kernels.h"
#include "test_photos.h"

namespace sheetsmith {
namespace {

std::string Encode(const RgbaImage& image, int quality,
                   const JpegKernels& kernels = ChosenJpegKernels(), int parts = 1) {
  std::string bytes;
  const bool ok = EncodeJpegWith(
      image, quality,
      [&bytes](const std::uint8_t* data, std::size_t count) {
        bytes.append(reinterpret_cast<const char*>(data), count);
        return true;
      },
      kernels, parts);
  EXPECT_TRUE(ok);
  return bytes;
}

// Every kernel set this processor runs: the portable one, and AVX2 where
// there is AVX2.
std::vector<std::pair<const char*, JpegKernels>> KernelSets() {
  std::vector<std::pair<const char*, JpegKernels>> sets = {{"portable", PortableJpegKernels()}};
  if (const JpegKernels avx2 = Avx2JpegKernels(); avx2.quantise) sets.emplace_back("avx2", avx2);
  return sets;
}

// Uniform noise in every channel: every coefficient busy, long codes, many
// 0xFF bytes to stuff. Alpha varies too; both writers ignore it.
RgbaImage Noise(int width, int height, unsigned seed) {
  RgbaImage image = *MakeImage(width, height, 0);
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < image.ByteCount(); ++i) {
    image.data()[i] = static_cast<std::uint8_t>(random());
  }
  return image;
}

// A page-like picture: white margins, a flat border, a photo-like patch,
// a thin grey line, and pure colours at both ends of every channel.
RgbaImage PageLike(int width, int height) {
  RgbaImage image = *MakeImage(width, height, 255);
  const RgbaImage photo = testsupport::Gradient(width / 2, height / 2, 7);
  for (int y = 0; y < photo.height; ++y) {
    for (int x = 0; x < photo.width; ++x) {
      std::memcpy(image.At(x + width / 4, y + height / 4), photo.At(x, y), 4);
    }
  }
  for (int x = 0; x < width; ++x) {
    std::uint8_t* p = image.At(x, height / 8);
    p[0] = p[1] = p[2] = 128;
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < 5 && x < width; ++x) {
      std::uint8_t* p = image.At(width - 1 - x, y);
      p[0] = 0;
      p[1] = (y / 9) % 2 ? 255 : 0;
      p[2] = 255;
    }
  }
  return image;
}

TEST(JpegWriterTest, MakesTheReferenceWritersFileAtEveryQualityAndShape) {
  struct Shape {
    int width;
    int height;
  };
  // Whole blocks and macroblocks, sizes that cut both, a single pixel, a row
  // and a column.
  const Shape shapes[] = {{64, 48}, {37, 23}, {1, 1}, {130, 1}, {1, 77}, {17, 33}};
  const int qualities[] = {95, 90, 100, 75, 50, 10, 1, 0};
  for (const auto& [name, kernels] : KernelSets()) {
    unsigned seed = 1;
    for (const Shape& shape : shapes) {
      const RgbaImage noise = Noise(shape.width, shape.height, seed++);
      const RgbaImage smooth = testsupport::Gradient(shape.width, shape.height, 3);
      for (const int quality : qualities) {
        SCOPED_TRACE(std::string(name) + " " + std::to_string(shape.width) + "x" +
                     std::to_string(shape.height) + " q" + std::to_string(quality));
        EXPECT_EQ(Encode(noise, quality, kernels), testsupport::EncodeJpeg(noise, quality));
        EXPECT_EQ(Encode(smooth, quality, kernels), testsupport::EncodeJpeg(smooth, quality));
      }
    }
  }
}

TEST(JpegWriterTest, RepeatedBlocksAndPagesMatchTheReferenceToo) {
  // Runs of identical blocks (margins) next to blocks that differ from them
  // by one value, which must not be taken for repeats.
  RgbaImage page = PageLike(301, 211);
  page.At(150, 3)[1] = 254;
  for (const auto& [name, kernels] : KernelSets()) {
    for (const int quality : {95, 90}) {
      EXPECT_EQ(Encode(page, quality, kernels), testsupport::EncodeJpeg(page, quality))
          << name << " " << quality;
    }
  }
  const RgbaImage white = *MakeImage(96, 80, 255);
  EXPECT_EQ(Encode(white, 95), testsupport::EncodeJpeg(white, 95));
}

// Coded in parts on several threads, a picture gives the same file: the
// parts join at any bit of a byte (noise), across 0xFF bytes to stuff, in the
// middle of a row of macroblocks and between repeated blocks (pages); more
// parts than macroblocks is one a macroblock.
TEST(JpegWriterTest, CodingInPartsMakesTheSameFile) {
  const RgbaImage pictures[] = {Noise(37, 23, 4), Noise(130, 61, 5), PageLike(301, 211),
                                testsupport::Gradient(17, 33, 3), Noise(1, 1, 6)};
  for (const RgbaImage& picture : pictures) {
    for (const int quality : {95, 90, 50}) {
      const std::string whole = testsupport::EncodeJpeg(picture, quality);
      for (const int parts : {2, 3, 7, 1000}) {
        EXPECT_EQ(Encode(picture, quality, ChosenJpegKernels(), parts), whole)
            << picture.width << "x" << picture.height << " q" << quality << " in " << parts;
      }
    }
  }
  // A page, as EncodeJpeg codes it on this machine.
  const RgbaImage page = PageLike(1300, 900);
  std::string bytes;
  ASSERT_TRUE(EncodeJpeg(page, 95, [&bytes](const std::uint8_t* data, std::size_t count) {
    bytes.append(reinterpret_cast<const char*>(data), count);
    return true;
  }));
  EXPECT_EQ(bytes, testsupport::EncodeJpeg(page, 95));
}

TEST(JpegWriterTest, RefusesWhatItCannotWriteAndStopsWhenTheSinkDoes) {
  const RgbaImage empty;
  EXPECT_FALSE(EncodeJpeg(empty, 95, [](const std::uint8_t*, std::size_t) { return true; }));
  // A JPEG frame header has 16 bits for each side.
  const RgbaImage wide = *MakeImage(65536, 1, 255);
  EXPECT_FALSE(EncodeJpeg(wide, 95, [](const std::uint8_t*, std::size_t) { return true; }));

  const RgbaImage noise = Noise(512, 512, 9);
  int calls = 0;
  EXPECT_FALSE(EncodeJpeg(noise, 95, [&calls](const std::uint8_t*, std::size_t) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 1);
}

TEST(JpegWriterTest, SavedPagesDecodeToWhatWasSaved) {
  testsupport::TempDir dir;
  const RgbaImage page = PageLike(240, 160);
  const std::string path = dir.File("page.jpg");
  ASSERT_TRUE(SaveJpeg(page, path, 95));
  const std::optional<RgbaImage> back = LoadRgba(path);
  ASSERT_TRUE(back);
  EXPECT_LT(testsupport::MeanAbsDiff(*back, page), 2.0);
}

// A new file is made only where there is none: another writer's file under
// the same name is never written into.
TEST(JpegWriterTest, ANewFileIsNeverMadeOverAnother) {
  testsupport::TempDir dir;
  const std::string path = dir.File("page.jpg.partial");
  ASSERT_TRUE(testsupport::WriteBytes(path, "another writer's"));
  errno = 0;
  EXPECT_EQ(OpenNewFile(path), nullptr);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(testsupport::ReadBytes(path), "another writer's");
  const std::string fresh = dir.File("fresh.partial");
  UniqueFile made = OpenNewFile(fresh);
  ASSERT_NE(made, nullptr);
  EXPECT_GE(std::fputs("ours", made.get()), 0);
  made.reset();
  EXPECT_EQ(testsupport::ReadBytes(fresh), "ours");
}

#if defined(__linux__)
// A page is written through to the disk before it takes its name: a write
// that the disk refuses at that point is a failure, not a page.
TEST(WriteThroughTest, AFlushTheDiskRefusesIsAFailure) {
  testsupport::TempDir dir("korvela flush");
  const struct {
    std::string path;
    bool flushed;
  } cases[] = {{dir.File("page.jpg"), true}, {"/dev/full", false}};
  for (const auto& c : cases) {
    UniqueFile file = OpenFile(c.path, "wb");
    ASSERT_TRUE(file) << c.path;
    ASSERT_EQ(std::fwrite("page", 1, 4, file.get()), 4u);  // buffered: not refused yet
    EXPECT_EQ(FlushToDisk(file.get()), c.flushed) << c.path;
  }
}
#endif

}  // namespace
}  // namespace sheetsmith
