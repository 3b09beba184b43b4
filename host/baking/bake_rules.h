// The rules of a baking run that need no platform: thread count, folder and
// file names, the reply.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bake_request.h"
#include "encodable_value.h"

namespace runner {

inline constexpr const char kHostTempFolderUtf8[] = "C:\\Users\\Public\\Korvela_Temp\\";

struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
};

// maxThreads below 1 means one fewer than the hardware threads (1 when it
// reports fewer than 2); the result is within 1..8.
int BakeThreadCount(int maxThreads, unsigned hardwareThreads);

// "Korvela_Baking_" with the year, the month in two digits, the day, "_", and
// the hour, minute and second; only the month is padded.
std::string BakingFolderName(const LocalTime& time);

// "baked_", the index in at least four digits, "_", the hour, minute, second
// and milliseconds unpadded, "_", the counter, ".jpg".
std::string BakedFileName(int index, const LocalTime& time, std::int32_t counter);

// What making a file that must not be there yet came to.
enum class FileClaim { kMade, kTaken, kFailed };

// The most names tried for one baked file before it fails.
inline constexpr int kMaxBakedNameTries = 1000;

// The path of a new baked file for photo `index` in `folder`, made by
// `create` (which makes the file only when no file of that name is there):
// a name already taken, by an earlier bake of this host or of another,
// takes the next of `nextCounter`. nullopt when `create` fails otherwise, or
// when kMaxBakedNameTries names are all taken.
std::optional<std::string> ClaimBakedFile(const std::string& folder, int index,
                                          const LocalTime& time,
                                          const std::function<std::int32_t()>& nextCounter,
                                          const std::function<FileClaim(const std::string&)>& create);

// {"results": [...], "successCount": S, "failureCount": F}.
EncodableValue BakeReply(const std::vector<BakeResult>& results);

}  // namespace runner
