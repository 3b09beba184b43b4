// The host's command line, handed to the interface's entry point.
#pragma once

#include <string>
#include <vector>

namespace runner {

// The process's arguments without the program path, each in UTF-8; an
// argument that is not valid UTF-16 becomes an empty string. Empty when the
// command line cannot be split.
std::vector<std::string> GetCommandLineArguments();

// UTF-16 to UTF-8, strictly: invalid input gives an empty string.
std::string Utf8FromUtf16(const wchar_t* text);
std::wstring Utf16FromUtf8(const std::string& text);

}  // namespace runner
