// The baking call's arguments read into a BakeRequest, each by its exact
// kind.
#include "bake_arguments.h"

#include <algorithm>

#include "arguments.h"

namespace runner {
namespace {

BakeEffects ParseEffects(const EncodableMap& map) {
  BakeEffects effects;
  struct Field {
    const char* key;
    float BakeEffects::*field;
  };
  static constexpr Field kFields[] = {
      {"exposure", &BakeEffects::exposure},       {"brightness", &BakeEffects::brightness},
      {"contrast", &BakeEffects::contrast},       {"saturation", &BakeEffects::saturation},
      {"grayscale", &BakeEffects::grayscale},     {"hue", &BakeEffects::hue},
      {"temperature", &BakeEffects::temperature}, {"blur", &BakeEffects::blur},
      {"sharpness", &BakeEffects::sharpness},     {"stroke", &BakeEffects::stroke},
      {"strokeScale", &BakeEffects::strokeScale},
  };
  for (const Field& field : kFields) {
    if (const auto value = ReadDouble(map, field.key)) {
      effects.*field.field = static_cast<float>(*value);
    }
  }
  if (const auto external = ReadFlagFromDouble(map, "strokeExternal")) {
    effects.strokeExternal = *external;
  }
  if (const auto color = ReadArgbFromDouble(map, "strokeColor")) effects.strokeColor = *color;
  return effects;
}

std::optional<BakeRequest> ParseRequest(const EncodableValue& entry) {
  const EncodableMap* map = entry.GetIf<EncodableMap>();
  if (!map) return std::nullopt;
  const std::string* source = ReadString(*map, "sourcePath");
  const auto width = ReadInt32(*map, "canvasWidth");
  const auto height = ReadInt32(*map, "canvasHeight");
  if (!source || !width || !height) return std::nullopt;
  BakeRequest request;
  request.sourcePath = *source;
  request.canvasWidth = *width;
  request.canvasHeight = *height;
  if (const std::string* frame = ReadString(*map, "framePath")) request.framePath = *frame;
  if (const auto scale = ReadDouble(*map, "imageScale")) request.imageScale = *scale;
  if (const auto x = ReadDouble(*map, "offsetX")) request.offsetX = *x;
  if (const auto y = ReadDouble(*map, "offsetY")) request.offsetY = *y;
  if (const auto rotate = ReadBool(*map, "rotateForOutput")) request.rotateForOutput = *rotate;
  if (const EncodableMap* effects = ReadMap(*map, "effects"))
    request.effects = ParseEffects(*effects);
  return request;
}

}  // namespace

std::optional<BakeArgumentError> ParseBakeArguments(const EncodableValue* arguments,
                                                    BakeArguments& parsed) {
  const EncodableMap* map = ArgumentsMap(arguments);
  if (!map) return BakeArgumentError{"INVALID_ARGUMENTS", "Expected map of arguments"};
  const EncodableList* requests = ReadList(*map, "requests");
  if (!requests) {
    return BakeArgumentError{"INVALID_ARGUMENTS", "Missing or invalid 'requests' parameter"};
  }
  for (const EncodableValue& entry : *requests) {
    if (auto request = ParseRequest(entry)) parsed.requests.push_back(std::move(*request));
  }
  if (const auto threads = ReadInt32(*map, "maxThreads")) parsed.maxThreads = *threads;
  if (const auto quality = ReadInt32(*map, "jpegQuality")) parsed.jpegQuality = *quality;
  parsed.jpegQuality = std::clamp(parsed.jpegQuality, 1, 100);
  if (parsed.requests.empty()) {
    return BakeArgumentError{"NO_REQUESTS", "No valid bake requests found"};
  }
  return std::nullopt;
}

}  // namespace runner
