// Files opened by their Unicode path. Paths are UTF-8 strings throughout the
// imaging code and the composer; on Windows they are widened here, at the one place where a file
// is opened, so that every photo, frame, job file and page works under any
// folder name.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheetsmith {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// fopen with a UTF-8 path; `mode` is one of fopen's modes ("rb", "wb"). A
// path holding a NUL opens nothing: the system would read it only up to the
// NUL and open another file.
UniqueFile OpenFile(const std::string& utf8Path, const char* mode);

// Writes what the stream holds through to the disk (fflush, then
// FlushFileBuffers or fsync), so that a file renamed into place afterwards
// is whole after a power cut; false when it could not.
bool FlushToDisk(std::FILE* stream);

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const std::string& utf8Path);

// Where a page is written before it is whole: beside its final path, which
// it replaces by RenameOver once complete, under a name of this writer's
// own, "PAGE.MACHINE-PID-N.partial": the machine's name (its letters and
// digits), the process's id and a number no other call in the process is
// given. So two runs, or two threads, or two machines writing the same page
// at once never write into one file, and whichever ends last, the page is
// wholly that writer's; a run stopped half-way leaves at most its own
// partial file, never a page cut short under the final name. Shared with
// the host, which writes its own pages the same way.
std::string PartialPath(const std::string& utf8Path);

// This machine's name as partial file names carry it.
std::string MachineTag();

// Makes a partial file for the page, by PartialPath, created exclusively: a
// name another writer's file already has is passed over for the next.
// `partial` is set to its path; null (errno set) when none can be made.
UniqueFile OpenNewPartial(const std::string& utf8Path, std::string& partial);

// Opens a new file for writing, only when there is no file of that name
// yet; null with errno EEXIST when there is.
UniqueFile OpenNewFile(const std::string& utf8Path);

// The names of the files (not folders) in a folder, of a path of any
// length; none when it cannot be listed.
std::vector<std::string> FileNamesIn(const std::string& utf8Folder);

// Removes the partial files of these pages (in their folders) whose writers
// have ended without moving them into place: partial files named for one
// of these pages by PartialPath, written on this machine by a process that
// is gone. The partial files of a live process, of another machine (whose
// processes cannot be seen from here) and of other pages are left alone, and
// so is every other file. Also removes each page's "PAGE.partial", which
// writers before these names left. Every run calls it before it writes its
// pages.
void RemoveDeadPartials(const std::vector<std::string>& utf8PagePaths);

// The writer a partial file of the page named `pageName` (without its
// folder) names in `fileName`; nullopt when it is no name PartialPath makes
// for that page.
struct PartialWriter {
  std::string machine;
  unsigned long pid = 0;
};
std::optional<PartialWriter> PartialFileWriter(std::string_view pageName,
                                               std::string_view fileName);

// Whether the process with this id is running.
bool ProcessIsRunning(unsigned long pid);

// Moves `from` to `to`, replacing a file there; false when it could not. On
// Windows a file another program holds open for a moment (a viewer reading
// the page) is tried again for a while.
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
