// Export and import annotations of the Flutter engine library's C interface.
// Same macro as the engine's own header, so that header can replace this one.
#ifndef KORVELA_FLUTTER_EXPORT_H_
#define KORVELA_FLUTTER_EXPORT_H_

#ifdef FLUTTER_DESKTOP_LIBRARY
#ifdef _WIN32
#define FLUTTER_EXPORT __declspec(dllexport)
#else
#define FLUTTER_EXPORT __attribute__((visibility("default")))
#endif
#else
#ifdef _WIN32
#define FLUTTER_EXPORT __declspec(dllimport)
#else
#define FLUTTER_EXPORT
#endif
#endif

#endif  // KORVELA_FLUTTER_EXPORT_H_
