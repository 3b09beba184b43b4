// Files opened, renamed and removed by UTF-8 path, the partial files beside
// pages, and whether the process that wrote one still runs.
#include "imaging/system/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace sheetsmith {
namespace {

bool HoldsNul(const std::string& text) { return text.find('\0') != std::string::npos; }

constexpr std::string_view kPartialEnd = ".partial";

// What ends a folder's name in a path.
#ifdef _WIN32
constexpr const char* kSeparators = "\\/";
#else
constexpr const char* kSeparators = "/";
#endif

unsigned long CurrentProcessId() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

#ifdef _WIN32
std::wstring WideFromUtf8(const std::string& utf8) {
  if (utf8.empty()) return {};
  if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return {};
  const int size = static_cast<int>(utf8.size());
  const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (count <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), count);
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty()) return {};
  if (wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return {};
  const int size = static_cast<int>(wide.size());
  const int count =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (count <= 0) return {};
  std::string utf8(static_cast<std::size_t>(count), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), count, nullptr, nullptr);
  return utf8;
}

namespace {

// The path as the system is given it: widened, and when it is long (from
// the length at which a folder's path is too long without it), made whole
// and given the "\\?\" prefix, with which the system takes a path of up to
// 32767 characters whatever the machine's LongPathsEnabled setting is.
std::wstring SystemPath(const std::string& utf8Path) {
  std::wstring wide = WideFromUtf8(utf8Path);
  if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring whole(size, L'\0');
  size = GetFullPathNameW(wide.c_str(), size, whole.data(), nullptr);
  if (size == 0 || size >= whole.size()) return wide;
  whole.resize(size);
  if (whole.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + whole.substr(2);
  return L"\\\\?\\" + whole;
}

}  // namespace

UniqueFile OpenFile(const std::string& utf8Path, const char* mode) {
  // errno says why, as a failed open leaves it (OpenFailure reads it).
  if (HoldsNul(utf8Path)) {
    errno = EINVAL;
    return nullptr;
  }
  const std::wstring path = SystemPath(utf8Path);
  if (path.empty()) {
    errno = utf8Path.empty() ? ENOENT : EINVAL;
    return nullptr;
  }
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return UniqueFile(_wfopen(path.c_str(), wideMode.c_str()));
}

UniqueFile OpenNewFile(const std::string& utf8Path) {
  if (HoldsNul(utf8Path) || utf8Path.empty()) {
    errno = utf8Path.empty() ? ENOENT : EINVAL;
    return nullptr;
  }
  const std::wstring path = SystemPath(utf8Path);
  const HANDLE made = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (made == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    errno = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? EEXIST
            : code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                           : EACCES;
    return nullptr;
  }
  const int descriptor =
      _open_osfhandle(reinterpret_cast<std::intptr_t>(made), _O_WRONLY | _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(made);
    errno = EMFILE;
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "wb");
  if (!file) _close(descriptor);
  return UniqueFile(file);
}

std::vector<std::string> FileNamesIn(const std::string& utf8Folder) {
  std::vector<std::string> names;
  if (HoldsNul(utf8Folder)) return names;
  // FindFirstFileExW takes a "\\?\" path of any length, where the C
  // runtime's folder listing stops at MAX_PATH.
  std::string pattern = utf8Folder;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  const std::wstring path = SystemPath(pattern + "*");
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      names.push_back(Utf8FromWide(found.cFileName));
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

bool FlushToDisk(std::FILE* stream) {
  if (std::fflush(stream) != 0) return false;
  const std::intptr_t handle = _get_osfhandle(_fileno(stream));
  return handle != -1 && FlushFileBuffers(reinterpret_cast<HANDLE>(handle));
}

bool RemoveFile(const std::string& utf8Path) {
  if (HoldsNul(utf8Path)) return false;
  const std::wstring path = SystemPath(utf8Path);
  return !path.empty() && _wremove(path.c_str()) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  if (HoldsNul(from) || HoldsNul(to)) return false;
  const std::wstring source = SystemPath(from);
  const std::wstring target = SystemPath(to);
  if (source.empty() || target.empty()) return false;
  // A page that another program has open (the interface showing it, another
  // writer's page being moved there) cannot be replaced at that moment.
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt >= 50) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool ProcessIsRunning(unsigned long pid) {
  if (pid == 0 || pid > std::numeric_limits<DWORD>::max()) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  // A process that may not be opened is still one that runs.
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}
#else
UniqueFile OpenFile(const std::string& utf8Path, const char* mode) {
  // errno says why, as a failed open leaves it (OpenFailure reads it).
  if (utf8Path.empty() || HoldsNul(utf8Path)) {
    errno = utf8Path.empty() ? ENOENT : EINVAL;
    return nullptr;
  }
  return UniqueFile(std::fopen(utf8Path.c_str(), mode));
}

UniqueFile OpenNewFile(const std::string& utf8Path) {
  if (utf8Path.empty() || HoldsNul(utf8Path)) {
    errno = utf8Path.empty() ? ENOENT : EINVAL;
    return nullptr;
  }
  const int descriptor = open(utf8Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor == -1) return nullptr;
  std::FILE* file = fdopen(descriptor, "wb");
  if (!file) close(descriptor);
  return UniqueFile(file);
}

std::vector<std::string> FileNamesIn(const std::string& utf8Folder) {
  std::vector<std::string> names;
  std::error_code error;
  std::filesystem::directory_iterator entries(utf8Folder, error);
  for (const std::filesystem::directory_iterator end; !error && entries != end;
       entries.increment(error)) {
    if (!entries->is_directory(error)) names.push_back(entries->path().filename().string());
  }
  return names;
}

bool FlushToDisk(std::FILE* stream) {
  return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool RemoveFile(const std::string& utf8Path) {
  return !utf8Path.empty() && !HoldsNul(utf8Path) && std::remove(utf8Path.c_str()) == 0;
}

bool RenameOver(const std::string& from, const std::string& to) {
  return !from.empty() && !to.empty() && !HoldsNul(from) && !HoldsNul(to) &&
         std::rename(from.c_str(), to.c_str()) == 0;
}

bool ProcessIsRunning(unsigned long pid) {
  // 0 and negative ids would name process groups.
  if (pid == 0 || pid > static_cast<unsigned long>(std::numeric_limits<pid_t>::max())) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}
#endif

std::string MachineTag() {
  static const std::string tag = [] {
    std::string name;
#ifdef _WIN32
    wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (GetComputerNameW(wide, &size)) name = Utf8FromWide(std::wstring(wide, size));
#else
    char narrow[256] = {};
    if (gethostname(narrow, sizeof narrow - 1) == 0) name = narrow;
#endif
    // Only letters and digits: the name's dashes and dots are its separators.
    for (char& c : name) {
      const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      if (!kept) c = '_';
    }
    if (name.size() > 64) name.resize(64);
    return name.empty() ? std::string("local") : name;
  }();
  return tag;
}

std::string PartialPath(const std::string& utf8Path) {
  static std::atomic<unsigned long> written{0};
  return utf8Path + "." + MachineTag() + "-" + std::to_string(CurrentProcessId()) + "-" +
         std::to_string(written.fetch_add(1) + 1) + std::string(kPartialEnd);
}

std::optional<PartialWriter> PartialFileWriter(std::string_view pageName,
                                               std::string_view fileName) {
  if (pageName.empty() || fileName.size() <= pageName.size() + 1 + kPartialEnd.size() ||
      fileName.substr(0, pageName.size()) != pageName || fileName[pageName.size()] != '.' ||
      fileName.substr(fileName.size() - kPartialEnd.size()) != kPartialEnd) {
    return std::nullopt;
  }
  // MACHINE-PID-N between the page's name and ".partial".
  const std::string_view writer = fileName.substr(
      pageName.size() + 1, fileName.size() - pageName.size() - 1 - kPartialEnd.size());
  const std::size_t second = writer.rfind('-');
  if (second == std::string_view::npos || second == 0) return std::nullopt;
  const std::size_t first = writer.rfind('-', second - 1);
  if (first == std::string_view::npos || first == 0) return std::nullopt;
  const std::string_view machine = writer.substr(0, first);
  const std::string_view pid = writer.substr(first + 1, second - first - 1);
  const std::string_view count = writer.substr(second + 1);
  const auto digits = [](std::string_view text) {
    return !text.empty() && text.size() <= 19 &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
  };
  const auto tag = [](std::string_view text) {
    return text.find_first_not_of(
               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
           std::string_view::npos;
  };
  if (!tag(machine) || !digits(pid) || !digits(count)) return std::nullopt;
  const unsigned long long id = std::stoull(std::string(pid));
  if (id > std::numeric_limits<unsigned long>::max()) return std::nullopt;
  return PartialWriter{std::string(machine), static_cast<unsigned long>(id)};
}

UniqueFile OpenNewPartial(const std::string& utf8Path, std::string& partial) {
  // Another writer's file under a name this one was given (after a process
  // id was reused, or on another machine of the same name) is passed over.
  for (int tries = 0; tries < 100; ++tries) {
    partial = PartialPath(utf8Path);
    UniqueFile file = OpenNewFile(partial);
    if (file || errno != EEXIST) return file;
  }
  return nullptr;
}

void RemoveDeadPartials(const std::vector<std::string>& utf8PagePaths) {
  // The pages of each folder, by their names.
  std::vector<std::pair<std::string, std::vector<std::string>>> folders;
  for (const std::string& page : utf8PagePaths) {
    if (page.empty() || HoldsNul(page)) continue;
    // "PAGE.partial" is what writers before these names left of the page.
    RemoveFile(page + std::string(kPartialEnd));
    const std::size_t slash = page.find_last_of(kSeparators);
    std::string folder = slash == std::string::npos ? std::string(".") : page.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? page : page.substr(slash + 1);
    auto at = std::find_if(folders.begin(), folders.end(),
                           [&](const auto& entry) { return entry.first == folder; });
    if (at == folders.end()) at = folders.insert(folders.end(), {std::move(folder), {}});
    at->second.push_back(name);
  }
  for (const auto& [folder, pages] : folders) {
    for (const std::string& name : FileNamesIn(folder)) {
      for (const std::string& page : pages) {
        const std::optional<PartialWriter> writer = PartialFileWriter(page, name);
        // Another machine's writer cannot be judged from here.
        if (writer && writer->machine == MachineTag() && !ProcessIsRunning(writer->pid)) {
          RemoveFile(folder == "." ? name : folder + name);
          break;
        }
      }
    }
  }
}

std::optional<std::string> ReadFilePrefix(const std::string& utf8Path, std::size_t maxBytes) {
  UniqueFile file = OpenFile(utf8Path, "rb");
  if (!file) return std::nullopt;
  std::string content(maxBytes, '\0');
  const std::size_t read = std::fread(content.data(), 1, maxBytes, file.get());
  if (std::ferror(file.get())) return std::nullopt;
  content.resize(read);
  return content;
}

std::optional<std::string> ReadWholeFile(const std::string& utf8Path) {
  UniqueFile file = OpenFile(utf8Path, "rb");
  if (!file) return std::nullopt;
  std::string content;
  char chunk[1 << 16];
  while (true) {
    const std::size_t read = std::fread(chunk, 1, sizeof chunk, file.get());
    content.append(chunk, read);
    if (read < sizeof chunk) break;
  }
  if (std::ferror(file.get())) return std::nullopt;
  return content;
}

}  // namespace sheetsmith
