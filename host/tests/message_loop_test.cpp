#include "message_loop.h"

#include <gtest/gtest.h>

#include <vector>

namespace runner {
namespace {

// GetMessageW's answers: positive for a message, 0 for WM_QUIT, -1 for a
// failure. The loop must not spin on a failure.
TEST(MessageLoopTest, EndsOnQuitAndOnFailure) {
  for (const int last : {0, -1}) {
    const std::vector<int> answers = {1, 1, last, 1};
    std::size_t asked = 0;
    int dispatched = 0;
    RunMessageLoop([&] { return answers[asked++]; }, [&] { ++dispatched; });
    EXPECT_EQ(dispatched, 2) << last;
    EXPECT_EQ(asked, 3u) << last;
  }
}

}  // namespace
}  // namespace runner
