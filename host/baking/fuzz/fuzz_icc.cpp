// Feeds arbitrary bytes to the reading of a photo's embedded colour profile
// (JPEG chunks, PNG iCCP) and to the profile parser, as baking reads them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "icc_profiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const runner::EmbeddedProfile embedded = runner::FindEmbeddedProfile(bytes);
  std::string problem;
  runner::ParseIccProfile(embedded.bytes, &problem);
  if (const auto profile = runner::ParseIccProfile(bytes, &problem)) {
    runner::ReasonNotATarget(*profile);
  }
  return 0;
}
