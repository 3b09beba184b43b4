// The grid methods' arguments read into a GridRequest.
#include "grid_arguments.h"

#include "arguments.h"

namespace runner::printing {
namespace {

// Every element must be a string: skipping one would shift the photos
// against their frames and effects.
bool ReadPathList(const EncodableMap& map, const char* key, std::vector<std::string>& paths) {
  const EncodableList* list = ReadList(map, key);
  if (!list) return false;
  for (const EncodableValue& element : *list) {
    const std::string* path = element.GetIf<std::string>();
    if (!path) return false;
    paths.push_back(*path);
  }
  return true;
}

std::optional<double> ReadEffectNumber(const EncodableMap& map, const char* key,
                                       GridMethod method) {
  return method == GridMethod::kAsync ? ReadDoubleOrInt32(map, key) : ReadDouble(map, key);
}

}  // namespace

GridImageEffects ParseGridImageEffects(const EncodableValue& entry, GridMethod method) {
  GridImageEffects effects;
  const EncodableMap* map = entry.GetIf<EncodableMap>();
  if (!map) return effects;
  struct Field {
    const char* key;
    float GridImageEffects::*field;
  };
  static constexpr Field kFields[] = {
      {"brightness", &GridImageEffects::brightness},
      {"contrast", &GridImageEffects::contrast},
      {"saturation", &GridImageEffects::saturation},
      {"exposure", &GridImageEffects::exposure},
      {"grayscale", &GridImageEffects::grayscale},
      {"temperature", &GridImageEffects::temperature},
      {"sharpness", &GridImageEffects::sharpness},
      {"scale", &GridImageEffects::scale},
      {"offsetX", &GridImageEffects::offsetX},
      {"offsetY", &GridImageEffects::offsetY},
      {"viewportWidth", &GridImageEffects::viewportWidth},
      {"viewportHeight", &GridImageEffects::viewportHeight},
      {"stroke", &GridImageEffects::stroke},
      {"strokeScale", &GridImageEffects::strokeScale},
  };
  for (const Field& field : kFields) {
    if (const auto value = ReadEffectNumber(*map, field.key, method)) {
      effects.*field.field = static_cast<float>(*value);
    }
  }
  if (const auto color = ReadArgbFromDouble(*map, "strokeColor")) effects.strokeColor = *color;
  if (const auto external = ReadFlagFromDouble(*map, "strokeExternal")) {
    effects.strokeExternal = *external;
  }
  return effects;
}

std::optional<GridArgumentError> ParseGridRequest(const EncodableValue* arguments,
                                                  GridMethod method, GridRequest& request) {
  const EncodableMap* map = ArgumentsMap(arguments);
  if (!map) return GridArgumentError{"Expected map of arguments"};
  if (!FindValue(*map, "imagePaths") || !FindValue(*map, "outputPaths")) {
    return GridArgumentError{"Missing required parameters"};
  }
  for (const char* key : {"imagePaths", "outputPaths"}) {
    auto& paths = std::string_view(key) == "imagePaths" ? request.imagePaths : request.outputPaths;
    if (!ReadPathList(*map, key, paths)) {
      return GridArgumentError{std::string(key) + " must be a list of strings"};
    }
  }
  if (FindValue(*map, "framePaths") && !ReadPathList(*map, "framePaths", request.framePaths)) {
    return GridArgumentError{"framePaths must be a list of strings"};
  }

  struct Required {
    const char* key;
    std::int32_t GridRequest::*field;
  };
  static constexpr Required kRequired[] = {
      {"rows", &GridRequest::rows},
      {"columns", &GridRequest::columns},
      {"pageWidth", &GridRequest::pageWidth},
      {"pageHeight", &GridRequest::pageHeight},
      {"marginLeft", &GridRequest::marginLeft},
      {"marginRight", &GridRequest::marginRight},
      {"marginTop", &GridRequest::marginTop},
      {"marginBottom", &GridRequest::marginBottom},
  };
  for (const Required& required : kRequired) {
    const auto value = ReadInt32(*map, required.key);
    if (!value) {
      return GridArgumentError{std::string("Missing or invalid integer parameter: ") +
                               required.key};
    }
    request.*required.field = *value;
  }

  if (const auto quality = ReadInt32(*map, "jpegQuality")) request.jpegQuality = *quality;
  const auto showCutGrid = method == GridMethod::kWaiting ? ReadBoolOrInt32(*map, "showCutGrid")
                                                          : ReadBool(*map, "showCutGrid");
  if (showCutGrid) request.showCutGrid = *showCutGrid;
  if (const auto width = ReadDouble(*map, "cutGridWidthMm")) request.cutGridWidthMm = *width;
  if (const std::string* color = ReadString(*map, "cutGridColor")) request.cutGridColor = *color;

  if (const EncodableValue* effects = FindValue(*map, "imageEffects")) {
    const EncodableList* list = effects->GetIf<EncodableList>();
    if (!list && method == GridMethod::kAsync) {
      return GridArgumentError{"imageEffects must be a list"};
    }
    if (list) {
      for (const EncodableValue& entry : *list) {
        request.imageEffects.push_back(ParseGridImageEffects(entry, method));
      }
    }
  }
  if (method == GridMethod::kAsync) {
    if (const auto ratio = ReadDouble(*map, "magnetAspectRatio")) {
      request.magnetAspectRatio = *ratio;
    }
  }
  return std::nullopt;
}

}  // namespace runner::printing
