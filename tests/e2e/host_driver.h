// Drives Korvela.exe under Wine from its interface's side.
//
// A HostScript lists what the stand-in engine does once the host has shown
// its first frame: method calls to send (encoded here with the standard
// codec), waits, window checks. RunHost copies the Windows build's program
// folder into a fresh folder, writes the script beside Korvela.exe, runs it
// under Wine with the given arguments, and returns the exit code, the
// engine's record and the answers, decoded.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "encodable_value.h"

namespace e2e {

using runner::EncodableValue;

// A string value, as the interface sends text.
inline EncodableValue S(const std::string& text) { return EncodableValue(text); }

class HostScript {
 public:
  HostScript& Dpi(int dpi);
  HostScript& RefuseViewController();
  // Sends a method call and waits for its answer.
  HostScript& Call(const std::string& channel, const std::string& method,
                   const EncodableValue& arguments = EncodableValue());
  // Sends raw message bytes and waits for the answer.
  HostScript& CallBytes(const std::string& channel, const std::vector<std::uint8_t>& message);
  // Sends a method call without waiting.
  HostScript& Send(const std::string& channel, const std::string& method,
                   const EncodableValue& arguments = EncodableValue());
  // Calls again every 100 ms while the answer's bytes begin with `pendingPrefix`.
  HostScript& Poll(const std::string& channel, const std::string& method,
                   const EncodableValue& arguments, const std::vector<std::uint8_t>& pendingPrefix);
  // Polls "checkGridJobStatus" for the job while it answers that it runs.
  HostScript& PollGridJob(std::int32_t id);
  HostScript& WaitAnswers();
  HostScript& Sleep(int milliseconds);
  HostScript& FaceResultsNull();
  // The face-results message with any lParam, as a foreign program could post it.
  HostScript& FaceResults(const std::string& lParam);
  HostScript& RecordWindow();
  HostScript& RecordAnsiCodePage();

  std::string Text() const;

 private:
  std::vector<std::string> lines_;
};

struct Answer {
  int step = 0;
  std::string channel;
  bool noHandler = false;
  std::vector<std::uint8_t> bytes;  // empty: not implemented

  bool NotImplemented() const { return !noHandler && bytes.empty(); }
  // The success value; nullopt for an error, not-implemented or bytes that
  // are no envelope.
  std::optional<EncodableValue> SuccessValue() const;
  // "CODE: message" of an error answer; empty otherwise.
  std::string Error() const;
};

struct HostRun {
  int exitCode = -1;
  std::vector<std::string> record;  // the engine's record, line by line
  std::vector<Answer> answers;      // in the order they came
  std::string out;                  // the host's standard output
  std::string err;                  // and standard error

  // Index of the first record line that starts with `prefix`, or -1.
  int Find(const std::string& prefix) const;
  // The answer to step `step` (1 for the first call of the script).
  const Answer* AnswerTo(int step) const;
  // The host's standard error, line by line.
  std::vector<std::string> ErrLines() const;
};

struct HostOptions {
  std::vector<std::string> arguments;
  // Name of the program folder (made inside a temporary folder).
  std::string folderName = "Korvela";
  // Files of the Windows build not to copy into the program folder.
  std::vector<std::string> leaveOut;
  // Folders to make inside the program folder.
  std::vector<std::string> makeFolders;
  // Files of the Windows build copied under another name (from, to), after
  // the others: a stand-in composer in place of sheetsmith.exe.
  std::vector<std::pair<std::string, std::string>> copyAs;
  int timeoutSeconds = 300;
};

// Whether the Windows build and Wine are there (KORVELA_WINDOWS_BIN and
// KORVELA_WINE_RUN set); tests skip otherwise.
bool HostAvailable();

HostRun RunHost(const HostScript& script, const HostOptions& options = {});

// The Wine prefix the host runs in: WINEPREFIX, or the one cmake/wine-run.sh
// falls back to.
std::string WinePrefix();

// The path under which Wine's programs see a file of this machine.
std::string WindowsPath(const std::string& unixPath);

// Where this machine sees a file that a Windows program named by a C: path.
std::string UnixPathOfDriveC(const std::string& windowsPath);

// The host's temporary folder (job files and baked photos), as this machine
// sees it.
std::string HostTempFolder();

// Sets environment variables (seen by the Windows programs started
// meanwhile) for as long as it lives.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<const char*, std::string>> values);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// Runs a Windows program under Wine (as KORVELA_WINE_RUN runs it) and
// returns its exit code.
int RunWineProgram(const std::vector<std::string>& arguments);

// A Windows program run under Wine beside the test, from its start until
// it is destroyed, when it is killed.
class BackgroundWineProgram {
 public:
  explicit BackgroundWineProgram(const std::vector<std::string>& arguments);
  ~BackgroundWineProgram();
  BackgroundWineProgram(const BackgroundWineProgram&) = delete;
  BackgroundWineProgram& operator=(const BackgroundWineProgram&) = delete;

  // Waits up to a minute for a line `line` on its standard output.
  bool WaitForLine(const std::string& line);

 private:
  std::string outPath_;
  int child_ = -1;
};

// What a shell command writes to its standard output.
std::string CommandOutput(const std::string& command);

// Waits until the print bench's queues hold no unfinished job, so that
// every PDF its printers write is whole; false when that took over a minute.
bool WaitForPrintJobs();

// Lower-case hexadecimal, as in the record.
std::string Hex(const std::vector<std::uint8_t>& bytes);

}  // namespace e2e
