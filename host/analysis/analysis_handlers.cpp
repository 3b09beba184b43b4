// The photo-analysis calls: arguments read and checked, the platform asked,
// answers built.
#include "analysis_handlers.h"

#include "arguments.h"
#include "imaging/reading/exif.h"
#include "imaging/reading/photo_reader.h"
#include "reader_photos.h"

namespace runner {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

// The arguments of a call to `method`, which every analysis handler wants as
// a map. A call to another method is answered not-implemented and one whose
// arguments are no map is answered null; both give null here.
const EncodableMap* ArgumentsOf(const MethodCall& call, const char* method,
                                std::unique_ptr<MethodResult>& result) {
  if (call.method_name() != method) {
    result->NotImplemented();
    return nullptr;
  }
  const auto* arguments = call.arguments()->GetIf<EncodableMap>();
  if (!arguments) result->Success();
  return arguments;
}

}  // namespace

EncodableValue FaceEntry(const std::string& path, const std::vector<FaceBox>& faces,
                         const std::string& debugInfo) {
  EncodableList boxes;
  for (const FaceBox& face : faces) {
    boxes.push_back(EncodableValue(EncodableMap{{S("left"), EncodableValue(face.left)},
                                                {S("top"), EncodableValue(face.top)},
                                                {S("width"), EncodableValue(face.width)},
                                                {S("height"), EncodableValue(face.height)}}));
  }
  return EncodableValue(EncodableMap{{S("imagePath"), EncodableValue(path)},
                                     {S("faces"), EncodableValue(std::move(boxes))},
                                     {S("debugInfo"), EncodableValue(debugInfo)}});
}

void HandleDetectFaces(const MethodCall& call, std::unique_ptr<MethodResult> result, void* window,
                       const FaceWorkerStarter& startWorker,
                       const std::function<void(const std::string&)>& debuggerLine) {
  const EncodableMap* arguments = ArgumentsOf(call, "detectFacesWindows", result);
  if (!arguments) return;
  const EncodableValue* list = FindValue(*arguments, "imagePaths");
  if (!list || !list->Is<EncodableList>()) {
    result->Success(EncodableValue(EncodableList{}));
    return;
  }
  auto job = std::make_unique<FaceDetectionJob>();
  for (const EncodableValue& element : list->Get<EncodableList>()) {
    if (const auto* path = element.GetIf<std::string>()) job->paths.push_back(*path);
  }
  debuggerLine(FaceChannelLine(job->paths));
  job->window = window;
  job->result = std::move(result);
  if (startWorker(job)) return;
  // No worker: answered here, once, with an entry for every photo.
  debuggerLine("FD: failed to start the worker thread\n");
  EncodableList entries;
  for (const std::string& path : job->paths) {
    entries.push_back(FaceEntry(path, {}, "FD: worker_start_failed"));
  }
  job->result->Success(EncodableValue(std::move(entries)));
}

void HandleGetThumbnail(const MethodCall& call, std::unique_ptr<MethodResult> result,
                        const ThumbnailMaker& makeThumbnail) {
  const EncodableMap* arguments = ArgumentsOf(call, "getThumbnail", result);
  if (!arguments) return;
  const std::string* path = ReadPlatformText(*arguments, "path");
  const int width = ReadInt32(*arguments, "width").value_or(0);
  const int height = ReadInt32(*arguments, "height").value_or(0);
  const double scale = ReadDoubleOrInt32(*arguments, "scale").value_or(1.0);
  if (!path || path->empty() || width < 1 || height < 1) {
    result->Success();
    return;
  }
  const std::optional<PixelSize> size = ThumbnailPixelSize(width, height, scale);
  if (!size) {
    result->Success();
    return;
  }
  if (std::optional<std::vector<std::uint8_t>> png = makeThumbnail(*path, *size)) {
    result->Success(EncodableValue(std::move(*png)));
  } else {
    result->Success();
  }
}

std::optional<PhotoHeader> ReaderPhotoHeader(const std::string& path) {
  if (!ReaderTakes(path)) return std::nullopt;
  const std::optional<sheetsmith::PhotoOutline> outline = sheetsmith::OutlinePhoto(path);
  if (!outline) return std::nullopt;
  PhotoHeader header;
  header.width = static_cast<std::uint32_t>(outline->width);
  header.height = static_cast<std::uint32_t>(outline->height);
  // The sides are as displayed already: no orientation is left to apply.
  header.hasMetadata = true;
  const sheetsmith::ExifTimes times = sheetsmith::ExifTimesFromTiff(
      reinterpret_cast<const std::uint8_t*>(outline->exif.data()), outline->exif.size());
  header.dateTaken = times.taken;
  header.dateChanged = times.changed;
  return header;
}

EncodableValue QuickMetaAnswer(const PhotoHeader& header) {
  std::int32_t width = static_cast<std::int32_t>(header.width);
  std::int32_t height = static_cast<std::int32_t>(header.height);
  EncodableMap answer;
  if (header.hasMetadata) {
    if (header.orientation && OrientationSwapsSides(*header.orientation)) std::swap(width, height);
    const std::optional<std::string>& text =
        header.dateTaken ? header.dateTaken : header.dateChanged;
    if (text) {
      if (const std::optional<std::int64_t> millis = CaptureMillisFromExifText(text->c_str())) {
        answer[S("capturedAtMillis")] = EncodableValue(*millis);
      }
    }
  }
  answer[S("width")] = EncodableValue(width);
  answer[S("height")] = EncodableValue(height);
  return EncodableValue(std::move(answer));
}

void HandleGetQuickMeta(const MethodCall& call, std::unique_ptr<MethodResult> result,
                        const PhotoHeaderReader& readHeader) {
  const EncodableMap* arguments = ArgumentsOf(call, "getQuickMeta", result);
  if (!arguments) return;
  const std::string* path = ReadPlatformText(*arguments, "path");
  if (!path || path->empty()) {
    result->Success();
    return;
  }
  if (const std::optional<PhotoHeader> header = readHeader(*path)) {
    result->Success(QuickMetaAnswer(*header));
  } else {
    result->Success();
  }
}

}  // namespace runner
