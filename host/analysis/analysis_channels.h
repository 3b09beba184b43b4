// The photo-analysis channels: thumbnails, quick metadata and face rectangles.
#pragma once

#include <functional>
#include <memory>

#include "flutter_messenger.h"
#include "method_channel.h"

namespace runner {

inline constexpr const char kThumbnailChannelName[] = "thumbnail_channel";
inline constexpr const char kMediaInfoChannelName[] = "media_info_channel";
inline constexpr const char kFaceRectsChannelName[] = "face_rects_channel";

std::unique_ptr<MethodChannel> CreateThumbnailChannel(FlutterDesktopMessengerRef messenger);
std::unique_ptr<MethodChannel> CreateMediaInfoChannel(FlutterDesktopMessengerRef messenger);

// `windowHandle` gives the main window's handle when a call arrives; face
// detection answers through a message posted to it.
std::unique_ptr<MethodChannel> CreateFaceRectsChannel(FlutterDesktopMessengerRef messenger,
                                                      std::function<void*()> windowHandle);

}  // namespace runner
