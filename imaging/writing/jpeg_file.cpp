// Pages and baked photos written as JPEG files, whole or not at all.
#include "imaging/writing/jpeg_file.h"

#include <cstdio>

#include "imaging/color/embedded_profiles.h"
#include "imaging/system/file_io.h"
#include "imaging/writing/jpeg_writer.h"

namespace sheetsmith {

bool SaveJpeg(const RgbaImage& image, const std::string& path, int quality,
              std::string_view profile, std::atomic<std::int64_t>* helperTime) {
  if (image.empty()) return false;
  // Written beside the page and put in its place only when whole: a page cut
  // short, or one from an earlier run, never passes for this run's.
  std::string partial;
  UniqueFile file = OpenNewPartial(path, partial);
  if (!file) return false;
  std::FILE* stream = file.get();
  std::string segments;
  for (const std::string& segment : IccSegments(profile)) segments += segment;
  const bool written = EncodeJpeg(
      image, quality,
      [stream](const std::uint8_t* bytes, std::size_t count) {
        return std::fwrite(bytes, 1, count, stream) == count;
      },
      segments, helperTime);
  // On the disk before it takes the page's name.
  const bool flushed = written && FlushToDisk(stream);
  const bool closed = std::fclose(file.release()) == 0;
  if (flushed && closed && RenameOver(partial, path)) return true;
  RemoveFile(partial);
  return false;
}

}  // namespace sheetsmith
