/* The floor of the launcher's own cost: a process that only loads the
 * runtime's launcher library, looks up its entry and calls it the way the
 * launcher does, with this process's arguments.
 *
 *   wrapkin_bench_limit LIBJLI [ARG...]
 *
 * Plain C and nothing else linked in, so that it pays for no language
 * runtime the launcher might need. */

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

typedef int (*JliLaunch)(int argc, char** argv, int jargc, const char** jargv,
                         int appclassc, const char** appclassv,
                         const char* fullversion, const char* dotversion,
                         const char* pname, const char* lname,
                         unsigned char javaargs, unsigned char cpwildcard,
                         unsigned char javaw, int ergo);

int main(int argc, char** argv) {
  void* library;
  void* symbol;
  JliLaunch launch;

  if (argc < 2) {
    fputs("usage: wrapkin_bench_limit LIBJLI [ARG...]\n", stderr);
    return 2;
  }
  library = dlopen(argv[1], RTLD_LAZY);
  if (library == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  symbol = dlsym(library, "JLI_Launch");
  if (symbol == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  /* POSIX makes the two pointers interchangeable; ISO C has no cast for it. */
  memcpy(&launch, &symbol, sizeof(launch));
  /* The launcher's command line starts with its own path, as this one does
   * after the library's. */
  argv[1] = argv[0];
  return launch(argc - 1, argv + 1, 0, NULL, 0, NULL, "", "", "java", "java",
                0, 0, 0, 0) == 0
             ? 0
             : 1;
}
