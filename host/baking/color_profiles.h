// The colour profile choice for printing: the built-in list, the stored
// selection, and the three printing channel methods around them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "method_call.h"
#include "method_result.h"

namespace runner {

struct ColorProfileInfo {
  std::string id;
  std::string displayName;  // UTF-8, sent as it is
  bool isBuiltIn = true;
};

const std::vector<ColorProfileInfo>& ColorProfiles();

// The display text for a stored selection: a listed id, "custom:" with a
// profile file's path, or anything else.
std::string ColorProfileDisplayName(const std::string& id);

// The stored selection, "srgb" when there is none. Per platform: the
// registry on Windows.
std::string ReadSelectedColorProfile();
// True when stored; logs the outcome.
bool SaveSelectedColorProfile(const std::string& id);

// Logs the profile chosen for a baked canvas; the pixels stay as they are.
void ApplyColorProfile(bool haveBitmap, const std::string& id);

void HandleGetColorProfiles(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandleGetSelectedColorProfile(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandleSetSelectedColorProfile(const MethodCall& call, std::unique_ptr<MethodResult> result);

}  // namespace runner
