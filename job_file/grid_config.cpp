// The job file read: its sections and settings, with each setting's problems
// said.
#include "job_file/grid_config.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "imaging/system/file_io.h"

namespace sheetsmith {
namespace {

enum class NumberRead { kOk, kNotANumber, kOutOfRange };

// strtol's reading (leading white space, sign, digits, trailing text
// ignored), into a 32-bit integer whatever the width of long.
NumberRead ReadInt32(const std::string& value, std::int32_t& out) {
  const char* start = value.c_str();
  char* end = nullptr;
  errno = 0;
  const long long number = std::strtoll(start, &end, 10);
  if (end == start) return NumberRead::kNotANumber;
  if (errno == ERANGE || number < std::numeric_limits<std::int32_t>::min() ||
      number > std::numeric_limits<std::int32_t>::max()) {
    return NumberRead::kOutOfRange;
  }
  out = static_cast<std::int32_t>(number);
  return NumberRead::kOk;
}

// strtod's reading in the C locale. Infinities and NaN make no geometry, so
// they count as out of range along with overflow.
NumberRead ReadDouble(const std::string& value, double& out) {
  const char* start = value.c_str();
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(start, &end);
  if (end == start) return NumberRead::kNotANumber;
  if (!std::isfinite(number) || (errno == ERANGE && std::fabs(number) > 1.0)) {
    return NumberRead::kOutOfRange;
  }
  out = number;
  return NumberRead::kOk;
}

void Report(std::vector<std::string>* problems, const std::string& key, const std::string& value,
            NumberRead read) {
  if (!problems || read == NumberRead::kOk) return;
  const char* why = read == NumberRead::kNotANumber ? " is not a number" : " is out of range";
  problems->push_back("setting " + key + "=" + value + why);
}

void ReadSetting(std::string_view line, GridConfig& config, std::vector<std::string>* problems) {
  const std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return;
  const std::string key(line.substr(0, equals));
  const std::string value(line.substr(equals + 1));

  struct IntKey {
    const char* name;
    std::int32_t GridConfig::*field;
  };
  static constexpr IntKey kIntKeys[] = {
      {"rows", &GridConfig::rows},
      {"cols", &GridConfig::cols},
      {"pageWidth", &GridConfig::pageWidth},
      {"pageHeight", &GridConfig::pageHeight},
      {"marginLeft", &GridConfig::marginLeft},
      {"marginRight", &GridConfig::marginRight},
      {"marginTop", &GridConfig::marginTop},
      {"marginBottom", &GridConfig::marginBottom},
      {"jpegQuality", &GridConfig::jpegQuality},
  };
  for (const IntKey& intKey : kIntKeys) {
    if (key == intKey.name) {
      Report(problems, key, value, ReadInt32(value, config.*intKey.field));
      return;
    }
  }
  if (key == "cutGridWidthMm") {
    Report(problems, key, value, ReadDouble(value, config.cutGridWidthMm));
  } else if (key == "magnetAspectRatio") {
    Report(problems, key, value, ReadDouble(value, config.magnetAspectRatio));
  } else if (key == "showCutGrid") {
    config.showCutGrid = value == "1" || value == "true";
  } else if (key == "cutGridColor") {
    config.cutGridColor = value;
  } else if (key == "colorTarget") {
    config.colorTarget = value;
  } else if (key == "keepEmptyImageLines") {
    config.keepEmptyImageLines = value == "1" || value == "true";
  }
}

void ReadEffects(std::string_view line, GridConfig& config) {
  const std::string text(line);
  GridImageEffects e;
  int index = 0;
  int flag = 1;
  const int items =
      std::sscanf(text.c_str(), "%d,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%f,%u,%d", &index,
                  &e.brightness, &e.contrast, &e.saturation, &e.exposure, &e.grayscale,
                  &e.temperature, &e.sharpness, &e.scale, &e.offsetX, &e.offsetY, &e.viewportWidth,
                  &e.viewportHeight, &e.stroke, &e.strokeScale, &e.strokeColor, &flag);
  if (items < 8) return;
  if (index < 0 || index >= kMaxEffectsIndex) return;
  if (items == 17) e.strokeExternal = flag != 0;
  if (config.effects.size() <= static_cast<std::size_t>(index)) {
    config.effects.resize(static_cast<std::size_t>(index) + 1);
  }
  config.effects[static_cast<std::size_t>(index)] = e;
}

}  // namespace

bool ParseConfigText(std::string_view text, GridConfig& config,
                     std::vector<std::string>* problems) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

  std::string section;
  while (!text.empty()) {
    const std::size_t lineFeed = text.find('\n');
    std::string_view line = text.substr(0, lineFeed);
    text.remove_prefix(lineFeed == std::string_view::npos ? text.size() : lineFeed + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
      if (section == "frames") config.frames.emplace_back();
      if (section == "images" && config.keepEmptyImageLines) config.images.emplace_back();
      continue;
    }
    line.remove_prefix(first);
    if (line.front() == '#') continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos) section = std::string(line.substr(1, close - 1));
      continue;
    }
    if (section == "images") {
      config.images.emplace_back(line);
    } else if (section == "frames") {
      config.frames.emplace_back(line);
    } else if (section == "outputs") {
      config.outputs.emplace_back(line);
    } else if (section == "settings") {
      ReadSetting(line, config, problems);
    } else if (section == "effects") {
      ReadEffects(line, config);
    }
  }
  return !config.images.empty() && !config.outputs.empty();
}

bool ParseConfig(const std::string& path, GridConfig& config, std::vector<std::string>* problems) {
  const std::optional<std::string> text = ReadWholeFile(path);
  if (!text) return false;
  return ParseConfigText(*text, config, problems);
}

}  // namespace sheetsmith
