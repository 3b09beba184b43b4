// Where the interface's compiled code and assets lie, and what its entry
// point is given. Paths are relative to the executable's folder.
#pragma once

#include <string>
#include <vector>

namespace flutter {

class DartProject {
 public:
  // `folder` holds flutter_assets, icudtl.dat and app.so.
  explicit DartProject(const std::wstring& folder)
      : assetsPath_(folder + L"\\flutter_assets"),
        icuDataPath_(folder + L"\\icudtl.dat"),
        aotLibraryPath_(folder + L"\\app.so") {}

  void set_dart_entrypoint_arguments(std::vector<std::string> arguments) {
    entrypointArguments_ = std::move(arguments);
  }

  const std::wstring& assets_path() const { return assetsPath_; }
  const std::wstring& icu_data_path() const { return icuDataPath_; }
  const std::wstring& aot_library_path() const { return aotLibraryPath_; }
  // Empty: the engine's default entry point.
  const std::string& dart_entrypoint() const { return entrypoint_; }
  const std::vector<std::string>& dart_entrypoint_arguments() const { return entrypointArguments_; }

 private:
  std::wstring assetsPath_;
  std::wstring icuDataPath_;
  std::wstring aotLibraryPath_;
  std::string entrypoint_;
  std::vector<std::string> entrypointArguments_;
};

}  // namespace flutter
