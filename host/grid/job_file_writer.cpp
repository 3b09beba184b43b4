// A grid request as the job file carries it, and the rules of starting the
// page composer that need no platform.
#include "job_file_writer.h"

#include <cstdlib>

namespace runner::printing {

sheetsmith::GridConfig JobFileConfig(const GridRequest& r) {
  sheetsmith::GridConfig c;
  c.images = r.imagePaths;
  c.frames = r.framePaths;
  c.outputs = r.outputPaths;
  c.effects = r.imageEffects;
  c.rows = r.rows;
  c.cols = r.columns;
  c.pageWidth = r.pageWidth;
  c.pageHeight = r.pageHeight;
  c.marginLeft = r.marginLeft;
  c.marginRight = r.marginRight;
  c.marginTop = r.marginTop;
  c.marginBottom = r.marginBottom;
  c.jpegQuality = r.jpegQuality;
  c.showCutGrid = r.showCutGrid;
  c.cutGridWidthMm = r.cutGridWidthMm;
  c.cutGridColor = r.cutGridColor;
  c.magnetAspectRatio = r.magnetAspectRatio;
  c.colorTarget = r.colorSelection;
  return c;
}

GridConfigText BuildGridConfig(const GridRequest& request) {
  return sheetsmith::BuildGridConfig(JobFileConfig(request));
}

std::optional<std::string> ReasonJobFileCannotCarry(const GridRequest& request) {
  return sheetsmith::ReasonJobFileCannotCarry(JobFileConfig(request));
}

std::wstring ComposerPathBeside(const std::wstring& programPath) {
  const std::size_t slash = programPath.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return programPath.substr(0, slash + 1) + L"sheetsmith.exe";
}

int ComposerStallLimitMs() {
  return ComposerWatchdogMs(std::getenv("KORVELA_COMPOSER_WATCHDOG_MS"));
}

int ComposerWatchdogMs(const char* override) {
  if (!override || !*override) return kComposerWatchdogMs;
  char* end = nullptr;
  const long value = std::strtol(override, &end, 10);
  if (*end != '\0' || value < 1 || value > kComposerWatchdogMs) return kComposerWatchdogMs;
  return static_cast<int>(value);
}

}  // namespace runner::printing
