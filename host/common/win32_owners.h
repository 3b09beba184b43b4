// Owners of Win32 handles, GDI objects and GDI+ objects: each platform
// resource is held by one of these, so it is released on every path.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <objbase.h>

#include <memory>
#include <type_traits>

namespace runner {

// Calls `Release` on the held pointer; a null pointer is never released.
template <auto Release>
struct CallRelease {
  template <typename T>
  void operator()(T* resource) const {
    Release(resource);
  }
};

template <typename T, auto Release>
using Unique = std::unique_ptr<T, CallRelease<Release>>;

// Kernel handles (processes, threads, pipes, files opened with CreateFileW).
// INVALID_HANDLE_VALUE must be turned into null before it is stored.
using UniqueHandle = Unique<void, &CloseHandle>;

inline UniqueHandle AdoptHandle(HANDLE handle) {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// A single-threaded COM apartment for the calling thread while it lives, as
// the shell's verbs (which may be COM shell extensions) and the imaging
// components ask. A thread already in an apartment keeps it.
class ComApartment {
 public:
  ComApartment()
      : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT result_;
};

}  // namespace runner
