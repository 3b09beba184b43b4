// A top-level window whose messages go to virtual operations. FlutterWindow
// derives from it and fills the window with the engine's view.
#pragma once

#include <windows.h>

#include <string>

namespace runner {

class Win32Window {
 public:
  struct Point {
    unsigned int x;
    unsigned int y;
  };
  struct Size {
    unsigned int width;
    unsigned int height;
  };

  Win32Window();
  virtual ~Win32Window();
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window, hidden, at `origin` with `size` in units of 96 dots
  // per inch, scaled for the monitor the origin lies on; then runs OnCreate.
  // False when the window or its content cannot be made.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);

  // Destroys the window (running OnDestroy first).
  void Destroy();

  HWND GetHandle() const { return window_; }
  // Posts WM_QUIT when the window is destroyed.
  void SetQuitOnClose(bool quitOnClose) { quitOnClose_ = quitOnClose; }

  // The window's client area, or an empty rectangle before creation.
  RECT GetClientArea() const;

 protected:
  virtual LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Called once the window exists; false makes creation fail.
  virtual bool OnCreate();
  virtual void OnDestroy();

  // Makes `content` a child filling the client area, with the focus.
  void SetChildContent(HWND content);

 private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static Win32Window* GetThisFromHandle(HWND window);
  static void ApplyTheme(HWND window);

  bool quitOnClose_ = false;
  HWND window_ = nullptr;
  HWND childContent_ = nullptr;
};

}  // namespace runner
