#include "bake_rules.h"

#include <algorithm>
#include <cstdio>

namespace runner {

int BakeThreadCount(int maxThreads, unsigned hardwareThreads) {
  int threads = maxThreads;
  if (threads < 1) threads = hardwareThreads < 2 ? 1 : static_cast<int>(hardwareThreads) - 1;
  return std::clamp(threads, 1, 8);
}

std::string BakingFolderName(const LocalTime& t) {
  char name[96];
  std::snprintf(name, sizeof name, "Korvela_Baking_%d%02d%d_%d%d%d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return name;
}

std::string BakedFileName(int index, const LocalTime& t, std::int32_t counter) {
  char name[128];
  std::snprintf(name, sizeof name, "baked_%04d_%d%d%d%d_%d.jpg", index, t.hour, t.minute, t.second,
                t.milliseconds, static_cast<int>(counter));
  return name;
}

std::optional<std::string> ClaimBakedFile(const std::string& folder, int index,
                                          const LocalTime& time,
                                          const std::function<std::int32_t()>& nextCounter,
                                          const std::function<FileClaim(const std::string&)>& create) {
  for (int tries = 0; tries < kMaxBakedNameTries; ++tries) {
    const std::string path = folder + "\\" + BakedFileName(index, time, nextCounter());
    switch (create(path)) {
      case FileClaim::kMade:
        return path;
      case FileClaim::kTaken:
        continue;
      case FileClaim::kFailed:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

EncodableValue BakeReply(const std::vector<BakeResult>& results) {
  EncodableList list;
  std::int32_t successes = 0;
  std::int32_t failures = 0;
  for (const BakeResult& result : results) {
    EncodableMap entry{{EncodableValue("success"), EncodableValue(result.success)},
                       {EncodableValue("index"), EncodableValue(result.index)}};
    if (result.success) {
      entry[EncodableValue("bakedPath")] = EncodableValue(result.bakedPath);
      ++successes;
    } else {
      entry[EncodableValue("error")] = EncodableValue(result.error);
      ++failures;
    }
    list.push_back(EncodableValue(std::move(entry)));
  }
  return EncodableValue(EncodableMap{
      {EncodableValue("results"), EncodableValue(std::move(list))},
      {EncodableValue("successCount"), EncodableValue(successes)},
      {EncodableValue("failureCount"), EncodableValue(failures)},
  });
}

}  // namespace runner
