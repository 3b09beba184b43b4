// Files opened by their Unicode path. Paths are UTF-8 strings throughout the
// composer; on Windows they are widened here, at the one place where a file
// is opened, so that every photo, frame, job file and page works under any
// folder name.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace sheetsmith {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// fopen with a UTF-8 path; `mode` is one of fopen's modes ("rb", "wb"). A
// path holding a NUL opens nothing: the system would read it only up to the
// NUL and open another file.
UniqueFile OpenFile(const std::string& utf8Path, const char* mode);

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const std::string& utf8Path);

// Where a page is written before it is whole: beside its final path, which
// it replaces by RenameOver once complete. A run stopped half-way leaves at
// most this file, never a page cut short under the final name. Shared with
// the host, which writes its own pages the same way and removes what a
// stopped composer left.
std::string PartialPath(const std::string& utf8Path);

// Moves `from` to `to`, replacing a file there; false when it could not.
bool RenameOver(const std::string& from, const std::string& to);

// The first `maxBytes` bytes of a file (all of it when it is shorter), or
// nullopt when it cannot be opened or read.
std::optional<std::string> ReadFilePrefix(const std::string& utf8Path, std::size_t maxBytes);

// The whole file, or nullopt when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& utf8Path);

#ifdef _WIN32
std::wstring WideFromUtf8(const std::string& utf8);
std::string Utf8FromWide(const std::wstring& wide);
#endif

}  // namespace sheetsmith
