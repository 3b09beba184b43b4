#include "grid_config_writer.h"

#include <algorithm>
#include <cstdlib>

#include "logging.h"

namespace runner::printing {
namespace {

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool HoldsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// An image or frame path that can name no file: a photo or frame that cannot
// be read, which the file carries as an empty line in its place.
bool CarriedEmpty(const std::string& path) { return path.empty() || HoldsNul(path); }

// Why one path line would not read back as written; nullopt when it would.
std::optional<std::string> PathProblem(const std::string& path, bool emptyAllowed) {
  if (emptyAllowed && CarriedEmpty(path)) return std::nullopt;
  if (path.empty()) return std::string("an empty path");
  if (HoldsNul(path)) return std::string("a path holding a NUL");
  if (HasLineBreak(path)) return std::string("a path with a line break");
  const char first = path.front();
  if (first == ' ' || first == '\t') return std::string("a path starting with a blank");
  if (first == '#' || first == '[') return std::string("a path starting with \"") + first + "\"";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReasonJobFileCannotCarry(const GridRequest& r) {
  const struct {
    const std::vector<std::string>& paths;
    const char* what;
    bool emptyAllowed;
  } lists[] = {{r.imagePaths, "image", true},
               {r.framePaths, "frame", true},
               {r.outputPaths, "output", false}};
  for (const auto& list : lists) {
    for (std::size_t i = 0; i < list.paths.size(); ++i) {
      if (const auto problem = PathProblem(list.paths[i], list.emptyAllowed)) {
        return *problem + " (" + list.what + " " + std::to_string(i) + ")";
      }
    }
  }
  if (HasLineBreak(r.cutGridColor)) return std::string("a cut-line colour with a line break");
  if (HasLineBreak(r.colorSelection) || HoldsNul(r.colorSelection)) {
    return std::string("a colour profile path it cannot hold");
  }
  return std::nullopt;
}

std::wstring ComposerPathBeside(const std::wstring& programPath) {
  const std::size_t slash = programPath.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return programPath.substr(0, slash + 1) + L"sheetsmith.exe";
}

int ComposerWatchdogMs(const char* override) {
  if (!override || !*override) return kComposerWatchdogMs;
  char* end = nullptr;
  const long value = std::strtol(override, &end, 10);
  if (*end != '\0' || value < 1 || value > kComposerWatchdogMs) return kComposerWatchdogMs;
  return static_cast<int>(value);
}

bool IsNeutralForJobFile(const GridImageEffects& e) {
  return e.brightness == 0.5f && e.contrast == 0.0f && e.saturation == 0.5f && e.exposure == 0.5f &&
         e.grayscale == 0.0f && e.temperature == 0.0f && e.sharpness == 0.0f && e.scale == 1.0f &&
         e.offsetX == 0.0f && e.offsetY == 0.0f && !(e.stroke > 0.0f);
}

GridConfigText BuildGridConfig(const GridRequest& r) {
  std::string text = "\xEF\xBB\xBF[settings]\n";
  auto setting = [&text](const char* key, const std::string& value) {
    text += key;
    text += '=';
    text += value;
    text += '\n';
  };
  setting("rows", std::to_string(r.rows));
  setting("cols", std::to_string(r.columns));
  setting("pageWidth", std::to_string(r.pageWidth));
  setting("pageHeight", std::to_string(r.pageHeight));
  setting("marginLeft", std::to_string(r.marginLeft));
  setting("marginRight", std::to_string(r.marginRight));
  setting("marginTop", std::to_string(r.marginTop));
  setting("marginBottom", std::to_string(r.marginBottom));
  setting("jpegQuality", std::to_string(r.jpegQuality));
  setting("showCutGrid", r.showCutGrid ? "1" : "0");
  setting("cutGridWidthMm", FormatG(r.cutGridWidthMm));
  setting("cutGridColor", r.cutGridColor);
  if (r.magnetAspectRatio > 0) setting("magnetAspectRatio", FormatG(r.magnetAspectRatio));
  // Only when needed, so that every other job file stays as it was: a file
  // without the key gets sRGB pages.
  if (r.colorSelection != "srgb") setting("colorTarget", r.colorSelection);
  if (std::any_of(r.imagePaths.begin(), r.imagePaths.end(), CarriedEmpty)) {
    setting("keepEmptyImageLines", "1");
  }

  auto section = [&text](const char* name, const std::vector<std::string>& paths) {
    text += name;
    text += '\n';
    for (const std::string& path : paths) {
      if (!HoldsNul(path)) text += path;
      text += '\n';
    }
  };
  section("[images]", r.imagePaths);
  section("[frames]", r.framePaths);
  section("[outputs]", r.outputPaths);

  std::size_t written = 0;
  if (!r.imageEffects.empty()) {
    text += "[effects]\n";
    for (std::size_t i = 0; i < r.imageEffects.size(); ++i) {
      const GridImageEffects& e = r.imageEffects[i];
      if (IsNeutralForJobFile(e)) continue;
      text += std::to_string(i);
      for (float value : {e.brightness, e.contrast, e.saturation, e.exposure, e.grayscale,
                          e.temperature, e.sharpness, e.scale, e.offsetX, e.offsetY,
                          e.viewportWidth, e.viewportHeight, e.stroke, e.strokeScale}) {
        text += ',';
        text += FormatG(value);
      }
      text += ',';
      text += std::to_string(e.strokeColor);
      text += e.strokeExternal ? ",1\n" : ",0\n";
      ++written;
    }
  }
  return {std::move(text), written};
}

}  // namespace runner::printing
