// Test double of the engine's messenger. One messenger per process; tests
// call Reset() first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flutter_messenger.h"

#if defined(_WIN32)
#if defined(MESSENGER_DOUBLE_BUILD)
#define MESSENGER_DOUBLE_API __declspec(dllexport)
#else
#define MESSENGER_DOUBLE_API __declspec(dllimport)
#endif
#else
#define MESSENGER_DOUBLE_API
#endif

namespace messenger_double {

struct Response {
  std::string channel;  // of the message the response answers
  std::vector<std::uint8_t> data;
};

MESSENGER_DOUBLE_API FlutterDesktopMessengerRef Messenger();
MESSENGER_DOUBLE_API void Reset();
// What IsAvailable answers from now on.
MESSENGER_DOUBLE_API void SetAvailable(bool available);

// Delivers a message to the channel's callback as the engine would. False
// when no callback is registered for the channel.
MESSENGER_DOUBLE_API bool Deliver(const std::string& channel,
                                  const std::vector<std::uint8_t>& message);

MESSENGER_DOUBLE_API std::vector<Response> Responses();
// Every SetCallback call, as "channel" or "channel (removed)".
MESSENGER_DOUBLE_API std::vector<std::string> Registrations();
MESSENGER_DOUBLE_API bool HasCallback(const std::string& channel);
// References taken with AddRef and not yet released.
MESSENGER_DOUBLE_API int OutstandingReferences();
// Responses sent while the lock was not held.
MESSENGER_DOUBLE_API int UnlockedSends();

}  // namespace messenger_double
