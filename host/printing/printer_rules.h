// The printing rules that need no spooler: printer and paper records, the
// paper match by size and by name, the orientation for a paper, the sizes
// read from the channel, the paper the driver dialog chose, the fit of an
// image to the printable area, and the checks on shell paths and copies.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "encodable_value.h"

namespace runner::printing {

inline constexpr std::uint32_t kPrinterStatusOffline = 0x80;

struct PrinterInfo {
  std::string name;  // UTF-8
  std::string comment;
  std::uint32_t status = 0;
};

// {"name", "displayName", "isDefault", "isOnline", "description",
// "supportedPaperSizes"}; default when the name equals `defaultName` exactly.
EncodableValue PrinterRecord(const PrinterInfo& printer, const std::string& defaultName);
EncodableValue DefaultPrinterRecord(const std::string& name);

// One paper of a driver: code, name (UTF-8, at most 64 UTF-16 units) and
// size in tenths of a millimetre.
struct DriverPaper {
  std::uint16_t code = 0;
  std::string name;
  std::int32_t widthTenths = 0;
  std::int32_t heightTenths = 0;
};

// The paper records of a driver's papers, in its order, leaving out papers
// under 1 mm on a side.
EncodableList PaperRecords(const std::vector<DriverPaper>& papers);

using LogLine = std::function<void(const std::string&)>;

// The code of the paper closest to width x height mm (either way round),
// within 10 mm summed over both sides; 0 when none is. Differences are
// computed in 64 bits.
std::uint16_t FindPaperIdBySize(const std::vector<DriverPaper>& papers, int width, int height,
                                const LogLine& log);

// The index of the paper a name chooses: the first exact match with a paper
// code, else the first paper whose lower-cased name contains the lower-cased
// request or is contained in it; nullopt when none.
std::optional<std::size_t> FindPaperByName(const std::vector<DriverPaper>& papers,
                                           const std::string& name);

// Millimetres as the channel sends them: an int32, or a double truncated
// toward zero. Values that are not finite, or past kMaxPaperMillimetres
// either way, count as not given (0), like a missing key or another kind.
inline constexpr int kMaxPaperMillimetres = 3276;  // tenths must fit 16 bits
int PaperMillimetres(const EncodableValue* value);

struct PaperSize {
  int width = 0;
  int height = 0;
};
// "width" and "height" of a "paperSize" map; 0 for each when it is no map.
PaperSize ReadPaperSize(const EncodableValue* paperSize);

// Whether to turn a paper of paperWidth x paperHeight to landscape so that
// it prints width x height: only when the two lie differently (a paper that
// is itself wider than tall is not turned for a landscape request).
bool LandscapeFor(int width, int height, int paperWidth, int paperHeight);

// What the driver dialog chose.
struct DialogPaper {
  std::uint16_t code = 0;        // 0 when the dialog gave none
  std::string form;              // UTF-8, empty when none
  std::int32_t widthTenths = 0;  // 0 when not given
  std::int32_t heightTenths = 0;
};

// Width and height in mm of a standard paper code, or nullopt.
std::optional<PaperSize> StandardPaperSize(std::uint16_t code);

// The "pickPaperSizeWindows" answer for a dialog's choice.
EncodableValue DialogPaperRecord(const DialogPaper& chosen);

// How an image of width x height pixels fits a printable area of
// areaWidth x areaHeight device pixels, centred (float arithmetic).
struct PageFit {
  float scaleX = 0;
  float scaleY = 0;
  float scale = 0;
  int width = 0;
  int height = 0;
  int offsetX = 0;
  int offsetY = 0;
};
PageFit FitToPrintableArea(std::uint32_t width, std::uint32_t height, int areaWidth,
                           int areaHeight);

// Copies for the shell's print verb: at most this many.
inline constexpr int kMaxCopies = 999;
int CopiesToPrint(const EncodableValue* copies);

// Whether a path names a photo file the product reads (by its extension);
// only those are handed to the shell's "open" verb.
bool IsPhotoPath(const std::string& path);

}  // namespace runner::printing
