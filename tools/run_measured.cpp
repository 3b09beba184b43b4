// Runs a command and prints its wall time, CPU time (and the part of it spent
// in the system) and peak memory.
//   run_measured LABEL COMMAND [ARGS...]
// Linux only: the figures come from wait4's resource usage of the child.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: run_measured LABEL COMMAND [ARGS...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror("exec");
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) < 0) {
    std::perror("run_measured");
    return 1;
  }
  const double wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                       (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  const double systemMs = usage.ru_stime.tv_sec * 1000.0 + usage.ru_stime.tv_usec / 1000.0;
  std::printf("%s: wall %.0f ms, CPU %.0f ms, system %.0f ms, peak memory %.1f MiB, exit code %d\n",
              argv[1], wallMs, cpuMs, systemMs, usage.ru_maxrss / 1024.0,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
