// The engine's messenger: the part of the Flutter engine library's C
// interface through which channel messages arrive and answers leave. Names
// and signatures are the engine's published ones, so that the engine's own
// header can stand in for this one.
#ifndef KORVELA_FLUTTER_MESSENGER_H_
#define KORVELA_FLUTTER_MESSENGER_H_

#include <stddef.h>
#include <stdint.h>

#include "flutter_export.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;

// Opaque: identifies the message an answer belongs to. Each is answered once.
typedef struct _FlutterPlatformMessageResponseHandle FlutterDesktopMessageResponseHandle;

typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessengerRef /* messenger */,
                                              const FlutterDesktopMessage* /* message */,
                                              void* /* user data */);

FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                                const char* channel, const uint8_t* message,
                                                const size_t message_size);

FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef messenger, const char* channel, const uint8_t* message,
    const size_t message_size, const FlutterDesktopBinaryReply reply, void* user_data);

FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length);

// Registers `callback` for `channel`, replacing an earlier one; a null
// callback removes the registration.
FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                                       const char* channel,
                                                       FlutterDesktopMessageCallback callback,
                                                       void* user_data);

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger);

FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);

// False once the engine is gone; ask while holding the lock.
FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// Keeps the engine from shutting down until the matching unlock.
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger);

FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // KORVELA_FLUTTER_MESSENGER_H_
