// Writes a generated launcher configuration to standard output, for the
// whole-process runs of bench/run:
//
//   wrapkin_bench_cfg mixed|options|macros COUNT
//
// mixed: COUNT lines of a typical file; options: COUNT JVM options; macros:
// one JVM option with COUNT occurrences of "$APPDIR". See CfgText.h.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CfgText.h"

int main(int argc, char** argv) {
  char* end = nullptr;
  const long long count = argc == 3 ? std::strtoll(argv[2], &end, 10) : -1;
  if (argc != 3 || *end != '\0' || count < 4) {
    std::fprintf(stderr,
                 "usage: wrapkin_bench_cfg mixed|options|macros COUNT (>= 4)\n");
    return 2;
  }
  std::string text;
  if (std::strcmp(argv[1], "mixed") == 0) {
    text = CfgText::mixed(count);
  } else if (std::strcmp(argv[1], "options") == 0) {
    text = CfgText::javaOptions(count);
  } else if (std::strcmp(argv[1], "macros") == 0) {
    text = CfgText::macros(count);
  } else {
    std::fprintf(stderr, "wrapkin_bench_cfg: unknown kind \"%s\"\n", argv[1]);
    return 2;
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
      std::fflush(stdout) != 0) {
    std::perror("wrapkin_bench_cfg");
    return 1;
  }
  return 0;
}
