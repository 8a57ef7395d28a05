// The path functions against their stated properties on arbitrary bytes:
// the parts they cut from a path are pieces of it in the right places, the
// directory part never ends in a separator, and a combined path holds its
// parent and child with one '/' between them.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FileUtils.h"
#include "FuzzCheck.h"

namespace {

std::string workingDirectory;

bool hasSeparator(const std::string& s) {
  return s.find_first_of("/\\") != std::string::npos;
}

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() &&
         s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool startsWith(const std::string& s, const std::string& head) {
  return s.compare(0, head.size(), head) == 0;
}

bool allSeparators(const std::string& s) {
  return s.find_first_not_of("/\\") == std::string::npos;
}

void checkDirname(const std::string& path) {
  const std::string dir = FileUtils::dirname(path);
  FUZZ_CHECK(dir.empty() || !FileUtils::isDirSeparator(dir.back()));
  FUZZ_CHECK(startsWith(path, dir));

  // "a/b/." stands for "a/b"; the directory part is what precedes the run
  // of separators in front of the last component, and a run that reaches
  // the start of the path leaves nothing.
  std::string named = path;
  if (named.size() >= 2 && named.back() == '.' &&
      FileUtils::isDirSeparator(named[named.size() - 2])) {
    named.resize(named.size() - 2);
  }
  const std::string::size_type last = named.find_last_of("/\\");
  std::string::size_type runStart = last == std::string::npos ? 0 : last;
  while (runStart > 0 && FileUtils::isDirSeparator(named[runStart - 1])) {
    --runStart;
  }
  FUZZ_CHECK(dir == named.substr(0, runStart));
}

void checkBasename(const std::string& path) {
  const std::string base = FileUtils::basename(path);
  FUZZ_CHECK(!hasSeparator(base));
  FUZZ_CHECK(endsWith(path, base));
  if (base.size() < path.size()) {
    FUZZ_CHECK(FileUtils::isDirSeparator(path[path.size() - base.size() - 1]));
  } else {
    FUZZ_CHECK(!hasSeparator(path));
  }
}

void checkSuffix(const std::string& path, const std::string& newSuffix) {
  const std::string suffix = FileUtils::suffix(path);
  const std::string base = FileUtils::basename(path);
  FUZZ_CHECK(endsWith(base, suffix));
  if (!suffix.empty()) {
    // From the last dot of the last component on.
    FUZZ_CHECK(suffix[0] == '.');
    FUZZ_CHECK(suffix.find('.', 1) == std::string::npos);
  } else if (base.find('.') != std::string::npos) {
    // Only a component that starts with ".." and has no later dot has a
    // dot but no suffix.
    FUZZ_CHECK(startsWith(base, "..") &&
               base.find('.', 2) == std::string::npos);
  }
  const std::string stem = path.substr(0, path.size() - suffix.size());
  FUZZ_CHECK(FileUtils::replaceSuffix(path, newSuffix) == stem + newSuffix);
  FUZZ_CHECK(FileUtils::replaceSuffix(path) == stem);
  FUZZ_CHECK(FileUtils::replaceSuffix(path, suffix) == path);
}

void checkTrailingSlash(const std::string& path) {
  const std::string stripped = FileUtils::removeTrailingSlash(path);
  FUZZ_CHECK(startsWith(path, stripped));
  FUZZ_CHECK(allSeparators(path.substr(stripped.size())));
  FUZZ_CHECK(stripped.empty() ||
             !FileUtils::isDirSeparator(stripped.back()));
  FUZZ_CHECK(stripped.empty() == allSeparators(path));
}

void checkNormalize(const std::string& path) {
  const std::string normal = FileUtils::normalizePath(path);
  FUZZ_CHECK(normal.size() == path.size());
  for (std::string::size_type i = 0; i < path.size(); ++i) {
    FUZZ_CHECK(normal[i] == (path[i] == '\\' ? '/' : path[i]));
  }
}

void checkCombine(const std::string& parent, const std::string& child) {
  const std::string combined = FileUtils::combinePath(parent, child);
  if (parent.empty()) {
    FUZZ_CHECK(combined == child);
    return;
  }
  if (child.empty()) {
    FUZZ_CHECK(combined == parent);
    return;
  }
  const std::string head = FileUtils::removeTrailingSlash(parent);
  const std::string tail = FileUtils::isDirSeparator(child[0])
                               ? child.substr(1)
                               : child;
  FUZZ_CHECK(combined.size() == head.size() + 1 + tail.size());
  FUZZ_CHECK(startsWith(combined, head));
  FUZZ_CHECK(combined[head.size()] == '/');
  FUZZ_CHECK(endsWith(combined, tail));
  if (!tail.empty() && !hasSeparator(tail)) {
    // A plain name put under a directory can be taken apart again.
    FUZZ_CHECK(FileUtils::basename(combined) == tail);
    if (tail != ".") {
      FUZZ_CHECK(FileUtils::dirname(combined) == head);
    }
  }
}

void checkAbsolute(const std::string& path) {
  const std::string absolute = FileUtils::toAbsolutePath(path);
  if (path.empty()) {
    FUZZ_CHECK(absolute == workingDirectory);
  } else if (FileUtils::isDirSeparator(path[0])) {
    FUZZ_CHECK(absolute == path);
  } else {
    FUZZ_CHECK(absolute == FileUtils::combinePath(workingDirectory, path));
    FUZZ_CHECK(absolute[0] == '/');
    FUZZ_CHECK(endsWith(absolute, "/" + path));
  }
}

void checkPath(const std::string& path, const std::string& other) {
  checkDirname(path);
  checkBasename(path);
  checkSuffix(path, other);
  checkTrailingSlash(path);
  checkNormalize(path);
  checkAbsolute(path);
  FUZZ_CHECK(FileUtils::stripExeSuffix(path) == path);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  for (int c = 0; c < 256; ++c) {
    FUZZ_CHECK(FileUtils::isDirSeparator(static_cast<char>(c)) ==
               (c == '/' || c == '\\'));
  }
  char* dir = getcwd(nullptr, 0);
  FUZZ_CHECK(dir != nullptr);
  workingDirectory = dir;
  std::free(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string parent = input.ConsumeRandomLengthString(64);
  const std::string child = input.ConsumeRemainingBytesAsString();

  checkPath(parent, child);
  checkPath(child, parent);
  checkCombine(parent, child);
  checkCombine(child, parent);
  return 0;
}
