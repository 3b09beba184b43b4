// Prints how far decoding one hostile message (NestedCountClaims) grows the
// process's address space. Each size is measured in a child of its
// own, so that one size's peak does not hide the next.
//   codec_memory
// Linux only: the figures are VmPeak from /proc/self/status.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "nested_claims.h"
#include "standard_codec.h"

namespace {

long VmPeakKiB() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, "VmPeak:", 7) == 0) kib = std::atol(line + 7);
  }
  std::fclose(status);
  return kib;
}

void Measure(std::size_t size) {
  const std::vector<std::uint8_t> message = runner::NestedCountClaims(size);
  const long before = VmPeakKiB();
  std::FILE* quiet = std::freopen("/dev/null", "w", stderr);
  runner::ByteStreamReader reader(message.data(), message.size());
  runner::StandardCodecSerializer::GetInstance().ReadValue(reader);
  const long growth = VmPeakKiB() - before;
  std::printf(
      "message %7zu KiB: address space grew %8ld KiB (bound: 4 x message + 1 MiB = %ld KiB)\n",
      size >> 10, growth, static_cast<long>(4 * (size >> 10) + 1024));
  if (quiet) std::fclose(quiet);
}

}  // namespace

int main() {
  for (const std::size_t size : {std::size_t{16} << 10, std::size_t{64} << 10,
                                 std::size_t{256} << 10, std::size_t{1} << 20}) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      Measure(size);
      std::fflush(stdout);
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
  }
  return 0;
}
