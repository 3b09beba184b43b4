// A page's work: its canvas made and whitened, its photos laid as they come,
// the cut grid drawn, and the page saved.
#include "page.h"

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>

#include "imaging/pixels/buffer_pool.h"
#include "imaging/reading/photo_reader.h"
#include "imaging/writing/jpeg_file.h"
#include "log.h"
#include "placement.h"
#include "stage_times.h"

namespace sheetsmith {

std::optional<RgbaImage> MakeCanvas(int width, int height) {
  return MakeUnfilledImage(width, height);
}

void WhitenAroundMagnets(RgbaImage& canvas, const GridConfig& config, const GridGeometry& geometry,
                         int photos) {
  const long long width = canvas.width;
  const long long height = canvas.height;
  // Magnets lie in their cells, so the bands of magnet rows and, within a
  // band, the magnets run left to right and top to bottom without overlap.
  long long y = 0;
  const long long rowsWithPhotos =
      photos <= 0 ? 0 : std::min<long long>(config.rows, (photos - 1) / config.cols + 1);
  for (long long row = 0; row < rowsWithPhotos && y < height; ++row) {
    const Point first = MagnetOrigin(config, geometry, static_cast<int>(row), 0);
    const long long top = std::clamp<long long>(first.y, y, height);
    const long long bottom = std::clamp<long long>(first.y + geometry.magnetHeight, top, height);
    WhitenRect(canvas, 0, y, width, top - y);
    const long long cols = std::min<long long>(config.cols, photos - row * config.cols);
    long long x = 0;
    for (long long col = 0; col < cols && x < width; ++col) {
      const Point origin =
          MagnetOrigin(config, geometry, static_cast<int>(row), static_cast<int>(col));
      const long long left = std::clamp<long long>(origin.x, x, width);
      WhitenRect(canvas, x, top, left - x, bottom - top);
      x = std::clamp<long long>(static_cast<long long>(origin.x) + geometry.magnetWidth, x, width);
    }
    WhitenRect(canvas, x, top, width - x, bottom - top);
    y = bottom;
  }
  WhitenRect(canvas, 0, y, width, height - y);
}

RunState::RunState(const GridConfig& c, const GridGeometry& g, CanvasMaker maker)
    : config(c),
      geometry(g),
      makeCanvas(std::move(maker)),
      pages_(new PageWork[c.outputs.size()]),
      unitStart_(c.outputs.size() + 1, 0) {
  // A magnet that begins left of or above the page has its photo laid from
  // the page's edge, reaching past the magnet; such pages are made on a
  // canvas white all over.
  const Point first = MagnetOrigin(config, geometry, 0, 0);
  whitenAroundMagnets = first.x >= 0 && first.y >= 0;
  for (int page = 0; page < pageCount(); ++page) {
    photosToPlace_ += PhotosOnPage(page);
    const int units = std::max(1, PhotosOnPage(page));
    pages_[static_cast<std::size_t>(page)].unitsLeft.store(units);
    pages_[static_cast<std::size_t>(page)].laid.assign(static_cast<std::size_t>(PhotosOnPage(page)),
                                                       0);
    unitStart_[static_cast<std::size_t>(page) + 1] =
        unitStart_[static_cast<std::size_t>(page)] + units;
  }
}

int RunState::PhotosOnPage(int page) const {
  const std::int64_t first = static_cast<std::int64_t>(page) * geometry.cellsPerPage;
  const std::int64_t left = static_cast<std::int64_t>(config.images.size()) - first;
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, geometry.cellsPerPage));
}

void RunState::LocateUnit(std::int64_t unit, int& page, int& slot) const {
  const auto after = std::upper_bound(unitStart_.begin(), unitStart_.end(), unit);
  page = static_cast<int>(after - unitStart_.begin()) - 1;
  slot = static_cast<int>(unit - unitStart_[static_cast<std::size_t>(page)]);
}

void RunState::Fail(const std::string& message) {
  {
    std::lock_guard<std::mutex> guard(failureMutex_);
    if (!failure_) failure_ = message;
  }
  abandon.store(true);
}

std::optional<std::string> RunState::failure() {
  std::lock_guard<std::mutex> guard(failureMutex_);
  return failure_;
}

void RunGuarded(RunState& state, const std::function<void()>& work) {
  try {
    work();
  } catch (const std::bad_alloc&) {
    state.Fail("Out of memory");
  } catch (const std::exception& error) {
    state.Fail(error.what());
  } catch (...) {
    state.Fail("Unknown error on a worker thread");
  }
}

void RunState::StartSave(const std::function<void()>& save) {
  const auto guarded = [this, save] {
    std::optional<BufferPool::Use> usePool;
    if (pool) usePool.emplace(*pool);
    RunGuarded(*this, save);
  };
  if (startSaver) {
    const std::lock_guard<std::mutex> lock(saversMutex_);
    // Threads whose page is saved are joined as new ones start, so a long
    // run keeps only the few that are saving.
    for (auto saver = savers_.begin(); saver != savers_.end();) {
      if (saver->done->load()) {
        saver->thread.join();
        saver = savers_.erase(saver);
      } else {
        ++saver;
      }
    }
    try {
      // Room first: a started thread must never be dropped unjoined.
      savers_.reserve(savers_.size() + 1);
      auto done = std::make_shared<std::atomic<bool>>(false);
      savers_.push_back(Saver{startSaver([guarded, done] {
                                guarded();
                                done->store(true);
                              }),
                              done});
      return;
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
  }
  guarded();
}

void RunState::JoinSaves() {
  std::lock_guard<std::mutex> lock(saversMutex_);
  for (Saver& saver : savers_) {
    if (saver.thread.joinable()) saver.thread.join();
  }
  savers_.clear();
}

Rgb ColorFromName(const std::string& name) {
  if (name == "black") return {0, 0, 0};
  if (name == "white") return {255, 255, 255};
  if (name == "gray" || name == "grey") return {128, 128, 128};
  if (name == "lightGray" || name == "lightGrey") return {192, 192, 192};
  return {64, 64, 64};
}

int CutGridLineWidth(const GridConfig& config) {
  const double pixelsPerMm = config.pageHeight <= 2400 ? 300.0 / 25.4 : 450.0 / 25.4;
  const double exact = pixelsPerMm * config.cutGridWidthMm;
  // A line wider than the page paints the same as one as wide as the page;
  // the bound keeps the conversion to int defined.
  const double bound = static_cast<double>(std::max(config.pageWidth, config.pageHeight)) * 2 + 2;
  int width = exact >= bound ? static_cast<int>(bound) : exact > 0 ? static_cast<int>(exact) : 0;
  if (width <= 1) width = 1;
  const Rgb color = ColorFromName(config.cutGridColor);
  if (color.r > 149 && color.g > 149 && color.b > 149 && width < 2) width = 2;
  return width;
}

void DrawCutGrid(RgbaImage& canvas, const GridConfig& config, const GridGeometry& geometry,
                 const std::function<Rgb(Rgb)>& toTarget) {
  const int width = CutGridLineWidth(config);
  const int half = width / 2;
  const Rgb chosen = ColorFromName(config.cutGridColor);
  const Rgb color = toTarget ? toTarget(chosen) : chosen;
  const long long top = config.marginTop;
  const long long left = config.marginLeft;
  for (long long j = 1; j < config.cols; ++j) {
    const long long x = left + j * geometry.cellWidth - half;
    if (x >= canvas.width) break;
    FillRect(canvas, x, top, width, geometry.usableHeight, color);
  }
  for (long long j = 1; j < config.rows; ++j) {
    const long long y = top + j * geometry.cellHeight - half;
    if (y >= canvas.height) break;
    FillRect(canvas, left, y, geometry.usableWidth, width, color);
  }
}

namespace {

// Counts a photo done (placed, or failed to load) and says how many every
// tenth and at the last.
void CountPhoto(RunState& state, bool loaded) {
  const std::size_t imageCount = state.config.images.size();
  const int k = state.photosProcessed.fetch_add(1) + 1;
  if (loaded && (k % 10 == 0 || static_cast<std::size_t>(k) == imageCount)) {
    LogLineLocked(state.logMutex,
                  "Sheetsmith: [" + std::to_string(k) + "/" + std::to_string(imageCount) + "]");
  }
}

// Lays a photo on the page's canvas, which is there.
void Lay(PageWork& page, const RunState& state, const PreparedPhoto& prepared) {
  PastePrepared(*page.canvas, prepared, state.whitenAroundMagnets);
  page.laid[static_cast<std::size_t>(prepared.slot)] = 1;
}

// With the canvas lock held: the calling worker is to make the page's
// canvas. Photos waiting with the page now wait for it.
void StartMaking(PageWork& page, RunState& state) {
  page.makingCanvas = true;
  ++state.canvasesHeld;
  state.photosWaitingForRoom -= static_cast<int>(page.waiting.size());
}

// Makes the canvas StartMaking promised and lays `first` (when given) and
// the photos that waited, counting those. False when no canvas could be had
// (the page still holds its place among the canvases until it ends).
bool MakeAndLay(PageWork& page, RunState& state, const PreparedPhoto* first) {
  std::optional<RgbaImage> canvas;
  try {
    canvas = state.makeCanvas(state.config.pageWidth, state.config.pageHeight);
  } catch (...) {
    const std::lock_guard<std::mutex> guard(state.canvasMutex);
    page.makingCanvas = false;
    page.canvasTried = true;
    --state.canvasesHeld;
    page.waiting.clear();
    throw;
  }
  // Whitened before other workers can see it and lay their photos.
  if (canvas && state.whitenAroundMagnets) {
    WhitenAroundMagnets(*canvas, state.config, state.geometry, static_cast<int>(page.laid.size()));
  } else if (canvas) {
    WhitenRect(*canvas, 0, 0, canvas->width, canvas->height);
  }
  std::vector<PreparedPhoto> waiting;
  {
    const std::lock_guard<std::mutex> guard(state.canvasMutex);
    page.makingCanvas = false;
    page.canvasTried = true;
    page.canvas = std::move(canvas);
    waiting.swap(page.waiting);
  }
  // Once set, the canvas stays until the page's last unit saves it.
  if (!page.canvas) return false;
  if (first) Lay(page, state, *first);
  for (const PreparedPhoto& left : waiting) {
    Lay(page, state, left);
    CountPhoto(state, true);
  }
  return true;
}

enum class Laid { kNow, kLater, kNoCanvas };

// Lays a prepared photo on its page. No worker waits for a canvas: making one
// touches every byte of it, tens of milliseconds for a page of fresh memory.
// The first photo ready makes the page's canvas, outside the lock; a photo
// ready while another worker makes it is left with the page for that worker
// to lay. And while as many canvases are held as the run allows, a page's
// photos are left with it too (as many in the run as it has workers), and
// the worker that saves a page makes the first waiting page's canvas from
// the memory just freed.
Laid LayOnPage(PageWork& page, RunState& state, PreparedPhoto& prepared) {
  {
    std::unique_lock<std::mutex> lock(state.canvasMutex);
    if (page.canvas) {
      lock.unlock();
      Lay(page, state, prepared);
      return Laid::kNow;
    }
    if (page.canvasTried) return Laid::kNoCanvas;
    if (page.makingCanvas) {
      page.waiting.push_back(std::move(prepared));
      return Laid::kLater;
    }
    if (state.canvasesHeld >= state.canvasLimit &&
        state.photosWaitingForRoom < state.photosWaitingLimit) {
      page.waiting.push_back(std::move(prepared));
      ++state.photosWaitingForRoom;
      return Laid::kLater;
    }
    StartMaking(page, state);
  }
  return MakeAndLay(page, state, &prepared) ? Laid::kNow : Laid::kNoCanvas;
}

// Whether making the page's canvas was tried and failed.
bool CanvasFailed(PageWork& page, RunState& state) {
  const std::lock_guard<std::mutex> guard(state.canvasMutex);
  return page.canvasTried && !page.canvas;
}

// With the canvas lock held, after a canvas was given back: the first page
// whose photos wait for room, promised to the caller; its canvas is to be
// made and, when it is `complete` (its last unit has ended), the page saved.
// An incomplete page is given one more unit, so that it is not saved while
// its photos are laid. Index -1 when no page waits.
struct WaitingPage {
  int index = -1;
  bool complete = false;
};
WaitingPage TakePageWaitingForRoom(RunState& state) {
  for (int index = 0; index < state.pageCount(); ++index) {
    PageWork& page = state.Page(index);
    if (page.waiting.empty() || page.makingCanvas || page.canvasTried) continue;
    if (!page.complete) {
      // A page whose last unit is ending decides under the lock, soon.
      int units = page.unitsLeft.load();
      while (units > 0 && !page.unitsLeft.compare_exchange_weak(units, units + 1)) {
      }
      if (units == 0) continue;
    }
    StartMaking(page, state);
    return {index, page.complete};
  }
  return {};
}

// Writes a page whose units have all ended (its canvas made, or failed) and
// frees its canvas.
void SavePage(int pageIndex, RunState& state) {
  const GridConfig& config = state.config;
  PageWork& page = state.Page(pageIndex);
  if (!page.canvas) {
    state.pagesFailed.fetch_add(1);
    return;
  }
  for (std::size_t slot = 0; state.whitenAroundMagnets && slot < page.laid.size(); ++slot) {
    if (page.laid[slot]) continue;
    const int cell = static_cast<int>(slot);
    const Point origin =
        MagnetOrigin(config, state.geometry, cell / config.cols, cell % config.cols);
    WhitenRect(*page.canvas, origin.x, origin.y, state.geometry.magnetWidth,
               state.geometry.magnetHeight);
  }
  if (config.showCutGrid) {
    DrawCutGrid(*page.canvas, config, state.geometry,
                [&state](Rgb srgb) { return TargetColor(srgb, state.colors); });
  }
  bool saved = false;
  {
    StageTimer timer(GlobalStageTimes().encodeNs);
    // A page carries its target's profile, as a baked photo does; a page
    // with no conversion, and one of untagged photos for sRGB, carry nothing.
    const ColorTarget* target = state.colors ? &state.colors->target : nullptr;
    const bool carries = target && target->convert && (!target->isSrgb || page.tagged.load());
    saved = SaveJpeg(*page.canvas, config.outputs[static_cast<std::size_t>(pageIndex)],
                     config.jpegQuality, carries ? std::string_view(target->profile) : "",
                     &GlobalStageTimes().encodeNs);
  }
  page.canvas.reset();
  if (saved) {
    const int k = state.pagesSaved.fetch_add(1) + 1;
    // The count, then which page it was (from 1, in [outputs]): the host
    // remakes only pages no such line names.
    LogLineLocked(state.logMutex, "Sheetsmith: Saved page " + std::to_string(k) + "/" +
                                      std::to_string(config.outputs.size()));
    LogLineLocked(state.logMutex, "Sheetsmith: Wrote page " + std::to_string(pageIndex + 1));
  } else {
    state.pagesFailed.fetch_add(1);
  }
}

// Saves a page and passes its canvas on: the memory just freed makes the
// canvas of the first page whose photos wait for room, which is saved here
// too when its units have all ended, and so on.
void SaveAndPassOn(int pageIndex, RunState& state) {
  while (pageIndex >= 0) {
    SavePage(pageIndex, state);
    WaitingPage next;
    {
      const std::lock_guard<std::mutex> guard(state.canvasMutex);
      --state.canvasesHeld;
      next = TakePageWaitingForRoom(state);
    }
    pageIndex = -1;
    if (next.index >= 0) {
      MakeAndLay(state.Page(next.index), state, nullptr);
      if (next.complete || state.Page(next.index).unitsLeft.fetch_sub(1) == 1) {
        pageIndex = next.index;
      }
    }
  }
}

// After the page's last unit: its canvas made if no unit made it (a page of
// white cells is still written, and one whose photos wait for room is left
// to the worker that gives a canvas back), then saved.
void FinishPage(int pageIndex, RunState& state) {
  PageWork& page = state.Page(pageIndex);
  bool make = false;
  {
    const std::lock_guard<std::mutex> guard(state.canvasMutex);
    if (!page.canvasTried) {
      if (!page.waiting.empty() && state.canvasesHeld >= state.canvasLimit) {
        page.complete = true;
        return;
      }
      StartMaking(page, state);
      make = true;
    }
  }
  if (make) MakeAndLay(page, state, nullptr);
  // Saving takes about half a photo's time. A worker held by it falls out of
  // step with the others, and the run ends with one photo alone on a core;
  // on a thread of its own the save shares the cores with the workers.
  state.StartSave([pageIndex, &state] { SaveAndPassOn(pageIndex, state); });
}

// A photo in a worker's hand while it lives.
class InHand {
 public:
  InHand(RunState& state, std::size_t index) : state_(state) {
    std::lock_guard<std::mutex> lock(state_.inHandMutex);
    held_ = state_.inHand.insert(index);
  }
  ~InHand() {
    std::lock_guard<std::mutex> lock(state_.inHandMutex);
    state_.inHand.erase(held_);
  }
  InHand(const InHand&) = delete;
  InHand& operator=(const InHand&) = delete;

 private:
  RunState& state_;
  std::multiset<std::size_t>::iterator held_;
};

}  // namespace

std::vector<std::size_t> RunState::PhotosInHand() {
  std::lock_guard<std::mutex> lock(inHandMutex);
  std::vector<std::size_t> photos(inHand.begin(), inHand.end());
  photos.erase(std::unique(photos.begin(), photos.end()), photos.end());
  return photos;
}

void DoUnit(std::int64_t unit, RunState& state) {
  const GridConfig& config = state.config;
  int pageIndex = 0;
  int slot = 0;
  state.LocateUnit(unit, pageIndex, slot);
  PageWork& page = state.Page(pageIndex);
  if (slot < state.PhotosOnPage(pageIndex) && !CanvasFailed(page, state)) {
    const std::int64_t index =
        static_cast<std::int64_t>(pageIndex) * state.geometry.cellsPerPage + slot;
    std::optional<PreparedPhoto> prepared;
    {
      const InHand held(state, static_cast<std::size_t>(index));
      prepared = PreparePhoto(static_cast<std::size_t>(index), slot / config.cols,
                              slot % config.cols, config, state.geometry, state.colors);
    }
    if (prepared && prepared->tagged) page.tagged.store(true);
    if (!prepared) {
      CountPhoto(state, false);
    } else if (LayOnPage(page, state, *prepared) == Laid::kNow) {
      CountPhoto(state, true);
    }
  }
  if (page.unitsLeft.fetch_sub(1) == 1) FinishPage(pageIndex, state);
}

}  // namespace sheetsmith
