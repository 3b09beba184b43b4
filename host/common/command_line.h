// The host's command line, handed to the interface's entry point.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace runner {

// The process's arguments without the program path, each in UTF-8; an
// argument that is not valid UTF-16 becomes an empty string. Empty when the
// command line cannot be split.
std::vector<std::string> GetCommandLineArguments();

// UTF-16 to UTF-8, strictly: invalid input gives an empty string.
std::string Utf8FromUtf16(const wchar_t* text);

// UTF-8 to UTF-16 for a platform call: every path, printer, paper and profile
// name the host hands to Windows is converted here. Nullopt for text holding
// a NUL, which Windows would read only up to it (IsPlatformText): the call is
// then not made, as for a name that does not exist.
std::optional<std::wstring> PlatformText(const std::string& text);

}  // namespace runner
