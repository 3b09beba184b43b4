// Whether a file's bytes arrive: a read that never ends (a hung network
// share, a cloud file that never downloads, a pipe nobody writes) bounded
// by time, so that it costs a thread and never the request that asked.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace runner::printing {

// Reads the file at `path` to its end, or to `maxBytes`, on a thread of its
// own; false when the open or a read is still waiting after `limit`. That
// thread is then left to end when it can, holding nothing of the caller's.
// True however else the reading ends (no such file, a read error): the
// reader that follows finds out why, from what is now at hand.
bool FileArrivesWithin(const std::string& path, std::chrono::milliseconds limit,
                       std::size_t maxBytes);

}  // namespace runner::printing
