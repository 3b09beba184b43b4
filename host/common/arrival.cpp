// A file read to its end on a thread that may be abandoned.
#include "arrival.h"

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "imaging/system/file_io.h"

namespace runner::printing {

bool FileArrivesWithin(const std::string& path, std::chrono::milliseconds limit,
                       std::size_t maxBytes) {
  // Shared with the reading thread, which may outlive the call.
  struct Reading {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
  };
  auto reading = std::make_shared<Reading>();
  try {
    std::thread([reading, path, maxBytes] {
      if (sheetsmith::UniqueFile file = sheetsmith::OpenFile(path, "rb")) {
        char chunk[16384];
        std::size_t total = 0;
        std::size_t read = 0;
        while (total <= maxBytes && (read = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
          total += read;
        }
      }
      {
        std::lock_guard<std::mutex> lock(reading->mutex);
        reading->done = true;
      }
      reading->ended.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return true;  // no thread to spare: the reader reads it unbounded
  }
  std::unique_lock<std::mutex> lock(reading->mutex);
  return reading->ended.wait_for(lock, limit, [&] { return reading->done; });
}

}  // namespace runner::printing
