#include "messenger_double.h"

#include <map>
#include <mutex>

struct FlutterDesktopMessenger {
  int unused = 0;
};

namespace messenger_double {
namespace {

struct Callback {
  FlutterDesktopMessageCallback function = nullptr;
  void* userData = nullptr;
};

struct State {
  std::recursive_mutex lock;
  int lockDepth = 0;
  bool available = true;
  int references = 0;
  int unlockedSends = 0;
  std::map<std::string, Callback> callbacks;
  std::vector<std::string> registrations;
  std::vector<Response> responses;
  std::map<const FlutterDesktopMessageResponseHandle*, std::string> openHandles;
  std::uintptr_t nextHandle = 0x1000;
};

State& TheState() {
  static State state;
  return state;
}

FlutterDesktopMessenger theMessenger;

}  // namespace

FlutterDesktopMessengerRef Messenger() { return &theMessenger; }

void Reset() {
  State& s = TheState();
  s.available = true;
  s.references = 0;
  s.unlockedSends = 0;
  s.callbacks.clear();
  s.registrations.clear();
  s.responses.clear();
  s.openHandles.clear();
}

void SetAvailable(bool available) { TheState().available = available; }

bool Deliver(const std::string& channel, const std::vector<std::uint8_t>& message) {
  State& s = TheState();
  const auto found = s.callbacks.find(channel);
  if (found == s.callbacks.end()) return false;
  const auto* handle = reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(s.nextHandle++);
  s.openHandles[handle] = channel;
  FlutterDesktopMessage record{sizeof(FlutterDesktopMessage), channel.c_str(), message.data(),
                               message.size(), handle};
  const Callback callback = found->second;
  callback.function(&theMessenger, &record, callback.userData);
  return true;
}

std::vector<Response> Responses() { return TheState().responses; }
std::vector<std::string> Registrations() { return TheState().registrations; }
bool HasCallback(const std::string& channel) { return TheState().callbacks.count(channel) > 0; }
int OutstandingReferences() { return TheState().references; }
int UnlockedSends() { return TheState().unlockedSends; }

}  // namespace messenger_double

using messenger_double::TheState;

extern "C" {

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef, const char*, const uint8_t*,
                                 const size_t) {
  return false;
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef, const char*, const uint8_t*,
                                          const size_t, const FlutterDesktopBinaryReply, void*) {
  return false;
}

void FlutterDesktopMessengerSendResponse(FlutterDesktopMessengerRef,
                                         const FlutterDesktopMessageResponseHandle* handle,
                                         const uint8_t* data, size_t data_length) {
  auto& s = TheState();
  if (s.lockDepth == 0) ++s.unlockedSends;
  const auto open = s.openHandles.find(handle);
  // A handle answered twice, or never issued, is the caller's fault: record
  // it under an empty channel name so a test sees it.
  std::string channel;
  if (open != s.openHandles.end()) {
    channel = open->second;
    s.openHandles.erase(open);
  }
  s.responses.push_back({channel, std::vector<std::uint8_t>(data, data + data_length)});
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef, const char* channel,
                                        FlutterDesktopMessageCallback callback, void* user_data) {
  auto& s = TheState();
  if (callback) {
    s.callbacks[channel] = {callback, user_data};
    s.registrations.push_back(channel);
  } else {
    s.callbacks.erase(channel);
    s.registrations.push_back(std::string(channel) + " (removed)");
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  ++TheState().references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef) { --TheState().references; }

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef) { return TheState().available; }

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  auto& s = TheState();
  s.lock.lock();
  ++s.lockDepth;
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef) {
  auto& s = TheState();
  --s.lockDepth;
  s.lock.unlock();
}

}  // extern "C"
