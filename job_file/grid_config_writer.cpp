// The job file written: the settings, the path sections and the effects
// records, as the reader reads them back.
#include "job_file/grid_config_writer.h"

#include <algorithm>

#include "imaging/system/text.h"

namespace sheetsmith {
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

std::optional<std::string> ReasonJobFileCannotCarry(const GridConfig& c) {
  const struct {
    const std::vector<std::string>& paths;
    const char* what;
    bool emptyAllowed;
  } lists[] = {{c.images, "image", true}, {c.frames, "frame", true}, {c.outputs, "output", false}};
  for (const auto& list : lists) {
    for (std::size_t i = 0; i < list.paths.size(); ++i) {
      if (const auto problem = PathProblem(list.paths[i], list.emptyAllowed)) {
        return *problem + " (" + list.what + " " + std::to_string(i) + ")";
      }
    }
  }
  if (HasLineBreak(c.cutGridColor)) return std::string("a cut-line colour with a line break");
  if (HasLineBreak(c.colorTarget) || HoldsNul(c.colorTarget)) {
    return std::string("a colour profile path it cannot hold");
  }
  return std::nullopt;
}

bool IsNeutralForJobFile(const GridImageEffects& e) {
  return e.brightness == 0.5f && e.contrast == 0.0f && e.saturation == 0.5f && e.exposure == 0.5f &&
         e.grayscale == 0.0f && e.temperature == 0.0f && e.sharpness == 0.0f && e.scale == 1.0f &&
         e.offsetX == 0.0f && e.offsetY == 0.0f && !(e.stroke > 0.0f);
}

GridConfigText BuildGridConfig(const GridConfig& c) {
  std::string text = "\xEF\xBB\xBF[settings]\n";
  auto setting = [&text](const char* key, const std::string& value) {
    text += key;
    text += '=';
    text += value;
    text += '\n';
  };
  setting("rows", std::to_string(c.rows));
  setting("cols", std::to_string(c.cols));
  setting("pageWidth", std::to_string(c.pageWidth));
  setting("pageHeight", std::to_string(c.pageHeight));
  setting("marginLeft", std::to_string(c.marginLeft));
  setting("marginRight", std::to_string(c.marginRight));
  setting("marginTop", std::to_string(c.marginTop));
  setting("marginBottom", std::to_string(c.marginBottom));
  setting("jpegQuality", std::to_string(c.jpegQuality));
  setting("showCutGrid", c.showCutGrid ? "1" : "0");
  setting("cutGridWidthMm", FormatG(c.cutGridWidthMm));
  setting("cutGridColor", c.cutGridColor);
  if (c.magnetAspectRatio > 0) setting("magnetAspectRatio", FormatG(c.magnetAspectRatio));
  // Only when needed, so that every other job file stays as it was: a file
  // without the key gets sRGB pages.
  if (c.colorTarget != "srgb") setting("colorTarget", c.colorTarget);
  if (std::any_of(c.images.begin(), c.images.end(), CarriedEmpty)) {
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
  section("[images]", c.images);
  section("[frames]", c.frames);
  section("[outputs]", c.outputs);

  std::size_t written = 0;
  if (!c.effects.empty()) {
    text += "[effects]\n";
    for (std::size_t i = 0; i < c.effects.size(); ++i) {
      const GridImageEffects& e = c.effects[i];
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

}  // namespace sheetsmith
