/* Runs a command and prints its peak resident set size in KiB and the
 * number of pages the kernel had to map for it (minor page faults).
 *
 *   wrapkin_bench_peak_rss COMMAND [ARG...]
 *
 * The figures are the kernel's ru_maxrss and ru_minflt of the child; the
 * first counts this small process's own size from before the exec as a
 * floor (a few hundred KiB when it is linked statically). The command's output goes to /dev/null. Exits with
 * the command's status. */

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
  printf("%ld %ld\n", usage.ru_maxrss, usage.ru_minflt);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
