// The job file written into the host's temporary folder, under a name of this
// run's own.
#include <windows.h>

#include <atomic>

#include "job_file_writer.h"
#include "logging.h"
#include "win32_owners.h"

namespace runner::printing {
namespace {

constexpr const wchar_t kHostTempFolder[] = L"C:\\Users\\Public\\Korvela_Temp\\";

// Runs of one host process may overlap (background jobs, a waiting request),
// so each writes its own file: the process id and a per-run number.
std::wstring UniqueJobFileName() {
  static std::atomic<unsigned> runs{0};
  return std::wstring(kHostTempFolder) + L"grid_config_" + std::to_wstring(GetCurrentProcessId()) +
         L"_" + std::to_wstring(runs.fetch_add(1) + 1) + L".txt";
}

}  // namespace

std::wstring WriteGridConfig(const GridRequest& request) {
  CreateDirectoryW(kHostTempFolder, nullptr);  // a failure shows when the file is made
  const std::wstring path = UniqueJobFileName();
  UniqueHandle file = AdoptHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  const GridConfigText content = BuildGridConfig(request);
  LogError("DEBUG C++: imageEffects vector size = " + std::to_string(request.imageEffects.size()));
  DWORD written = 0;
  const BOOL ok = WriteFile(file.get(), content.text.data(),
                            static_cast<DWORD>(content.text.size()), &written, nullptr);
  LogError("DEBUG C++: Wrote " + std::to_string(content.effectLines) +
           " effects entries to config file");
  file.reset();
  if (!ok || written != content.text.size()) {
    DeleteFileW(path.c_str());
    return {};
  }
  return path;
}

}  // namespace runner::printing
