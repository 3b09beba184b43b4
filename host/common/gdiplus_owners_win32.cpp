// GDI+'s session and encoders, bitmaps and graphics made and loaded, and
// whole files and streams' bytes.
#include <objidl.h>
#include <wrl/client.h>

#include <cwchar>
#include <vector>

#include "gdiplus_owners.h"
#include "command_line.h"
#include "imaging/system/file_io.h"
#include "imaging/color/color_plan.h"
#include "win32_owners.h"

namespace runner {
namespace {

// EncoderQuality, {1d5be4b5-fa4a-452d-9cdd-5db35105e7eb}.
constexpr GUID kEncoderQuality = {
    0x1d5be4b5, 0xfa4a, 0x452d, {0x9c, 0xdd, 0x5d, 0xb3, 0x51, 0x05, 0xe7, 0xeb}};

}  // namespace

std::optional<std::vector<std::uint8_t>> StreamBytes(IStream* stream) {
  // The stream's own length: its memory block may be larger than what was
  // written.
  STATSTG stat = {};
  HGLOBAL memory = nullptr;
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart == 0 ||
      FAILED(GetHGlobalFromStream(stream, &memory)) || stat.cbSize.QuadPart > GlobalSize(memory)) {
    return std::nullopt;
  }
  const void* bytes = GlobalLock(memory);
  if (!bytes) return std::nullopt;
  const auto* first = static_cast<const std::uint8_t*>(bytes);
  std::vector<std::uint8_t> written(first, first + stat.cbSize.QuadPart);
  GlobalUnlock(memory);
  return written;
}

GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  ok_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
}

GdiplusSession::~GdiplusSession() {
  if (ok_) Gdiplus::GdiplusShutdown(token_);
}

std::optional<CLSID> FindImageEncoder(const wchar_t* mimeType) {
  UINT count = 0;
  UINT size = 0;
  if (gdip::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || count == 0 || size == 0) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (gdip::GdipGetImageEncoders(count, size, codecs) != Gdiplus::Ok) return std::nullopt;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, mimeType) == 0) {
      return codecs[i].Clsid;
    }
  }
  return std::nullopt;
}

JpegQualityParameter::JpegQualityParameter(std::int32_t quality)
    : quality_(static_cast<ULONG>(quality)) {
  parameters_.Count = 1;
  parameters_.Parameter[0].Guid = kEncoderQuality;
  parameters_.Parameter[0].Type = Gdiplus::EncoderParameterValueTypeLong;
  parameters_.Parameter[0].NumberOfValues = 1;
  parameters_.Parameter[0].Value = &quality_;
}

GdiplusBitmap LoadBitmapFromFile(const std::wstring& path) {
  GpBitmap* bitmap = nullptr;
  if (path.empty() || gdip::GdipCreateBitmapFromFile(path.c_str(), &bitmap) != Gdiplus::Ok) {
    if (bitmap) gdip::GdipDisposeImage(bitmap);
    return nullptr;
  }
  return GdiplusBitmap(bitmap);
}

GdiplusBitmap CreateBitmap(int width, int height, Gdiplus::PixelFormat format) {
  if (width <= 0 || height <= 0) return nullptr;
  GpBitmap* bitmap = nullptr;
  if (gdip::GdipCreateBitmapFromScan0(width, height, 0, format, nullptr, &bitmap) != Gdiplus::Ok) {
    return nullptr;
  }
  return GdiplusBitmap(bitmap);
}

GdiplusGraphics GraphicsFor(GpImage* image) {
  GpGraphics* graphics = nullptr;
  if (!image || gdip::GdipGetImageGraphicsContext(image, &graphics) != Gdiplus::Ok) return nullptr;
  return GdiplusGraphics(graphics);
}

GdiplusBitmap BitmapFromImage(const sheetsmith::RgbaImage& image, int quarterTurns) {
  if (image.empty()) return nullptr;
  GdiplusBitmap bitmap = CreateBitmap(image.width, image.height, PixelFormat32bppARGB);
  if (!bitmap) return nullptr;
  Gdiplus::Rect all(0, 0, image.width, image.height);
  Gdiplus::BitmapData locked = {};
  if (gdip::GdipBitmapLockBits(bitmap.get(), &all, Gdiplus::ImageLockModeWrite,
                               PixelFormat32bppARGB, &locked) != Gdiplus::Ok) {
    return nullptr;
  }
  // GDI+ keeps 32-bit ARGB as blue, green, red, alpha in memory.
  for (int y = 0; y < image.height; ++y) {
    const std::uint8_t* from = image.At(0, y);
    auto* to = static_cast<BYTE*>(locked.Scan0) + static_cast<std::ptrdiff_t>(y) * locked.Stride;
    for (int x = 0; x < image.width; ++x, from += 4, to += 4) {
      to[0] = from[2];
      to[1] = from[1];
      to[2] = from[0];
      to[3] = from[3];
    }
  }
  gdip::GdipBitmapUnlockBits(bitmap.get(), &locked);
  static constexpr Gdiplus::RotateFlipType kTurns[] = {
      Gdiplus::RotateNoneFlipNone, Gdiplus::Rotate90FlipNone, Gdiplus::Rotate180FlipNone,
      Gdiplus::Rotate270FlipNone};
  const int turns = ((quarterTurns % 4) + 4) % 4;
  if (turns != 0) gdip::GdipImageRotateFlip(bitmap.get(), kTurns[turns]);
  return bitmap;
}

std::optional<std::string> JpegCarryingProfile(GpImage* image, const CLSID& jpeg,
                                               const JpegQualityParameter& quality,
                                               std::string_view profile,
                                               Gdiplus::GpStatus* status) {
  *status = Gdiplus::Ok;
  Microsoft::WRL::ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) {
    *status = Gdiplus::OutOfMemory;
    return std::nullopt;
  }
  *status = gdip::GdipSaveImageToStream(image, stream.Get(), &jpeg, quality.get());
  if (*status != Gdiplus::Ok) return std::nullopt;
  const std::optional<std::vector<std::uint8_t>> bytes = StreamBytes(stream.Get());
  std::optional<std::string> carried;
  if (bytes) {
    carried = sheetsmith::EmbedSegments(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
        sheetsmith::IccSegments(profile));
  }
  if (!carried) *status = Gdiplus::Win32Error;
  return carried;
}

bool WriteWholeFile(const std::wstring& path, std::string_view bytes) {
  UniqueHandle file = AdoptHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  const bool whole =
      WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size() && FlushFileBuffers(file.get());
  file.reset();
  if (!whole) DeleteFileW(path.c_str());
  return whole;
}

namespace {

// Writes a file that another writer (GDI+) has closed through to the disk.
bool FlushWrittenFile(const std::wstring& path) {
  const UniqueHandle file = AdoptHandle(CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  return file && FlushFileBuffers(file.get());
}

}  // namespace

Gdiplus::GpStatus SaveJpegWhole(GpImage* image, const std::string& path, const CLSID& jpeg,
                                const JpegQualityParameter& quality, std::string_view profile) {
  // The partial name is taken by making the file; GDI+ then writes over it.
  std::string partialPath;
  if (!sheetsmith::OpenNewPartial(path, partialPath)) return Gdiplus::Win32Error;
  const std::optional<std::wstring> file = PlatformText(path);
  const std::optional<std::wstring> partial = PlatformText(partialPath);
  if (!file || !partial) return Gdiplus::InvalidParameter;
  Gdiplus::GpStatus saved = Gdiplus::Ok;
  if (profile.empty()) {
    saved = gdip::GdipSaveImageToFile(image, partial->c_str(), &jpeg, quality.get());
    if (saved == Gdiplus::Ok && !FlushWrittenFile(*partial)) saved = Gdiplus::Win32Error;
  } else if (const std::optional<std::string> bytes =
                 JpegCarryingProfile(image, jpeg, quality, profile, &saved)) {
    saved = WriteWholeFile(*partial, *bytes) ? Gdiplus::Ok : Gdiplus::Win32Error;
  }
  if (saved == Gdiplus::Ok && sheetsmith::RenameOver(partialPath, path)) return Gdiplus::Ok;
  DeleteFileW(partial->c_str());
  return saved == Gdiplus::Ok ? Gdiplus::Win32Error : saved;
}

}  // namespace runner
