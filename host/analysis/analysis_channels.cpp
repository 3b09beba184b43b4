// The three photo-analysis channels made on the engine's messenger, each with
// its handler.
#include "analysis_channels.h"

#include "analysis_handlers.h"
#include "face_worker.h"
#include "photo_views.h"

namespace runner {

std::unique_ptr<MethodChannel> CreateThumbnailChannel(FlutterDesktopMessengerRef messenger) {
  auto channel = std::make_unique<MethodChannel>(messenger, kThumbnailChannelName);
  channel->SetMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    HandleGetThumbnail(call, std::move(result), &MakeThumbnail);
  });
  return channel;
}

std::unique_ptr<MethodChannel> CreateMediaInfoChannel(FlutterDesktopMessengerRef messenger) {
  auto channel = std::make_unique<MethodChannel>(messenger, kMediaInfoChannelName);
  channel->SetMethodCallHandler([](const MethodCall& call, std::unique_ptr<MethodResult> result) {
    HandleGetQuickMeta(call, std::move(result), &ReadPhotoHeader);
  });
  return channel;
}

std::unique_ptr<MethodChannel> CreateFaceRectsChannel(FlutterDesktopMessengerRef messenger,
                                                      std::function<void*()> windowHandle) {
  auto channel = std::make_unique<MethodChannel>(messenger, kFaceRectsChannelName);
  channel->SetMethodCallHandler([windowHandle = std::move(windowHandle)](
                                    const MethodCall& call, std::unique_ptr<MethodResult> result) {
    HandleDetectFaces(call, std::move(result), windowHandle(), &StartFaceWorker,
                      &WriteDebuggerLine);
  });
  return channel;
}

}  // namespace runner
