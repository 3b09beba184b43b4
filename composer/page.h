// One finished page: white canvas, the photos of its cells, the cut grid, and
// the JPEG file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "effects.h"
#include "geometry.h"
#include "imaging/pixels/rgba_image.h"
#include "job_file/grid_config.h"
#include "placement.h"

namespace sheetsmith {

class BufferPool;

using ThreadStarter = std::function<std::thread(std::function<void()>)>;

// Makes a page's canvas of width x height, its pixels whatever the memory
// holds; nullopt when the memory cannot be had. The run whitens what its
// photos do not cover: whitening the whole page first would write most of it
// twice.
using CanvasMaker = std::function<std::optional<RgbaImage>(int width, int height)>;

std::optional<RgbaImage> MakeCanvas(int width, int height);

// Whitens all of the canvas but the magnets of the page's first `photos`
// cells, which their photos fill (see PastePrepared).
void WhitenAroundMagnets(RgbaImage& canvas, const GridConfig& config, const GridGeometry& geometry,
                         int photos);

// One page while its photos are placed: the canvas is made by the first
// unit of work with a photo ready to lay (by the last unit, for a page of
// white cells; by the worker that saves another page, for a page whose
// photos wait for room), and the page saved by the worker that ends its last
// unit or makes its canvas after that.
struct PageWork {
  // Guarded by the run's canvasMutex.
  bool canvasTried = false;
  bool makingCanvas = false;
  bool complete = false;               // all units ended, photos waiting for room
  std::vector<PreparedPhoto> waiting;  // photos ready before the canvas
  std::optional<RgbaImage> canvas;     // read without the lock once set
  // Per cell with a photo: whether the photo was laid. Each is written by the
  // worker that lays it; the cells of photos that could not be loaded are
  // whitened when the page is saved.
  std::vector<char> laid;
  std::atomic<int> unitsLeft{0};
  std::atomic<bool> tagged{false};  // a photo or frame on it converted from its own profile
};

// What the workers of one run share. The config and geometry are read-only
// while workers run; the counters change only atomically. The units of work
// are the photos, in page order; a page without photos is one unit, so that
// it is still made and saved.
struct RunState {
  const GridConfig& config;
  GridGeometry geometry;
  CanvasMaker makeCanvas;
  // The run's colours; null: every photo as it is, as in tests of layout.
  RunColors* colors = nullptr;
  std::atomic<std::int64_t> nextUnit{0};
  std::atomic<int> photosProcessed{0};
  std::atomic<int> pagesSaved{0};
  std::atomic<int> pagesFailed{0};   // pages with no canvas or no file
  std::atomic<bool> abandon{false};  // set when the run cannot complete
  std::mutex logMutex;

  // A page's canvas is made only while fewer than canvasLimit are held (being
  // made, or made and the page not yet saved); else its photos wait, at most
  // photosWaitingLimit in the run, beyond which a canvas is made all the
  // same. The memory a saved page frees makes the canvas of the first page
  // whose photos wait, so fresh memory is touched for a canvas only while
  // that many pages overlap.
  int canvasLimit = 1;
  int photosWaitingLimit = 1;
  std::mutex canvasMutex;  // guards the two counts below and PageWork's canvas state
  int canvasesHeld = 0;
  int photosWaitingForRoom = 0;

  // The photos the workers are reading, decoding or fitting now (a photo
  // twice in a job may be in two hands), which the heartbeat names: a read
  // that never ends shows as a photo that stays in hand.
  std::mutex inHandMutex;
  std::multiset<std::size_t> inHand;
  std::vector<std::size_t> PhotosInHand();

  // Whether canvases are whitened only around their magnets (see
  // WhitenAroundMagnets), or else whole.
  bool whitenAroundMagnets = true;

  // The pool the run's threads take their buffers from (none: the system).
  BufferPool* pool = nullptr;
  // Starts a thread that saves a page; unset: pages are saved by the worker
  // that ends them.
  ThreadStarter startSaver;

  RunState(const GridConfig& c, const GridGeometry& g, CanvasMaker maker = &MakeCanvas);

  int pageCount() const { return static_cast<int>(config.outputs.size()); }
  // The photos that have a cell on some page: those the run places.
  int photosToPlace() const { return photosToPlace_; }
  std::int64_t unitCount() const { return unitStart_.back(); }
  // Photos placed on page `page` (cells past the last photo stay empty).
  int PhotosOnPage(int page) const;
  PageWork& Page(int page) { return pages_[static_cast<std::size_t>(page)]; }
  // The page of a unit, and the unit's place among that page's units.
  void LocateUnit(std::int64_t unit, int& page, int& slot) const;

  // Ends the run: the first failure's text is kept, the workers stop taking
  // work.
  void Fail(const std::string& message);
  std::optional<std::string> failure();

  // Runs `save` on a thread of its own (on the calling thread when none can
  // be started), its failures ending the run as a worker's would.
  void StartSave(const std::function<void()>& save);
  // Waits for every save started; once the workers have ended.
  void JoinSaves();

 private:
  std::unique_ptr<PageWork[]> pages_;
  std::vector<std::int64_t> unitStart_;  // first unit of each page, then the total
  int photosToPlace_ = 0;
  std::mutex failureMutex_;
  std::optional<std::string> failure_;
  struct Saver {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex saversMutex_;
  std::vector<Saver> savers_;
};

// Runs `work` so that nothing leaves it: running out of memory or any
// exception fails the run with its text (an exception leaving a thread would
// end the process without a word).
void RunGuarded(RunState& state, const std::function<void()>& work);

// Cut-grid colour names, matched exactly; anything else is dark grey.
Rgb ColorFromName(const std::string& name);

// Width in pixels of the cut lines for this page.
int CutGridLineWidth(const GridConfig& config);

// Draws the lines between cells over the usable area.
// Its colour (an sRGB one) is taken through `toTarget` when given.
void DrawCutGrid(RgbaImage& canvas, const GridConfig& config, const GridGeometry& geometry,
                 const std::function<Rgb(Rgb)>& toTarget = nullptr);

// Does one unit of work: makes its photo ready and lays it on its page's
// canvas, or leaves it with the page (see LayOnPage in page.cpp), and when it
// is the page's last unit, has the cut grid drawn and the page written to
// its output, on a thread of its own when the run starts savers. A page
// whose canvas or file cannot be made is counted in pagesFailed.
void DoUnit(std::int64_t unit, RunState& state);

}  // namespace sheetsmith
