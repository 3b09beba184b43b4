#include "method_channel.h"

#include <cstdio>

#include "engine_method_result.h"

namespace runner {

BinaryReply MakeResponseSender(FlutterDesktopMessengerRef messenger,
                               const FlutterDesktopMessageResponseHandle* handle) {
  struct Sender {
    MessengerRef messenger;
    const FlutterDesktopMessageResponseHandle* handle;
  };
  auto sender = std::make_shared<Sender>(Sender{MessengerRef(messenger), handle});
  return [sender](const std::uint8_t* data, std::size_t size) {
    if (!sender->handle) {
      std::fputs("Error: Response can be set only once. Ignoring duplicate response.\n", stderr);
      std::fflush(stderr);
      return;
    }
    const FlutterDesktopMessageResponseHandle* handle = sender->handle;
    sender->handle = nullptr;
    FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(sender->messenger.get());
    if (FlutterDesktopMessengerIsAvailable(locked)) {
      FlutterDesktopMessengerSendResponse(locked, handle, data, size);
    }
    FlutterDesktopMessengerUnlock(locked);
  };
}

MethodChannel::MethodChannel(FlutterDesktopMessengerRef messenger, std::string name,
                             const StandardMethodCodec* codec)
    : messenger_(messenger), name_(std::move(name)), codec_(codec) {}

MethodChannel::~MethodChannel() {
  if (!registration_) return;
  // The engine may already be gone when the window that owns the channel is
  // destroyed; only a live messenger is told to forget the callback.
  FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger_.get());
  if (FlutterDesktopMessengerIsAvailable(locked)) {
    FlutterDesktopMessengerSetCallback(locked, name_.c_str(), nullptr, nullptr);
  }
  FlutterDesktopMessengerUnlock(locked);
}

void MethodChannel::SetMethodCallHandler(MethodCallHandler handler) {
  if (!handler) {
    FlutterDesktopMessengerSetCallback(messenger_.get(), name_.c_str(), nullptr, nullptr);
    registration_.reset();
    return;
  }
  auto registration = std::make_unique<Registration>(Registration{this, std::move(handler)});
  FlutterDesktopMessengerSetCallback(messenger_.get(), name_.c_str(), &MethodChannel::OnMessage,
                                     registration.get());
  // The messenger now points at the new registration; the old one can go.
  registration_ = std::move(registration);
}

void MethodChannel::OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
                              void* userData) {
  auto* registration = static_cast<Registration*>(userData);
  if (!registration || !message) return;
  // A copy, so that a handler that replaces itself keeps running safely.
  const MethodCallHandler handler = registration->handler;
  registration->channel->Dispatch(*message, handler);
}

void MethodChannel::Dispatch(const FlutterDesktopMessage& message,
                             const MethodCallHandler& handler) {
  auto result = std::make_unique<EngineMethodResult>(
      MakeResponseSender(messenger_.get(), message.response_handle), codec_);
  std::unique_ptr<MethodCall> call =
      codec_->DecodeMethodCall(message.message, message.message_size);
  if (!call) {
    std::fprintf(stderr, "Unable to construct method call from message on channel %s\n",
                 name_.c_str());
    std::fflush(stderr);
    result->NotImplemented();
    return;
  }
  handler(*call, std::move(result));
}

}  // namespace runner
