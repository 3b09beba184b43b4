// The handlers of the photo-analysis channels. They read their arguments and
// build their answers here; what needs the platform (starting the face
// worker, the shell's thumbnail, the imaging metadata) is passed in, so that
// the rules are tested on any machine.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis_rules.h"
#include "encodable_value.h"
#include "method_call.h"
#include "method_result.h"

namespace runner {

// What the face-detection handler gives its worker thread.
struct FaceDetectionJob {
  void* window = nullptr;  // the main window, to post the answer to
  std::unique_ptr<MethodResult> result;
  std::vector<std::string> paths;  // UTF-8, as they arrived
};

// Starts the worker for a job and takes it; false, leaving the job with the
// caller, when no thread could be started.
using FaceWorkerStarter = std::function<bool(std::unique_ptr<FaceDetectionJob>& job)>;

// One face box in the photo's oriented pixels.
struct FaceBox {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;
};

// One entry of the answer: {"imagePath", "faces", "debugInfo"}.
EncodableValue FaceEntry(const std::string& path, const std::vector<FaceBox>& faces,
                         const std::string& debugInfo);

// "detectFacesWindows" on "face_rects_channel". Answers at once only for
// arguments it cannot use, or when the worker cannot start (then every path
// gets an entry with no faces and "FD: worker_start_failed").
void HandleDetectFaces(const MethodCall& call, std::unique_ptr<MethodResult> result, void* window,
                       const FaceWorkerStarter& startWorker,
                       const std::function<void(const std::string&)>& debuggerLine);

// The PNG file of a photo's thumbnail at a pixel size, or nullopt.
using ThumbnailMaker =
    std::function<std::optional<std::vector<std::uint8_t>>(const std::string& path, PixelSize)>;

// "getThumbnail" on "thumbnail_channel".
void HandleGetThumbnail(const MethodCall& call, std::unique_ptr<MethodResult> result,
                        const ThumbnailMaker& makeThumbnail);

// What the imaging component tells of a photo's first frame.
struct PhotoHeader {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool hasMetadata = false;                // a metadata reader was had
  std::optional<int> orientation;          // the EXIF orientation, when a VT_UI2
  std::optional<std::string> dateTaken;    // DateTimeOriginal, when a VT_LPSTR
  std::optional<std::string> dateChanged;  // TIFF DateTime, when a VT_LPSTR
};

// The header of a photo as the shared reader finds it (ReaderTakes), without
// decoding its pixels where the format allows: its size as displayed, and
// the times of its EXIF block (a HEIF file's Exif item, a WebP file's EXIF
// chunk, a JPEG's APP1 segment). Nullopt when the reader cannot read it.
std::optional<PhotoHeader> ReaderPhotoHeader(const std::string& path);

// The header of the photo at a path, or nullopt when it cannot be decoded.
using PhotoHeaderReader = std::function<std::optional<PhotoHeader>(const std::string& path)>;

// The "getQuickMeta" answer for a header: width and height (swapped for a
// quarter turn), and the capture time when one is found.
EncodableValue QuickMetaAnswer(const PhotoHeader& header);

// "getQuickMeta" on "media_info_channel".
void HandleGetQuickMeta(const MethodCall& call, std::unique_ptr<MethodResult> result,
                        const PhotoHeaderReader& readHeader);

}  // namespace runner
