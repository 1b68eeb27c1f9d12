// spawn_time: runs one program and reports its own wall time and peak RSS.
//
//   spawn_time RESULT_FILE PROGRAM [ARG...]
//
// Starts PROGRAM (same folder, standard streams and limits), waits for it
// and writes "<wall seconds> <peak RSS KiB>" to RESULT_FILE; exits with the
// program's status (128 + the signal if one ended it, 127 if it could not
// start). The clock runs from just before the spawn to the wait's return,
// so the bench's own start-up (a Python fork, GNU time's) is not counted.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: spawn_time RESULT_FILE PROGRAM [ARG...]\n");
    return 64;
  }
  timespec start{}, end{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t pid = 0;
  if (const int err = posix_spawn(&pid, argv[2], nullptr, nullptr, argv + 2, environ); err != 0) {
    std::fprintf(stderr, "spawn_time: cannot start %s (error %d)\n", argv[2], err);
    return 127;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0)
    if (errno != EINTR) return 127;
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double seconds =
      static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9;
  if (std::FILE* out = std::fopen(argv[1], "w")) {
    std::fprintf(out, "%.6f %ld\n", seconds, usage.ru_maxrss);
    std::fclose(out);
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}
