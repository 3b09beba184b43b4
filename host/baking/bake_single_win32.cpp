// One photo baked on Windows: decoded, drawn by the host renderer, converted
// to the chosen colours and saved as a JPEG file.
#include <windows.h>
// After windows.h:
#include <objidl.h>
#include <wrl/client.h>

#include <atomic>
#include <exception>
#include <mutex>

#include "baking_handler.h"
#include "color_profiles.h"
#include "color_transform.h"
#include "command_line.h"
#include "effects_renderer.h"
#include "icc_profiles.h"
#include "imaging/system/file_io.h"
#include "logging.h"
#include "photo_views.h"
#include "reader_photos.h"

namespace runner {
namespace {

// GDI+ started by the first photo that needs it and shut down when no photo
// is being baked.
class GdiplusRefCount {
 public:
  static GdiplusRefCount& Get() {
    static GdiplusRefCount instance;
    return instance;
  }
  Gdiplus::Status Acquire() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_ == 0) {
      Gdiplus::GdiplusStartupInput input;
      const Gdiplus::Status status = Gdiplus::GdiplusStartup(&token_, &input, nullptr);
      if (status != Gdiplus::Ok) return status;
    }
    ++users_;
    return Gdiplus::Ok;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (users_ > 0 && --users_ == 0) Gdiplus::GdiplusShutdown(token_);
  }

 private:
  std::mutex mutex_;
  std::int32_t users_ = 0;
  ULONG_PTR token_ = 0;
};

// Holds one GDI+ reference until released or destroyed.
class GdiplusUser {
 public:
  GdiplusUser() : status_(GdiplusRefCount::Get().Acquire()) {}
  ~GdiplusUser() { Release(); }
  GdiplusUser(const GdiplusUser&) = delete;
  GdiplusUser& operator=(const GdiplusUser&) = delete;
  Gdiplus::Status status() const { return status_; }
  void Release() {
    if (status_ == Gdiplus::Ok && !released_) {
      released_ = true;
      GdiplusRefCount::Get().Release();
    }
  }

 private:
  Gdiplus::Status status_;
  bool released_ = false;
};

std::atomic<std::int32_t> bakedFileCounter{0};

LocalTime Now() {
  SYSTEMTIME time = {};
  GetLocalTime(&time);
  return {time.wYear,   time.wMonth,  time.wDay,         time.wHour,
          time.wMinute, time.wSecond, time.wMilliseconds};
}

BakeResult Failure(int index, std::string error) {
  return BakeResult{"", false, std::move(error), index};
}

std::optional<std::string> ReadProfileFile(const std::string& path) {
  return sheetsmith::ReadFilePrefix(path, kMaxProfileBytes + 1);
}

// Makes an empty file of this name, only when there is none yet: the baked
// photo's name is taken so, and the encoder then writes over it.
FileClaim MakeNewFile(const std::string& path) {
  const std::optional<std::wstring> file = PlatformText(path);
  if (!file) return FileClaim::kFailed;
  const HANDLE made = CreateFileW(file->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    return code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? FileClaim::kTaken
                                                                      : FileClaim::kFailed;
  }
  CloseHandle(made);
  return FileClaim::kMade;
}

BakeResult BakeSingleImage(const BakeRequest& request, int index, const std::string& folder,
                           const std::string& profileId, int jpegQuality) {
  const std::string tag = "DEBUG: BakeSingleImage [" + std::to_string(index) + "]";
  LogError(tag + " starting with color profile: " + profileId);
  GdiplusUser gdiplus;
  if (gdiplus.status() != Gdiplus::Ok) {
    LogError("ERROR: GDI+ startup failed with status: " +
             std::to_string(static_cast<int>(gdiplus.status())));
    return Failure(index, "Failed to initialize GDI+");
  }
  try {
    LogError(tag + " GDI+ initialized");
    // What becomes of the photo's colours, decided before it is drawn: a
    // custom profile that cannot be used fails the photo at once. A photo
    // the shared reader reads is planned again from what it found (the
    // profile of a HEIF or WebP file, whether its pixels are RGB), and what
    // is said of its profile is said then.
    const bool byReader = ReaderTakes(request.sourcePath);
    const std::function<void(const std::string&)> log = [](const std::string& line) {
      LogError(line);
    };
    const std::function<void(const std::string&)> quiet = [](const std::string&) {};
    ColorPlan colors = PlanColors(
        profileId,
        sheetsmith::ReadFilePrefix(request.sourcePath, sheetsmith::kPhotoStartBytes).value_or(""),
        &ReadProfileFile, byReader ? quiet : log);
    if (!colors.failure.empty()) {
      LogError("ERROR: BakeSingleImage [" + std::to_string(index) + "] " + colors.failure);
      return Failure(index, colors.failure);
    }
    const CanvasPhotoLoader load = [&](const std::string& path, Size want) -> CanvasPhoto {
      if (!byReader) {
        const std::optional<std::wstring> file = PlatformText(path);
        return {file ? LoadCanvasImage(*file, want.width, want.height) : nullptr, ""};
      }
      return ReadCanvasPhoto(path, want,
                             [&](const sheetsmith::EmbeddedProfile& profile,
                                 sheetsmith::SourceColors pixels) {
                               colors = PlanColors(profileId, profile, pixels, &ReadProfileFile,
                                                   log);
                               return colors.photo;
                             });
    };
    // The photo is converted from its own profile, the border's colour
    // (sRGB, as the interface chose it) and the frame from theirs; under
    // "no conversion" each is drawn as it is.
    const sheetsmith::ColorTarget& target = colors.colorTarget;
    sheetsmith::ConversionCache conversions(target.profile, sheetsmith::PixelLayout::kRgba);
    bool convertFailed = false;
    CanvasColors canvasColors;
    canvasColors.convertPhoto = [&](GpBitmap* drawn) {
      convertFailed = colors.convert && !ConvertCanvasColors(drawn, colors.source, colors.target);
      return !convertFailed;
    };
    canvasColors.stroke = [&](std::uint32_t argb) {
      const sheetsmith::Rgb color = sheetsmith::ChosenColorInTarget(
          {static_cast<std::uint8_t>(argb >> 16), static_cast<std::uint8_t>(argb >> 8),
           static_cast<std::uint8_t>(argb)},
          target, conversions);
      return (argb & 0xFF000000u) | (std::uint32_t{color.r} << 16) |
             (std::uint32_t{color.g} << 8) | color.b;
    };
    canvasColors.frame = [&](const sheetsmith::EmbeddedProfile& profile,
                             sheetsmith::SourceColors pixels) {
      sheetsmith::SourcePlan plan =
          sheetsmith::PlanSourceColors(profile, pixels, true, target, conversions);
      if (!plan.problem.empty()) {
        LogError("INFO: The frame's color profile cannot be used (" + plan.problem +
                 "); its colors are taken as sRGB");
      }
      return plan;
    };
    LogError(tag + " calling RenderImageWithEffects");
    std::string reason;
    GdiplusBitmap canvas = RenderImageWithEffects(request, load, &reason, canvasColors);
    LogError(tag + " RenderImageWithEffects returned");
    if (convertFailed) return Failure(index, "Failed to convert colors to " + colors.targetName);
    if (!canvas) {
      return Failure(index, "Failed to render image with effects" +
                                (reason.empty() ? std::string() : ": " + reason));
    }

    LogError(tag + " keeping ARGB format");
    LogError(tag + " applying color profile: " + profileId);
    ApplyColorProfile(true, profileId);
    LogOutput("INFO: Color conversion: " +
              (profileId == "no_conversion" ? std::string("none, the photo's own colors are kept")
                                            : colors.sourceName + " -> " + colors.targetName +
                                                  (colors.convert || colors.photo.conversion ? ""
                                                                        : " (colors unchanged)")));

    const std::optional<CLSID> jpeg = FindImageEncoder(L"image/jpeg");
    if (!jpeg) return Failure(index, "Failed to get JPEG encoder");
    LogError(tag + " generating filename");
    const std::optional<std::string> claimed = ClaimBakedFile(
        folder, index, Now(), [] { return bakedFileCounter.fetch_add(1); }, &MakeNewFile);
    if (!claimed) return Failure(index, "Failed to save baked image: its file cannot be created");
    const std::string& path = *claimed;

    LogError(tag + " saving bitmap");
    const JpegQualityParameter quality(jpegQuality);
    // Written beside the name taken, then moved over it.
    const Gdiplus::GpStatus saved = SaveJpegWhole(canvas.get(), path, *jpeg, quality,
                                                  colors.embedTarget ? colors.target : "");
    if (saved != Gdiplus::Ok) {
      if (const std::optional<std::wstring> file = PlatformText(path)) DeleteFileW(file->c_str());
      return Failure(index, "Failed to save baked image, GDI+ status=" +
                                std::to_string(static_cast<int>(saved)));
    }
    LogError(tag + " releasing bitmap");
    canvas.reset();
    LogError(tag + " bitmap released");
    LogError(tag + " shutting down GDI+");
    gdiplus.Release();
    LogError(tag + " GDI+ shutdown complete");
    LogError(tag + " creating result object");
    LogError(tag + " returning result");
    return BakeResult{path, true, "", index};
  } catch (const std::exception& error) {
    LogError("ERROR: BakeSingleImage [" + std::to_string(index) + "] exception: " + error.what());
    return Failure(index, std::string("Exception during baking: ") + error.what());
  } catch (...) {
    LogError("ERROR: BakeSingleImage [" + std::to_string(index) + "] unknown exception");
    return Failure(index, "Unknown exception during baking");
  }
}

}  // namespace

BakingPlatform ProductBakingPlatform() {
  BakingPlatform platform;
  platform.createFolder = [](const std::string& path, unsigned long* error) {
    const std::optional<std::wstring> folder = PlatformText(path);
    if (!folder) {
      *error = ERROR_INVALID_NAME;
      return false;
    }
    if (CreateDirectoryW(folder->c_str(), nullptr)) return true;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS) return true;
    *error = code;
    return false;
  };
  platform.localTime = &Now;
  platform.currentThreadId = [] { return static_cast<unsigned long>(GetCurrentThreadId()); };
  platform.bakeSingleImage = &BakeSingleImage;
  return platform;
}

}  // namespace runner
