#include "host_driver.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "standard_codec.h"
#include "test_photos.h"

extern char** environ;

namespace e2e {
namespace {

namespace fs = std::filesystem;

const runner::StandardMethodCodec& Codec() { return runner::StandardMethodCodec::GetInstance(); }

std::vector<std::uint8_t> EncodeCall(const std::string& method, const EncodableValue& arguments) {
  return Codec().EncodeMethodCall(
      runner::MethodCall(method, std::make_unique<EncodableValue>(arguments)));
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string StripCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

class MethodResultRecorder : public runner::MethodResult {
 public:
  std::optional<EncodableValue> success;
  std::string error;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    success = result ? *result : EncodableValue();
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue*) override {
    error = code + ": " + message;
  }
  void NotImplementedInternal() override {}
};

}  // namespace

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint8_t byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

HostScript& HostScript::Dpi(int dpi) {
  lines_.push_back("dpi " + std::to_string(dpi));
  return *this;
}
HostScript& HostScript::RefuseViewController() {
  lines_.push_back("refuse-view-controller");
  return *this;
}
HostScript& HostScript::Call(const std::string& channel, const std::string& method,
                             const EncodableValue& arguments) {
  return CallBytes(channel, EncodeCall(method, arguments));
}
HostScript& HostScript::CallBytes(const std::string& channel,
                                  const std::vector<std::uint8_t>& message) {
  lines_.push_back("call " + channel + " " + Hex(message));
  return *this;
}
HostScript& HostScript::Send(const std::string& channel, const std::string& method,
                             const EncodableValue& arguments) {
  lines_.push_back("send " + channel + " " + Hex(EncodeCall(method, arguments)));
  return *this;
}
HostScript& HostScript::Poll(const std::string& channel, const std::string& method,
                             const EncodableValue& arguments,
                             const std::vector<std::uint8_t>& pendingPrefix) {
  lines_.push_back("poll " + channel + " " + Hex(EncodeCall(method, arguments)) + " " +
                   Hex(pendingPrefix));
  return *this;
}
HostScript& HostScript::PollGridJob(std::int32_t id) {
  // A running job's status: a map of five entries whose first key, in the
  // codec's order, is "completed", with false.
  std::vector<std::uint8_t> running = {0x00, 0x0D, 0x05, 0x07, 0x09};
  for (const char c : std::string("completed")) running.push_back(static_cast<std::uint8_t>(c));
  running.push_back(0x02);
  return Poll("printing_channel", "checkGridJobStatus", EncodableValue(id), running);
}
HostScript& HostScript::WaitAnswers() {
  lines_.push_back("wait-answers");
  return *this;
}
HostScript& HostScript::Sleep(int milliseconds) {
  lines_.push_back("sleep " + std::to_string(milliseconds));
  return *this;
}
HostScript& HostScript::FaceResultsNull() {
  lines_.push_back("face-results-null");
  return *this;
}

HostScript& HostScript::FaceResults(const std::string& lParam) {
  lines_.push_back("face-results " + lParam);
  return *this;
}
HostScript& HostScript::RecordWindow() {
  lines_.push_back("record-window");
  return *this;
}

HostScript& HostScript::RecordAnsiCodePage() {
  lines_.push_back("record-acp");
  return *this;
}
std::string HostScript::Text() const {
  std::string text;
  for (const std::string& line : lines_) text += line + "\n";
  return text;
}

std::optional<EncodableValue> Answer::SuccessValue() const {
  if (noHandler || bytes.empty()) return std::nullopt;
  MethodResultRecorder recorder;
  if (!Codec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &recorder)) {
    return std::nullopt;
  }
  return recorder.success;
}

std::string Answer::Error() const {
  if (noHandler || bytes.empty()) return {};
  MethodResultRecorder recorder;
  Codec().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &recorder);
  return recorder.error;
}

int HostRun::Find(const std::string& prefix) const {
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (record[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

const Answer* HostRun::AnswerTo(int step) const {
  for (const Answer& answer : answers) {
    if (answer.step == step) return &answer;
  }
  return nullptr;
}

std::vector<std::string> HostRun::ErrLines() const { return Lines(err); }

ScopedEnvironment::ScopedEnvironment(
    std::initializer_list<std::pair<const char*, std::string>> values) {
  for (const auto& [name, value] : values) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    setenv(name, value.c_str(), 1);
  }
}

ScopedEnvironment::~ScopedEnvironment() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    if (it->second) {
      setenv(it->first, it->second->c_str(), 1);
    } else {
      unsetenv(it->first);
    }
  }
}

namespace {

// Starts `arguments` under Wine with no input and the two outputs in files;
// the child's process id, or -1.
pid_t SpawnUnderWine(const std::vector<std::string>& arguments, const std::string& outPath,
                     const std::string& errPath) {
  std::vector<std::string> argv = {std::getenv("KORVELA_WINE_RUN")};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t child = 0;
  const int spawned = posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? child : -1;
}

}  // namespace

int RunWineProgram(const std::vector<std::string>& arguments) {
  const pid_t child = SpawnUnderWine(arguments, "/dev/null", "/dev/null");
  if (child < 0) return -1;
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

BackgroundWineProgram::BackgroundWineProgram(const std::vector<std::string>& arguments) {
  char name[] = "/tmp/korvela-background-XXXXXX";
  const int file = mkstemp(name);
  if (file < 0) return;
  close(file);
  outPath_ = name;
  child_ = SpawnUnderWine(arguments, outPath_, "/dev/null");
}

BackgroundWineProgram::~BackgroundWineProgram() {
  if (child_ > 0) {
    kill(child_, SIGKILL);
    int status = 0;
    waitpid(child_, &status, 0);
  }
  if (!outPath_.empty()) std::remove(outPath_.c_str());
}

bool BackgroundWineProgram::WaitForLine(const std::string& line) {
  if (child_ <= 0) return false;
  for (int i = 0; i < 600; ++i) {
    std::ifstream out(outPath_);
    for (std::string got; std::getline(out, got);) {
      if (!got.empty() && got.back() == '\r') got.pop_back();
      if (got == line) return true;
    }
    if (waitpid(child_, nullptr, WNOHANG) == child_) {
      child_ = -1;  // it ended without the line
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::string CommandOutput(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, read);
    pclose(pipe);
  }
  return text;
}

bool WaitForPrintJobs() {
  for (int i = 0; i < 600; ++i) {
    if (CommandOutput("lpstat -o 2>/dev/null").empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

std::string WinePrefix() {
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix) return prefix;
  const char* runner = std::getenv("KORVELA_WINE_RUN");
  if (!runner) return {};
  return (fs::path(runner).parent_path().parent_path() / "build" / "wineprefix").string();
}

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string UnixPathOfDriveC(const std::string& windowsPath) {
  std::string rest = windowsPath.substr(3);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  // Wine keeps the profiles folder in lower case.
  if (rest.rfind("Users/", 0) == 0) rest = "users/" + rest.substr(6);
  return WinePrefix() + "/drive_c/" + rest;
}

std::string HostTempFolder() { return UnixPathOfDriveC("C:\\Users\\Public\\Korvela_Temp"); }

bool HostAvailable() {
  return std::getenv("KORVELA_WINDOWS_BIN") && std::getenv("KORVELA_WINE_RUN");
}

HostRun RunHost(const HostScript& script, const HostOptions& options) {
  HostRun run;
  // One folder for the whole test program, removed when it ends.
  static testsupport::TempDir root("korvela-e2e");
  static int counter = 0;
  const fs::path runFolder =
      testsupport::PathFromUtf8(root.Path()) / ("run" + std::to_string(++counter));
  const fs::path programFolder = runFolder / testsupport::PathFromUtf8(options.folderName);
  fs::create_directories(programFolder);
  for (const fs::directory_entry& entry :
       fs::directory_iterator(std::getenv("KORVELA_WINDOWS_BIN"))) {
    const std::string name = entry.path().filename().string();
    if (std::find(options.leaveOut.begin(), options.leaveOut.end(), name) !=
        options.leaveOut.end()) {
      continue;
    }
    if (entry.is_regular_file()) fs::copy_file(entry.path(), programFolder / name);
  }
  for (const auto& [from, to] : options.copyAs) {
    fs::copy_file(fs::path(std::getenv("KORVELA_WINDOWS_BIN")) / from, programFolder / to,
                  fs::copy_options::overwrite_existing);
  }
  for (const std::string& folder : options.makeFolders) {
    fs::create_directories(programFolder / testsupport::PathFromUtf8(folder));
  }
  std::ofstream(programFolder / "engine_script.txt", std::ios::binary) << script.Text();

  const std::string exe = testsupport::Utf8FromPath(programFolder / "Korvela.exe");
  const std::string outPath = testsupport::Utf8FromPath(runFolder / "stdout.txt");
  const std::string errPath = testsupport::Utf8FromPath(runFolder / "stderr.txt");
  std::vector<std::string> arguments = {exe};
  arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
  const pid_t child = SpawnUnderWine(arguments, outPath, errPath);
  if (child < 0) return run;

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      run.err = "(timed out)\n";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);

  run.out = StripCarriageReturns(ReadText(outPath));
  run.err += StripCarriageReturns(ReadText(errPath));
  run.record = Lines(ReadText(programFolder / "engine_record.txt"));
  for (const std::string& line : run.record) {
    if (line.rfind("answer ", 0) != 0) continue;
    std::stringstream fields(line.substr(7));
    Answer answer;
    std::string payload;
    fields >> answer.step >> answer.channel >> payload;
    if (payload == "no-handler") {
      answer.noHandler = true;
    } else if (payload != "-") {
      answer.bytes = FromHex(payload);
    }
    run.answers.push_back(answer);
  }
  return run;
}

}  // namespace e2e
