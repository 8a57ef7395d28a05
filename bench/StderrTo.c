/* Runs a program with its standard error appended to a file: the null
 * device, where the Finder and the Dock put it, or a file, as a script's
 * "2>>log" does. Both ways pay for this one exec alike.
 *
 *   wrapkin_bench_stderr_to FILE PROGRAM [ARG...] */

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  int fd;

  if (argc < 3) {
    fputs("usage: wrapkin_bench_stderr_to FILE PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  fd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) {
    perror(argv[1]);
    return 1;
  }
  if (fd != STDERR_FILENO) {
    close(fd);
  }
  execv(argv[2], argv + 2);
  perror(argv[2]);
  return 1;
}
