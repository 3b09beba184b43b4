#include "analysis_channels.h"

namespace runner {
namespace {

// Until its handlers are built, a channel answers every method not-implemented.
std::unique_ptr<MethodChannel> CreateWaitingChannel(FlutterDesktopMessengerRef messenger,
                                                    const char* name) {
  auto channel = std::make_unique<MethodChannel>(messenger, name);
  channel->SetMethodCallHandler(
      [](const MethodCall&, std::unique_ptr<MethodResult> result) { result->NotImplemented(); });
  return channel;
}

}  // namespace

std::unique_ptr<MethodChannel> CreateThumbnailChannel(FlutterDesktopMessengerRef messenger) {
  return CreateWaitingChannel(messenger, kThumbnailChannelName);
}

std::unique_ptr<MethodChannel> CreateMediaInfoChannel(FlutterDesktopMessengerRef messenger) {
  return CreateWaitingChannel(messenger, kMediaInfoChannelName);
}

std::unique_ptr<MethodChannel> CreateFaceRectsChannel(FlutterDesktopMessengerRef messenger,
                                                      std::function<void*()> /*windowHandle*/) {
  return CreateWaitingChannel(messenger, kFaceRectsChannelName);
}

}  // namespace runner
