// The top-level window's class, creation, DPI scaling and message routing to
// its virtual operations.
#include "win32_window.h"

#include <dwmapi.h>

#include "flutter_windows.h"
#include "resource.h"

namespace runner {
namespace {

constexpr const wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// DWMWA_USE_IMMERSIVE_DARK_MODE; older SDK headers do not name it.
constexpr DWORD kUseImmersiveDarkMode = 20;

constexpr const wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr const wchar_t kLightThemeValue[] = L"AppsUseLightTheme";

// Live Win32Window objects; the class is unregistered when the last one goes.
int liveWindowCount = 0;
bool classRegistered = false;

int Scale(int value, double scale) { return static_cast<int>(value * scale); }

// Non-client DPI scaling, where this Windows has it (Windows 10 1607 on).
void EnableFullDpiSupportIfAvailable(HWND window) {
  HMODULE user32 = LoadLibraryA("User32.dll");
  if (!user32) return;
  using EnableNonClientDpiScaling = BOOL(WINAPI*)(HWND);
  auto enable = reinterpret_cast<EnableNonClientDpiScaling>(
      reinterpret_cast<void*>(GetProcAddress(user32, "EnableNonClientDpiScaling")));
  if (enable) enable(window);
  FreeLibrary(user32);
}

}  // namespace

Win32Window::Win32Window() { ++liveWindowCount; }

Win32Window::~Win32Window() {
  --liveWindowCount;
  Destroy();
  if (liveWindowCount == 0 && classRegistered) {
    UnregisterClassW(kWindowClassName, nullptr);
    classRegistered = false;
  }
}

bool Win32Window::Create(const std::wstring& title, const Point& origin, const Size& size) {
  Destroy();

  if (!classRegistered) {
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &Win32Window::WndProc;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(IDI_APP_ICON));
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kWindowClassName;
    RegisterClassW(&windowClass);
    classRegistered = true;
  }

  const POINT target = {static_cast<LONG>(origin.x), static_cast<LONG>(origin.y)};
  HMONITOR monitor = MonitorFromPoint(target, MONITOR_DEFAULTTONEAREST);
  const double scale = FlutterDesktopGetDpiForMonitor(monitor) / 96.0;

  HWND window =
      CreateWindowExW(0, kWindowClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                      Scale(origin.x, scale), Scale(origin.y, scale), Scale(size.width, scale),
                      Scale(size.height, scale), nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (!window) return false;

  ApplyTheme(window);
  return OnCreate();
}

void Win32Window::Destroy() {
  OnDestroy();
  if (window_) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
}

RECT Win32Window::GetClientArea() const {
  RECT frame = {};
  if (window_) GetClientRect(window_, &frame);
  return frame;
}

void Win32Window::SetChildContent(HWND content) {
  childContent_ = content;
  SetParent(content, window_);
  const RECT frame = GetClientArea();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left, frame.bottom - frame.top,
             TRUE);
  SetFocus(childContent_);
}

LRESULT CALLBACK Win32Window::WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Win32Window*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    EnableFullDpiSupportIfAvailable(window);
    self->window_ = window;
  } else if (Win32Window* self = GetThisFromHandle(window)) {
    return self->MessageHandler(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

Win32Window* Win32Window::GetThisFromHandle(HWND window) {
  return reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

LRESULT Win32Window::MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DESTROY:
      window_ = nullptr;
      OnDestroy();
      if (quitOnClose_) PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      if (childContent_) {
        const RECT frame = GetClientArea();
        MoveWindow(childContent_, frame.left, frame.top, frame.right - frame.left,
                   frame.bottom - frame.top, TRUE);
      }
      return 0;
    case WM_ACTIVATE:
      if (childContent_) SetFocus(childContent_);
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplyTheme(window);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

bool Win32Window::OnCreate() { return true; }

void Win32Window::OnDestroy() {}

void Win32Window::ApplyTheme(HWND window) {
  DWORD light = 0;
  DWORD size = sizeof(light);
  const LSTATUS read = RegGetValueW(HKEY_CURRENT_USER, kThemeKey, kLightThemeValue,
                                    RRF_RT_REG_DWORD, nullptr, &light, &size);
  if (read != ERROR_SUCCESS) return;
  const BOOL dark = light == 0 ? TRUE : FALSE;
  DwmSetWindowAttribute(window, kUseImmersiveDarkMode, &dark, sizeof(dark));
}

}  // namespace runner
