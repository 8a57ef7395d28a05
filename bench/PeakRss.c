/* Runs a command and prints its peak resident set size in KiB.
 *
 *   wrapkin_bench_peak_rss COMMAND [ARG...]
 *
 * The figure is the kernel's ru_maxrss of the child, which counts this
 * small process's own size from before the exec as a floor (about 1 MiB);
 * the command's output goes to /dev/null. Exits with the command's status. */

#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  posix_spawn_file_actions_t actions;
  struct rusage usage;
  pid_t pid;
  int status;
  int rc;

  if (argc < 2) {
    fputs("usage: wrapkin_bench_peak_rss COMMAND [ARG...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  rc = posix_spawn(&pid, argv[1], &actions, NULL, argv + 1, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    fprintf(stderr, "wrapkin_bench_peak_rss: cannot start \"%s\"\n", argv[1]);
    return 2;
  }
  if (wait4(pid, &status, 0, &usage) != pid) {
    perror("wait4");
    return 2;
  }
  printf("%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
