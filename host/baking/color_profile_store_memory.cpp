// Outside Windows there is no registry: the selection is kept in memory for
// the life of the process, which is what the tests of the handlers need.
#include <mutex>

#include "color_profiles.h"
#include "logging.h"

namespace runner {
namespace {

std::mutex storeMutex;
bool stored = false;
std::string selection;

}  // namespace

std::string ReadSelectedColorProfile() {
  std::lock_guard<std::mutex> lock(storeMutex);
  return stored ? selection : "srgb";
}

bool SaveSelectedColorProfile(const std::string& id) {
  {
    std::lock_guard<std::mutex> lock(storeMutex);
    stored = true;
    selection = id;
  }
  LogOutput("INFO: Color profile set to: " + id);
  return true;
}

}  // namespace runner
