// The host's own page composer, drawn with GDI+.
#include <algorithm>
#include <chrono>
#include <vector>

#include "arrival.h"
#include "color_transform.h"
#include "command_line.h"
#include "grid_composer.h"
#include "imaging/reading/exif.h"
#include "imaging/reading/read_limits.h"
#include "imaging/system/file_io.h"
#include "imaging/system/text.h"
#include "job_file_writer.h"
#include "logging.h"

namespace runner::printing {
namespace {

using Clock = std::chrono::steady_clock;

std::int32_t ElapsedMs(Clock::time_point start) {
  return static_cast<std::int32_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count() / 1000000);
}

GridResult Failed(std::string message) {
  GridResult result;
  result.errorMessage = std::move(message);
  return result;
}

void TurnClockwise(GpImage* image, int quarters) {
  static constexpr Gdiplus::RotateFlipType kTurns[] = {
      Gdiplus::RotateNoneFlipNone, Gdiplus::Rotate90FlipNone, Gdiplus::Rotate180FlipNone,
      Gdiplus::Rotate270FlipNone};
  if (quarters % 4 != 0) gdip::GdipImageRotateFlip(image, kTurns[quarters % 4]);
}

// What GDI+ says the file's pixels are.
sheetsmith::SourceColors DecodedColors(GpImage* image) {
  UINT flags = 0;
  gdip::GdipGetImageFlags(image, &flags);
  if (flags & (Gdiplus::ImageFlagsColorSpaceCMYK | Gdiplus::ImageFlagsColorSpaceYCCK)) {
    return sheetsmith::SourceColors::kCmyk;
  }
  if (flags & Gdiplus::ImageFlagsColorSpaceGRAY) return sheetsmith::SourceColors::kGray;
  return sheetsmith::SourceColors::kRgb;
}

// Converts a fitted photo or frame from the profile its file carries (or
// sRGB) to the run's target, as the page composer does; true when it was
// converted from its own profile.
bool ConvertToTarget(GpBitmap* bitmap, const std::string& path, sheetsmith::SourceColors decoded,
                     const sheetsmith::ColorTarget& target,
                     sheetsmith::ConversionCache& conversions) {
  if (!target.convert || !bitmap) return false;
  const sheetsmith::SourcePlan plan = sheetsmith::PlanSourceColors(
      sheetsmith::FindEmbeddedProfile(
          sheetsmith::ReadFilePrefix(path, sheetsmith::kPhotoStartBytes).value_or("")),
      decoded, false, target, conversions);
  if (!plan.problem.empty()) {
    LogError("INFO: The color profile of " + path + " cannot be used (" + plan.problem +
             "); its colors are taken as sRGB");
  }
  if (plan.conversion && !ConvertBitmapColors(bitmap, *plan.conversion)) return false;
  return plan.tagged;
}

}  // namespace

std::optional<CellImage> LoadCellImage(const std::string& path, int cellWidth, int cellHeight,
                                       bool cellLandscape, bool cellPortrait,
                                       const ColorStep& colors, sheetsmith::ReadProblem* problem) {
  if (ReaderTakes(path)) {
    // Read at the fitted size, upright; turned to the cell at the end.
    CellFit fit;
    const SizeRule size = [&](UprightSize upright) -> std::optional<UprightSize> {
      fit = FitPhotoToCell(upright.width, upright.height, cellWidth, cellHeight, cellLandscape,
                           cellPortrait);
      return UprightSize{fit.bitmapWidth, fit.bitmapHeight};
    };
    std::optional<PhotoForDrawing> read = ReadForDrawing(path, size, colors, problem);
    if (!read) return std::nullopt;
    GdiplusBitmap bitmap = BitmapFromImage(read->image, read->turnsLeft + (fit.turned ? 1 : 0));
    if (!bitmap) return std::nullopt;
    return CellImage{std::move(bitmap), fit.turned, read->colors,
                     colors ? std::optional<bool>(read->plan.tagged) : std::nullopt};
  }
  const std::optional<std::wstring> file = PlatformText(path);
  GdiplusBitmap photo = file ? LoadBitmapFromFile(*file) : nullptr;
  if (!photo) return std::nullopt;
  UINT iw = 0;
  UINT ih = 0;
  gdip::GdipGetImageWidth(photo.get(), &iw);
  gdip::GdipGetImageHeight(photo.get(), &ih);
  if (iw == 0 || ih == 0) return std::nullopt;
  const sheetsmith::SourceColors decoded = DecodedColors(photo.get());
  // Fitted as it stands upright (a phone photo is often stored sideways),
  // drawn from the stored pixels, and the small bitmap turned at the end.
  const int upright = sheetsmith::UprightQuarterTurns(sheetsmith::ReadExifOrientation(path));
  const bool sideways = upright % 2 != 0;
  const int storedWidth = static_cast<int>(iw);
  const int storedHeight = static_cast<int>(ih);
  const CellFit fit =
      FitPhotoToCell(sideways ? storedHeight : storedWidth, sideways ? storedWidth : storedHeight,
                     cellWidth, cellHeight, cellLandscape, cellPortrait);
  const int drawWidth = sideways ? fit.bitmapHeight : fit.bitmapWidth;
  const int drawHeight = sideways ? fit.bitmapWidth : fit.bitmapHeight;

  GpImage* source = photo.get();
  GdiplusImage thumbnail;
  if (fit.useThumbnail) {
    GpImage* made = nullptr;
    if (gdip::GdipGetImageThumbnail(photo.get(), static_cast<UINT>(2 * drawWidth),
                                    static_cast<UINT>(2 * drawHeight), &made, nullptr,
                                    nullptr) == Gdiplus::Ok &&
        made) {
      thumbnail.reset(made);
      source = made;
    }
  }

  GdiplusBitmap fitted = CreateBitmap(drawWidth, drawHeight, PixelFormat24bppRGB);
  if (!fitted) return std::nullopt;
  {
    GdiplusGraphics graphics = GraphicsFor(fitted.get());
    if (!graphics) return std::nullopt;
    gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeBilinear);
    gdip::GdipDrawImageRectI(graphics.get(), source, 0, 0, drawWidth, drawHeight);
  }
  TurnClockwise(fitted.get(), upright + (fit.turned ? 1 : 0));
  return CellImage{std::move(fitted), fit.turned, decoded, std::nullopt};
}

GdiplusBitmap LoadCellFrame(const std::string& path, int cellWidth, int cellHeight, bool turned,
                            sheetsmith::SourceColors* colors, const ColorStep& step,
                            std::optional<bool>* tagged) {
  GdiplusBitmap frame;
  if (ReaderTakes(path)) {
    std::optional<PhotoForDrawing> read = ReadForDrawing(path, nullptr, step, nullptr);
    if (!read) return nullptr;
    if (colors) *colors = read->colors;
    if (tagged && step) *tagged = read->plan.tagged;
    frame = BitmapFromImage(read->image, read->turnsLeft + (turned ? 1 : 0));
  } else {
    const std::optional<std::wstring> file = PlatformText(path);
    frame = file ? LoadBitmapFromFile(*file) : nullptr;
    if (!frame) return nullptr;
    if (colors) *colors = DecodedColors(frame.get());
    TurnClockwise(
        frame.get(),
        sheetsmith::UprightQuarterTurns(sheetsmith::ReadExifOrientation(path)) + (turned ? 1 : 0));
  }
  if (!frame) return nullptr;
  GdiplusBitmap cell = CreateBitmap(cellWidth, cellHeight, PixelFormat32bppARGB);
  if (!cell) return nullptr;
  GdiplusGraphics graphics = GraphicsFor(cell.get());
  if (!graphics) return nullptr;
  gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
  gdip::GdipSetCompositingMode(graphics.get(), Gdiplus::CompositingModeSourceOver);
  gdip::GdipDrawImageRectI(graphics.get(), frame.get(), 0, 0, cellWidth, cellHeight);
  return cell;
}

GridResult GridComposer(const GridRequest& r, GridProgress& progress,
                        const std::vector<std::size_t>& onlyPages) {
  const Clock::time_point totalStart = Clock::now();
  const std::size_t n = r.imagePaths.size();
  if (r.rows <= 0 || r.columns <= 0) {
    return Failed("Invalid grid: rows and columns must be at least 1");
  }
  const int cellWidth = static_cast<int>(
      (static_cast<long long>(r.pageWidth) - r.marginLeft - r.marginRight) / r.columns);
  const int cellHeight = static_cast<int>(
      (static_cast<long long>(r.pageHeight) - r.marginTop - r.marginBottom) / r.rows);
  const bool cellPortrait = cellHeight > cellWidth;
  const bool cellLandscape = cellHeight < cellWidth;
  const long long photosPerPage = static_cast<long long>(r.rows) * r.columns;
  LogError("DEBUG C++: GridComposer - " + std::to_string(n) + " images, " + std::to_string(r.rows) +
           "x" + std::to_string(r.columns) + " grid, page " + std::to_string(r.pageWidth) + "x" +
           std::to_string(r.pageHeight) + ", cell " + std::to_string(cellWidth) + "x" +
           std::to_string(cellHeight) + ", cellPortrait=" + (cellPortrait ? "1" : "0") +
           ", cellLandscape=" + (cellLandscape ? "1" : "0"));
  if (r.pageWidth <= 0 || r.pageHeight <= 0 || cellWidth <= 0 || cellHeight <= 0) {
    return Failed("Invalid grid: the page and margins leave no room for cells");
  }

  // The colours of the pages, as the page composer makes them.
  const sheetsmith::ColorTarget target = GridColorTarget(r);
  if (!target.failure.empty()) return Failed(target.failure);
  sheetsmith::ConversionCache conversions(target.profile, sheetsmith::PixelLayout::kBgra);
  // Photos and frames the shared reader reads are converted as it reads
  // them, from what it found in the file, as the page composer converts.
  sheetsmith::ConversionCache readConversions(target.profile, sheetsmith::PixelLayout::kRgba);
  const auto ReaderColors = [&](const std::string& path) -> ColorStep {
    return [&target, &readConversions, path](const sheetsmith::EmbeddedProfile& profile,
                                             sheetsmith::SourceColors colors) {
      sheetsmith::SourcePlan plan =
          sheetsmith::PlanSourceColors(profile, colors, true, target, readConversions);
      if (!plan.problem.empty()) {
        LogError("INFO: The color profile of " + path + " cannot be used (" + plan.problem +
                 "); its colors are taken as sRGB");
      }
      return plan;
    };
  };

  GdiplusSession session;
  if (!session.ok()) return Failed("Failed to initialize GDI+");
  // What writers that died left beside these pages goes first.
  sheetsmith::RemoveDeadPartials(r.outputPaths);
  const std::optional<CLSID> jpeg = FindImageEncoder(L"image/jpeg");
  if (!jpeg) return Failed("Failed to get JPEG encoder");
  const JpegQualityParameter quality(r.jpegQuality);

  // A photo or frame whose bytes do not arrive within the composer's limit
  // (a hung share, a cloud file that does not download) is one that cannot
  // be read, as it would be in the page composer's run.
  const auto arrivalLimit = std::chrono::milliseconds(ComposerStallLimitMs());
  const auto Arrives = [&](const std::string& path) {
    return path.empty() ||
           FileArrivesWithin(path, arrivalLimit, sheetsmith::kMaxCodedFileBytes);
  };
  const std::string notArrived =
      "nothing arrived from it for " + sheetsmith::FormatG(arrivalLimit.count() / 1000.0) + " s";

  // One page's photos at a time: a long request never holds more than a
  // page of fitted photos.
  LogError("DEBUG C++: Starting to load " + std::to_string(n) + " images with GDI+...");
  GridResult result;
  Clock::duration loading{};
  Clock::duration rendering{};
  std::size_t loaded = 0;
  std::optional<std::size_t> firstUnwritten;
  std::vector<bool> wanted(r.outputPaths.size(), onlyPages.empty());
  for (const std::size_t p : onlyPages) {
    if (p < wanted.size()) wanted[p] = true;
  }
  std::int32_t pagesSaved = 0;
  for (std::size_t p = 0; p < r.outputPaths.size(); ++p) {
    if (!wanted[p]) continue;
    const Clock::time_point loadStart = Clock::now();
    const std::size_t first = std::min(n, static_cast<std::size_t>(p * photosPerPage));
    const std::size_t last = std::min(n, static_cast<std::size_t>((p + 1) * photosPerPage));
    std::vector<std::optional<CellImage>> photos(last - first);
    std::vector<GdiplusBitmap> frames(last - first);
    bool tagged = false;  // a photo or frame on the page converted from its own profile
    for (std::size_t i = first; i < last; ++i) {
      const std::string& path = r.imagePaths[i];
      sheetsmith::ReadProblem problem;
      if (!Arrives(path)) {
        problem = {sheetsmith::ReadProblem::Kind::kCannotOpen, notArrived};
      } else {
        photos[i - first] = LoadCellImage(path, cellWidth, cellHeight, cellLandscape,
                                          cellPortrait, ReaderColors(path), &problem);
      }
      if (const std::optional<CellImage>& photo = photos[i - first]) {
        tagged |= photo->tagged ? *photo->tagged
                                : ConvertToTarget(photo->bitmap.get(), path, photo->colors, target,
                                                  conversions);
      } else if (!path.empty()) {
        LogError("ERROR: Photo " + std::to_string(i) + " could not be read (" +
                 (problem ? ReadProblemReason(problem) : std::string("GDI+ cannot decode it")) +
                 "): " + path);
        progress.PhotoUnreadable(i);
      }
      if (i < r.framePaths.size() && !r.framePaths[i].empty() && !Arrives(r.framePaths[i])) {
        LogError("ERROR: Frame " + std::to_string(i) + " could not be read (" + notArrived +
                 "): " + r.framePaths[i]);
      } else if (i < r.framePaths.size() && !r.framePaths[i].empty()) {
        sheetsmith::SourceColors colors = sheetsmith::SourceColors::kRgb;
        std::optional<bool> frameTagged;
        frames[i - first] = LoadCellFrame(r.framePaths[i], cellWidth, cellHeight,
                                          photos[i - first] ? photos[i - first]->turned : false,
                                          &colors, ReaderColors(r.framePaths[i]), &frameTagged);
        tagged |= frameTagged ? *frameTagged
                              : ConvertToTarget(frames[i - first].get(), r.framePaths[i], colors,
                                                target, conversions);
      }
      progress.PhotosDone(static_cast<std::int32_t>(i + 1));
      if (++loaded % 10 == 0) {
        LogError("DEBUG C++: Loaded " + std::to_string(loaded) + "/" + std::to_string(n) +
                 " images...");
      }
    }
    const Clock::time_point pageStart = Clock::now();
    loading += pageStart - loadStart;

    GdiplusBitmap page = CreateBitmap(r.pageWidth, r.pageHeight, PixelFormat32bppARGB);
    GdiplusGraphics graphics = GraphicsFor(page.get());
    Gdiplus::GpStatus saved = Gdiplus::OutOfMemory;
    if (page && graphics) {
      gdip::GdipGraphicsClear(graphics.get(), 0xFFFFFFFF);
      gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
      gdip::GdipSetCompositingMode(graphics.get(), Gdiplus::CompositingModeSourceOver);
      for (std::size_t k = first; k < last; ++k) {
        const std::optional<CellImage>& photo = photos[k - first];
        if (!photo) continue;
        const long long cell = static_cast<long long>(k - first);
        const int row = static_cast<int>(cell / r.columns);
        const int col = static_cast<int>(cell % r.columns);
        const int x0 = col * cellWidth + r.marginLeft;
        const int y0 = row * cellHeight + r.marginTop;
        UINT bw = 0;
        UINT bh = 0;
        gdip::GdipGetImageWidth(photo->bitmap.get(), &bw);
        gdip::GdipGetImageHeight(photo->bitmap.get(), &bh);
        const CellPlacement place =
            PlaceInCell(static_cast<int>(bw), static_cast<int>(bh), cellWidth, cellHeight);
        gdip::GdipDrawImageRectRectI(graphics.get(), photo->bitmap.get(), x0 + place.offsetX,
                                     y0 + place.offsetY, place.width, place.height, place.sourceX,
                                     place.sourceY, place.width, place.height, Gdiplus::UnitPixel,
                                     nullptr, nullptr, nullptr);
        if (const GdiplusBitmap& frame = frames[k - first]) {
          gdip::GdipDrawImageRectI(graphics.get(), frame.get(), x0, y0, cellWidth, cellHeight);
        }
      }
      graphics.reset();
      // The page carries its target, as the page composer's pages do.
      const bool carries = target.convert && (!target.isSrgb || tagged);
      saved = SaveJpegWhole(page.get(), r.outputPaths[p], *jpeg, quality,
                       carries ? std::string_view(target.profile) : std::string_view());
    }
    if (saved == Gdiplus::Ok) progress.PagesDone(++pagesSaved);
    if (saved != Gdiplus::Ok) {
      LogError("ERROR: Failed to write page " + std::to_string(p + 1) +
               ", GDI+ status=" + std::to_string(static_cast<int>(saved)));
      if (!firstUnwritten) firstUnwritten = p;
    }
    rendering += Clock::now() - pageStart;
  }
  const auto ms = [](Clock::duration d) {
    return static_cast<std::int32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
  };
  result.loadTimeMs = ms(loading);
  LogError("DEBUG C++: Loaded " + std::to_string(loaded) + " images in " +
           std::to_string(result.loadTimeMs) + "ms");
  result.renderTimeMs = ms(rendering);
  LogError("DEBUG C++: Created " + std::to_string(r.outputPaths.size()) + " grid pages in " +
           std::to_string(result.renderTimeMs) + "ms");

  result.totalTimeMs = ElapsedMs(totalStart);
  LogError("DEBUG C++: TOTAL GridComposer: " + std::to_string(result.totalTimeMs) + "ms");
  if (firstUnwritten) {
    result.errorMessage = "Failed to write page " + std::to_string(*firstUnwritten + 1);
    return result;
  }
  result.success = true;
  return result;
}

}  // namespace runner::printing
