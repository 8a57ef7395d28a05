// The floor program of limit.c written in C++ with the standard streams and
// linked like the launcher: what the language's runtime costs before main
// (the launcher's logging is built on std::cout and std::cerr).
//
//   wrapkin_bench_limit_streams LIBJLI [ARG...]

#include <dlfcn.h>

#include <cstring>
#include <iostream>

namespace {

typedef int (*JliLaunch)(int argc, char** argv, int jargc, const char** jargv,
                         int appclassc, const char** appclassv,
                         const char* fullversion, const char* dotversion,
                         const char* pname, const char* lname,
                         unsigned char javaargs, unsigned char cpwildcard,
                         unsigned char javaw, int ergo);

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: wrapkin_bench_limit_streams LIBJLI [ARG...]"
              << std::endl;
    return 2;
  }
  void* const library = dlopen(argv[1], RTLD_LAZY);
  if (library == nullptr) {
    std::cerr << dlerror() << std::endl;
    return 1;
  }
  void* const symbol = dlsym(library, "JLI_Launch");
  if (symbol == nullptr) {
    std::cerr << dlerror() << std::endl;
    return 1;
  }
  JliLaunch launch;
  std::memcpy(&launch, &symbol, sizeof(launch));
  argv[1] = argv[0];
  return launch(argc - 1, argv + 1, 0, nullptr, 0, nullptr, "", "", "java",
                "java", 0, 0, 0, 0) == 0
             ? 0
             : 1;
}
