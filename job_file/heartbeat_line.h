// The composer's heartbeat, written every half second while it runs, in the
// fixed form the host reads to tell a composer at work from one that is
// stuck:
//   Sheetsmith: working, K of N photos placed, P of M pages saved
//   Sheetsmith: working, K of N photos placed, P of M pages saved, in hand: I J
// K counts the photos done (placed, or found unreadable), P the pages saved;
// "in hand" names the photos a worker is reading, decoding or fitting now,
// by their place in the job file's [images], from 0.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sheetsmith {

struct HeartbeatEntry {
  int photosPlaced = 0;
  int photos = 0;
  int pagesSaved = 0;
  int pages = 0;
  std::vector<std::size_t> inHand;
};

std::string FormatHeartbeatLine(const HeartbeatEntry& entry);

// The entry a line stands for, or nullopt for every other line (a line end
// at its end is allowed).
std::optional<HeartbeatEntry> ParseHeartbeatLine(std::string_view line);

}  // namespace sheetsmith
