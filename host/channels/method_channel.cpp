// Method channels on the engine's messenger: calls decoded and routed to the
// handler, and answers sent back.
#include "method_channel.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

#include "engine_method_result.h"

namespace runner {
namespace {

void WriteErrorLine(const std::string& line) {
  std::fputs(line.c_str(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

// The one-shot reply of one message. The handle is taken atomically, so the
// channel can ask whether the answer has gone while a worker may answer it.
class ResponseSender {
 public:
  ResponseSender(FlutterDesktopMessengerRef messenger,
                 const FlutterDesktopMessageResponseHandle* handle)
      : messenger_(messenger), handle_(handle) {}

  void Send(const std::uint8_t* data, std::size_t size) {
    const FlutterDesktopMessageResponseHandle* handle = handle_.exchange(nullptr);
    if (!handle) {
      std::fputs("Error: Response can be set only once. Ignoring duplicate response.\n", stderr);
      std::fflush(stderr);
      return;
    }
    FlutterDesktopMessengerRef locked = FlutterDesktopMessengerLock(messenger_.get());
    if (FlutterDesktopMessengerIsAvailable(locked)) {
      FlutterDesktopMessengerSendResponse(locked, handle, data, size);
    }
    FlutterDesktopMessengerUnlock(locked);
  }

  bool used() const { return handle_.load() == nullptr; }

 private:
  MessengerRef messenger_;
  std::atomic<const FlutterDesktopMessageResponseHandle*> handle_;
};

BinaryReply ReplyThrough(std::shared_ptr<ResponseSender> sender) {
  return [sender = std::move(sender)](const std::uint8_t* data, std::size_t size) {
    sender->Send(data, size);
  };
}

// Which registration each channel name of each messenger currently belongs
// to. The messenger keeps one callback a name and cannot be asked for it, so
// a channel that is destroyed after a newer one took its name must leave the
// newer registration alone.
class RegistrationOwners {
 public:
  static RegistrationOwners& Get() {
    static RegistrationOwners owners;
    return owners;
  }
  void Claim(FlutterDesktopMessengerRef messenger, const std::string& name, const void* owner) {
    std::lock_guard<std::mutex> guard(mutex_);
    owners_[{messenger, name}] = owner;
  }
  // True, and forgotten, when `owner` still holds the name.
  bool Release(FlutterDesktopMessengerRef messenger, const std::string& name, const void* owner) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = owners_.find({messenger, name});
    if (found == owners_.end() || found->second != owner) return false;
    owners_.erase(found);
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<std::pair<FlutterDesktopMessengerRef, std::string>, const void*> owners_;
};

}  // namespace

BinaryReply MakeResponseSender(FlutterDesktopMessengerRef messenger,
                               const FlutterDesktopMessageResponseHandle* handle) {
  return ReplyThrough(std::make_shared<ResponseSender>(messenger, handle));
}

MethodChannel::MethodChannel(FlutterDesktopMessengerRef messenger, std::string name,
                             const StandardMethodCodec* codec)
    : messenger_(messenger), name_(std::move(name)), codec_(codec) {}

MethodChannel::~MethodChannel() {
  if (!registration_) return;
  if (!RegistrationOwners::Get().Release(messenger_.get(), name_, registration_.get())) return;
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
    if (registration_ &&
        RegistrationOwners::Get().Release(messenger_.get(), name_, registration_.get())) {
      FlutterDesktopMessengerSetCallback(messenger_.get(), name_.c_str(), nullptr, nullptr);
    }
    registration_.reset();
    return;
  }
  auto registration = std::make_unique<Registration>(Registration{this, std::move(handler)});
  FlutterDesktopMessengerSetCallback(messenger_.get(), name_.c_str(), &MethodChannel::OnMessage,
                                     registration.get());
  RegistrationOwners::Get().Claim(messenger_.get(), name_, registration.get());
  // The messenger now points at the new registration; the old one can go.
  registration_ = std::move(registration);
}

void MethodChannel::OnMessage(FlutterDesktopMessengerRef, const FlutterDesktopMessage* message,
                              void* userData) {
  auto* registration = static_cast<Registration*>(userData);
  if (!registration || !message) return;
  // Nothing may unwind into the engine, which calls this from C.
  try {
    // A copy, so that a handler that replaces itself keeps running safely.
    const MethodCallHandler handler = registration->handler;
    registration->channel->Dispatch(*message, handler);
  } catch (...) {
    WriteErrorLine("ERROR: Unhandled exception on channel " + registration->channel->name());
  }
}

void MethodChannel::Dispatch(const FlutterDesktopMessage& message,
                             const MethodCallHandler& handler) {
  auto sender = std::make_shared<ResponseSender>(messenger_.get(), message.response_handle);
  auto result = std::make_unique<EngineMethodResult>(ReplyThrough(sender), codec_);
  std::string failure;
  try {
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
    return;
  } catch (const std::exception& exception) {
    failure = exception.what();
  } catch (...) {
    failure = "Unknown exception";
  }
  WriteErrorLine("ERROR: Exception on channel " + name_ + ": " + failure);
  // The handler may have answered before it threw; a second answer would
  // only be refused.
  if (result) {
    result->Error("INTERNAL_ERROR", failure);
  } else if (!sender->used()) {
    const std::vector<std::uint8_t> error =
        codec_->EncodeErrorEnvelope("INTERNAL_ERROR", failure, nullptr);
    sender->Send(error.data(), error.size());
  }
}

}  // namespace runner
