// A headless stand-in for the Flutter Windows engine library. It implements
// the engine's C interface far enough for the host to start, serve its
// channels and stop, and it plays the interface's side of the channels from
// a script, recording what the host does.
//
// Script (KORVELA_ENGINE_SCRIPT, else engine_script.txt beside the program),
// one command a line; blank lines and lines starting with # are skipped:
//   dpi N                      what FlutterDesktopGetDpiForMonitor answers (96)
//   refuse-view-controller     FlutterDesktopViewControllerCreate fails
//   call CHANNEL HEX           send the message bytes, wait for the answer
//   send CHANNEL HEX           send without waiting (answers are still recorded)
//   poll CHANNEL HEX PENDING   call again every 100 ms while the answer
//                              begins with PENDING (hex), at most 1200 times
//   wait-answers               wait until every sent message is answered
//   sleep MS                   let the host's message loop run for MS ms
//   face-results-null          send the face-results message with lParam 0
//   face-results VALUE         the same with lParam VALUE (decimal or 0x hex)
//   record-window              record the main window's visibility and rectangle
//   record-acp                 record the process's ANSI code page
//   keep-open                  do not close the main window at the end
// After the script the main window is closed (WM_CLOSE).
//
// Record (KORVELA_ENGINE_RECORD, else engine_record.txt beside the program),
// one event a line, flushed as it happens; answers as
//   answer STEP CHANNEL HEX    (HEX "-" for an empty answer)
// An answer sent from another thread than the platform thread (the one that
// created the engine) is recorded first as
//   answer-off-platform-thread STEP
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "flutter_windows.h"
#include "standin_record.h"

struct FlutterDesktopMessenger {
  int references = 1;
  bool available = true;
  std::recursive_mutex lock;
};

struct _FlutterPlatformMessageResponseHandle {
  int step;
  std::string channel;
  bool answered = false;
};

struct FlutterDesktopPluginRegistrar {
  std::string name;
};

struct FlutterDesktopEngine {
  FlutterDesktopMessenger* messenger = nullptr;
  VoidCallback nextFrame = nullptr;
  void* nextFrameData = nullptr;
  std::vector<FlutterDesktopPluginRegistrar*> registrars;
};

struct FlutterDesktopView {
  HWND window = nullptr;
};

struct FlutterDesktopViewControllerState {
  FlutterDesktopEngine* engine = nullptr;
  FlutterDesktopView view;
};

namespace {

constexpr UINT kFrameMessage = WM_APP + 0x100;
constexpr UINT kStepMessage = WM_APP + 0x101;
constexpr UINT_PTR kAnswerTimer = 1;
constexpr UINT kAnswerTimeoutMs = 120000;
constexpr UINT kFaceResultsMessage = 0x8001;

std::string Utf8(const wchar_t* text) {
  if (!text || !*text) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
  if (length > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring folder(path, length);
  const std::size_t slash = folder.find_last_of(L"\\/");
  return slash == std::wstring::npos ? L"." : folder.substr(0, slash);
}

std::wstring SettingPath(const wchar_t* variable, const wchar_t* fileName) {
  wchar_t value[MAX_PATH * 4];
  const DWORD length = GetEnvironmentVariableW(variable, value, MAX_PATH * 4);
  if (length > 0 && length < MAX_PATH * 4) return std::wstring(value, length);
  return ExeFolder() + L"\\" + fileName;
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
  }
  return bytes;
}

std::string ToHex(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return "-";
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 15];
  }
  return hex;
}

struct Callback {
  FlutterDesktopMessageCallback function = nullptr;
  void* userData = nullptr;
};

// Everything the stand-in knows, made on first use (the host asks for the
// DPI before it creates the engine).
class Player {
 public:
  static Player& Get() {
    static Player player;
    return player;
  }

  void Record(const std::string& line) {
    std::lock_guard<std::mutex> guard(recordMutex_);
    if (!record_) return;
    std::fputs(line.c_str(), record_);
    std::fputc('\n', record_);
    std::fflush(record_);
  }

  UINT dpi() const { return dpi_; }
  bool refuseViewController() const { return refuseViewController_; }

  FlutterDesktopMessenger messenger;
  std::map<std::string, Callback> callbacks;  // platform thread only
  HWND view = nullptr;
  FlutterDesktopEngine* engine = nullptr;
  DWORD platformThread = 0;

  void Start() { PostMessageW(view, kStepMessage, 0, 0); }

  void StopAnswerTimer() {
    if (!sleeping_) KillTimer(view, kAnswerTimer);
  }

  // A poll whose answer was still pending goes out again after a pause.
  bool Repoll() {
    std::lock_guard<std::mutex> guard(stateMutex_);
    if (!repoll_) return false;
    repoll_ = false;
    sleeping_ = true;
    resendPoll_ = true;
    SetTimer(view, kAnswerTimer, 100, nullptr);
    return true;
  }

  // The next step of the script, on the platform thread.
  void Step() {
    while (next_ < script_.size()) {
      const std::string line = script_[next_++];
      const std::size_t space = line.find(' ');
      const std::string command = line.substr(0, space);
      const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
      if (command == "call" || command == "send") {
        const bool wait = command == "call";
        if (Send(rest, wait) && wait) return;  // resumed by the answer
      } else if (command == "poll") {
        const std::size_t last = rest.rfind(' ');
        pollMessage_ = rest.substr(0, last);
        pollPending_ = rest.substr(last + 1);
        pollsLeft_ = 1200;
        if (Send(pollMessage_, true)) return;
      } else if (command == "wait-answers") {
        std::lock_guard<std::mutex> guard(stateMutex_);
        if (pending_ > 0) {
          waitingForAll_ = true;
          SetTimer(view, kAnswerTimer, kAnswerTimeoutMs, nullptr);
          return;
        }
      } else if (command == "sleep") {
        SetTimer(view, kAnswerTimer, static_cast<UINT>(std::atoi(rest.c_str())), nullptr);
        sleeping_ = true;
        return;
      } else if (command == "face-results-null") {
        const LRESULT result = SendMessageW(MainWindow(), kFaceResultsMessage, 0, 0);
        Record("face-results-null result=" + std::to_string(result));
      } else if (command == "face-results") {
        const LPARAM value = static_cast<LPARAM>(std::strtoull(rest.c_str(), nullptr, 0));
        const LRESULT result = SendMessageW(MainWindow(), kFaceResultsMessage, 0, value);
        Record("face-results " + rest + " result=" + std::to_string(result));
      } else if (command == "record-acp") {
        Record("acp " + std::to_string(GetACP()));
      } else if (command == "record-window") {
        RecordWindow("window");
      } else if (command == "keep-open") {
        keepOpen_ = true;
      }
    }
    if (!finished_) {
      finished_ = true;
      Record("script-done");
      if (!keepOpen_) PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
    }
  }

  void OnTimer() {
    KillTimer(view, kAnswerTimer);
    if (resendPoll_) {
      resendPoll_ = false;
      sleeping_ = false;
      if (Send(pollMessage_, true)) return;
    } else if (sleeping_) {
      sleeping_ = false;
    } else {
      std::lock_guard<std::mutex> guard(stateMutex_);
      Record("timeout step=" + std::to_string(awaitedStep_));
      awaitedStep_ = -1;
      waitingForAll_ = false;
    }
    Step();
  }

  // An answer, from any thread.
  void Answer(const FlutterDesktopMessageResponseHandle* handle, const std::uint8_t* data,
              std::size_t size) {
    auto* response = const_cast<_FlutterPlatformMessageResponseHandle*>(handle);
    std::lock_guard<std::mutex> guard(stateMutex_);
    if (!response || response->answered) {
      Record("answer-on-used-handle");
      return;
    }
    response->answered = true;
    --pending_;
    if (GetCurrentThreadId() != platformThread) {
      Record("answer-off-platform-thread " + std::to_string(response->step));
    }
    const std::string hex = ToHex(data, size);
    Record("answer " + std::to_string(response->step) + " " + response->channel + " " + hex);
    if (awaitedStep_ == response->step && !pollMessage_.empty()) {
      if (hex.rfind(pollPending_, 0) == 0 && --pollsLeft_ > 0) {
        repoll_ = true;
      } else {
        pollMessage_.clear();
      }
    }
    const bool resume = (awaitedStep_ == response->step) || (waitingForAll_ && pending_ == 0);
    if (resume) {
      awaitedStep_ = -1;
      waitingForAll_ = false;
      // The timer belongs to the platform thread; the step message stops it.
      PostMessageW(view, kStepMessage, 0, 0);
    }
  }

  HWND MainWindow() const {
    HWND root = GetAncestor(view, GA_ROOT);
    if (!root || root == view) root = GetParent(view);
    return root;
  }

  void RecordWindow(const std::string& label) {
    HWND main = MainWindow();
    RECT frame = {};
    GetWindowRect(main, &frame);
    Record(label + " visible=" + std::to_string(IsWindowVisible(main) ? 1 : 0) +
           " rect=" + std::to_string(frame.left) + "," + std::to_string(frame.top) + "," +
           std::to_string(frame.right - frame.left) + "x" +
           std::to_string(frame.bottom - frame.top));
  }

 private:
  Player() {
    record_ = _wfopen(SettingPath(L"KORVELA_ENGINE_RECORD", L"engine_record.txt").c_str(), L"wb");
    FILE* script =
        _wfopen(SettingPath(L"KORVELA_ENGINE_SCRIPT", L"engine_script.txt").c_str(), L"rb");
    if (!script) return;
    std::string line;
    for (int c = std::fgetc(script);; c = std::fgetc(script)) {
      if (c == '\n' || c == EOF) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty() && line[0] != '#') Parse(line);
        line.clear();
        if (c == EOF) break;
      } else {
        line += static_cast<char>(c);
      }
    }
    std::fclose(script);
  }

  void Parse(const std::string& line) {
    if (line.rfind("dpi ", 0) == 0) {
      dpi_ = static_cast<UINT>(std::atoi(line.c_str() + 4));
    } else if (line == "refuse-view-controller") {
      refuseViewController_ = true;
    } else {
      script_.push_back(line);
    }
  }

  // "CHANNEL HEX": true when a message was delivered.
  bool Send(const std::string& arguments, bool wait) {
    const std::size_t space = arguments.find(' ');
    const std::string channel = arguments.substr(0, space);
    const std::vector<std::uint8_t> bytes =
        FromHex(space == std::string::npos ? "" : arguments.substr(space + 1));
    const int step = ++steps_;
    const auto found = callbacks.find(channel);
    if (found == callbacks.end()) {
      Record("answer " + std::to_string(step) + " " + channel + " no-handler");
      return false;
    }
    auto* handle = new _FlutterPlatformMessageResponseHandle{step, channel};  // kept to the end
    {
      std::lock_guard<std::mutex> guard(stateMutex_);
      ++pending_;
      if (wait) {
        awaitedStep_ = step;
        SetTimer(view, kAnswerTimer, kAnswerTimeoutMs, nullptr);
      }
    }
    FlutterDesktopMessage message = {sizeof(FlutterDesktopMessage), channel.c_str(), bytes.data(),
                                     bytes.size(), handle};
    const Callback callback = found->second;
    callback.function(&this->messenger, &message, callback.userData);
    return true;
  }

  std::mutex recordMutex_;
  std::mutex stateMutex_;
  FILE* record_ = nullptr;
  UINT dpi_ = 96;
  bool refuseViewController_ = false;
  bool keepOpen_ = false;
  bool finished_ = false;
  bool sleeping_ = false;
  bool waitingForAll_ = false;
  int awaitedStep_ = -1;
  int pending_ = 0;
  int steps_ = 0;
  std::string pollMessage_;  // "CHANNEL HEX" of the poll under way
  std::string pollPending_;
  int pollsLeft_ = 0;
  bool repoll_ = false;
  bool resendPoll_ = false;
  std::vector<std::string> script_;
  std::size_t next_ = 0;
};

LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Player& player = Player::Get();
  switch (message) {
    case kFrameMessage: {
      FlutterDesktopEngine* engine = player.engine;
      if (engine && engine->nextFrame) {
        player.RecordWindow("frame before-callback");
        VoidCallback callback = engine->nextFrame;
        engine->nextFrame = nullptr;
        callback(engine->nextFrameData);
        player.RecordWindow("frame after-callback");
      }
      player.Start();
      return 0;
    }
    case kStepMessage:
      player.StopAnswerTimer();
      if (!player.Repoll()) player.Step();
      return 0;
    case WM_TIMER:
      if (wparam == kAnswerTimer) player.OnTimer();
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

extern "C" {

KORVELA_STANDIN_API void KorvelaStandInRecord(const char* line) { Player::Get().Record(line); }

FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR) { return Player::Get().dpi(); }

FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams() {
  Player::Get().Record("resync-output-streams");
}

FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties) {
  Player& player = Player::Get();
  player.Record(
      "engine-create assets=" + Utf8(properties->assets_path) +
      " icu=" + Utf8(properties->icu_data_path) + " aot=" + Utf8(properties->aot_library_path) +
      " entrypoint=" + (properties->dart_entrypoint ? properties->dart_entrypoint : "(null)") +
      " argc=" + std::to_string(properties->dart_entrypoint_argc) +
      " gpu=" + std::to_string(properties->gpu_preference) +
      " thread-policy=" + std::to_string(properties->ui_thread_policy));
  for (int i = 0; i < properties->dart_entrypoint_argc; ++i) {
    player.Record("engine-arg " + std::to_string(i) + " " + properties->dart_entrypoint_argv[i]);
  }
  auto* engine = new FlutterDesktopEngine;
  engine->messenger = &player.messenger;
  player.engine = engine;
  player.platformThread = GetCurrentThreadId();
  return engine;
}

FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  Player& player = Player::Get();
  // Only the engine this library made and has not freed yet; anything else
  // would be a double free in the real engine.
  if (!engine || player.engine != engine) {
    player.Record("engine-destroy-unknown");
    return false;
  }
  player.Record("engine-destroy");
  {
    std::lock_guard<std::recursive_mutex> guard(player.messenger.lock);
    player.messenger.available = false;
  }
  player.engine = nullptr;
  for (auto* registrar : engine->registrars) delete registrar;
  delete engine;
  return true;
}

FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef) {
  Player::Get().Record("reload-system-fonts");
}

FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine, const char* name) {
  Player::Get().Record(std::string("registrar ") + name);
  auto* registrar = new FlutterDesktopPluginRegistrar{name};
  engine->registrars.push_back(registrar);
  return registrar;
}

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopPluginRegistrarGetMessenger(FlutterDesktopPluginRegistrarRef) {
  return &Player::Get().messenger;
}

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine) {
  return engine->messenger;
}

FLUTTER_EXPORT void FlutterDesktopEngineSetNextFrameCallback(FlutterDesktopEngineRef engine,
                                                             VoidCallback callback,
                                                             void* user_data) {
  Player::Get().Record("next-frame-callback-set");
  engine->nextFrame = callback;
  engine->nextFrameData = user_data;
}

FLUTTER_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height, FlutterDesktopEngineRef engine) {
  Player& player = Player::Get();
  if (player.refuseViewController()) {
    player.Record("view-controller-refused");
    // The real engine takes the engine over even when it refuses, and frees it.
    FlutterDesktopEngineDestroy(engine);
    return nullptr;
  }
  player.Record("view-controller-create " + std::to_string(width) + "x" + std::to_string(height));
  static bool registered = false;
  if (!registered) {
    WNDCLASSW viewClass = {};
    viewClass.lpfnWndProc = &ViewProc;
    viewClass.hInstance = GetModuleHandleW(nullptr);
    viewClass.lpszClassName = L"KORVELA_STANDIN_VIEW";
    RegisterClassW(&viewClass);
    registered = true;
  }
  auto* controller = new FlutterDesktopViewControllerState;
  controller->engine = engine;
  controller->view.window =
      CreateWindowExW(0, L"KORVELA_STANDIN_VIEW", L"", WS_POPUP, 0, 0, width, height, nullptr,
                      nullptr, GetModuleHandleW(nullptr), nullptr);
  player.view = controller->view.window;
  return controller;
}

FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  Player& player = Player::Get();
  player.Record("view-controller-destroy");
  if (IsWindow(controller->view.window)) DestroyWindow(controller->view.window);
  player.view = nullptr;
  FlutterDesktopEngineDestroy(controller->engine);
  delete controller;
}

FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopViewControllerGetEngine(FlutterDesktopViewControllerRef controller) {
  return controller->engine;
}

FLUTTER_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller) {
  return &controller->view;
}

FLUTTER_EXPORT void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  Player::Get().Record("force-redraw");
  PostMessageW(controller->view.window, kFrameMessage, 0, 0);
}

FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef, HWND, UINT message, WPARAM, LPARAM, LRESULT*) {
  if (message == WM_FONTCHANGE) Player::Get().Record("top-level WM_FONTCHANGE");
  return false;
}

FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) { return view->window; }

FLUTTER_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef, const char*,
                                                const uint8_t*, const size_t) {
  return false;
}

FLUTTER_EXPORT bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef, const char*,
                                                         const uint8_t*, const size_t,
                                                         const FlutterDesktopBinaryReply, void*) {
  return false;
}

FLUTTER_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_length) {
  Player::Get().Answer(handle, data, data_length);
}

FLUTTER_EXPORT void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef,
                                                       const char* channel,
                                                       FlutterDesktopMessageCallback callback,
                                                       void* user_data) {
  Player& player = Player::Get();
  if (callback) {
    player.callbacks[channel] = {callback, user_data};
    player.Record(std::string("set-callback ") + channel);
  } else {
    player.callbacks.erase(channel);
    player.Record(std::string("remove-callback ") + channel);
  }
}

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerAddRef(FlutterDesktopMessengerRef messenger) {
  std::lock_guard<std::recursive_mutex> guard(messenger->lock);
  ++messenger->references;
  return messenger;
}

// The messenger lives as long as the process: references only count.
FLUTTER_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  std::lock_guard<std::recursive_mutex> guard(messenger->lock);
  --messenger->references;
}

FLUTTER_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return messenger->available;
}

FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopMessengerLock(FlutterDesktopMessengerRef messenger) {
  messenger->lock.lock();
  return messenger;
}

FLUTTER_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  messenger->lock.unlock();
}

}  // extern "C"
