#include "arrival.h"

#include <gtest/gtest.h>

#include <chrono>

#include "test_photos.h"

#if defined(__linux__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace runner::printing {
namespace {

using std::chrono::milliseconds;

#if defined(__linux__)
// A read that waits (a pipe nobody writes) is bounded; every read that ends,
// well or not, is not held up.
TEST(ArrivalTest, OnlyAReadStillWaitingAtTheLimitCountsAsNotArrived) {
  testsupport::TempDir dir("korvela arrival");
  const std::string plain = dir.File("photo.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(plain, testsupport::Solid(40, 30, {1, 2, 3})));
  const std::string pipe = dir.File("never arrives.jpg");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const struct {
    std::string path;
    bool arrives;
  } cases[] = {{plain, true}, {dir.File("missing.jpg"), true}, {dir.Path(), true},
               {pipe, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(FileArrivesWithin(c.path, milliseconds(300), 1 << 20), c.arrives) << c.path;
  }
  // The abandoned reader ends once a writer comes and goes.
  const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
}
#endif

}  // namespace
}  // namespace runner::printing
