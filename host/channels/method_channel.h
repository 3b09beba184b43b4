// A named method channel on the engine's messenger.
//
// Each message for the channel's name arrives on the platform thread. It is
// decoded into a MethodCall and handed to the handler together with an
// exclusively owned result, which the handler must answer exactly once. A
// message that is no method call is answered not-implemented after the line
// "Unable to construct method call from message on channel " and the name.
//
// Answers are sent under the messenger's lock, and dropped when the engine is
// no longer available, so a result may be answered from any thread and after
// the engine has begun to shut down.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine_method_result.h"
#include "flutter_messenger.h"
#include "method_call.h"
#include "method_result.h"
#include "standard_codec.h"

namespace runner {

using MethodCallHandler =
    std::function<void(const MethodCall& call, std::unique_ptr<MethodResult> result)>;

// Holds a reference on the messenger for as long as it lives.
class MessengerRef {
 public:
  explicit MessengerRef(FlutterDesktopMessengerRef messenger)
      : messenger_(messenger ? FlutterDesktopMessengerAddRef(messenger) : nullptr) {}
  ~MessengerRef() {
    if (messenger_) FlutterDesktopMessengerRelease(messenger_);
  }
  MessengerRef(const MessengerRef& other) : MessengerRef(other.messenger_) {}
  MessengerRef& operator=(const MessengerRef&) = delete;

  FlutterDesktopMessengerRef get() const { return messenger_; }

 private:
  FlutterDesktopMessengerRef messenger_;
};

class MethodChannel {
 public:
  MethodChannel(FlutterDesktopMessengerRef messenger, std::string name,
                const StandardMethodCodec* codec = &StandardMethodCodec::GetInstance());
  ~MethodChannel();
  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  const std::string& name() const { return name_; }

  // Registers the handler with the messenger, replacing an earlier one; an
  // empty handler removes the registration.
  void SetMethodCallHandler(MethodCallHandler handler);

 private:
  struct Registration {
    MethodChannel* channel;
    MethodCallHandler handler;
  };
  static void OnMessage(FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
                        void* userData);
  void Dispatch(const FlutterDesktopMessage& message, const MethodCallHandler& handler);

  MessengerRef messenger_;
  std::string name_;
  const StandardMethodCodec* codec_;
  std::unique_ptr<Registration> registration_;
};

// The reply function of one message: sends at most one response on the
// message's handle, under the messenger's lock, and only while the messenger
// is available. A second use writes "Error: Response can be set only once.
// Ignoring duplicate response." and sends nothing.
BinaryReply MakeResponseSender(FlutterDesktopMessengerRef messenger,
                               const FlutterDesktopMessageResponseHandle* handle);

}  // namespace runner
