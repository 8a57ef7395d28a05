// A stand-in for the Java runtime's launcher library: exports JLI_Launch,
// records what it was given and returns a chosen result. Controlled through
// the environment, so that both in-process tests and tests that run the
// launcher executable can use it:
//
//   FAKE_JLI_RECORD=<file>   append one record per call to <file>
//   FAKE_JLI_ENV=<A>:<B>...  environment variables to record, as seen at the
//                            moment of the call
//   FAKE_JLI_RESULT=<n>      the result of every call (default 0)
//
// A record is a block of "key=value" lines, starting with "call=<n>" (the
// number of the call within the process, from 1) and ending with "end=<n>".
// Strings are written in double quotes, with backslash and newline escaped as
// \\ and \n; a null pointer is written as null. Keys: call, tid, main-thread,
// argc, argv[i] (0..argc, the last one being the terminating slot), jargc,
// jargv or jargv[i], appclassc, appclassv or appclassv[i], fullversion,
// dotversion, versions-shared (1 when both are one pointer), pname, lname,
// javaargs, cpwildcard, javaw, ergo, env.<NAME>.
//
// Written in plain C style on purpose: nothing here may keep the library
// from being unloaded by dlclose, which tests check.

#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace {

// Calls so far; the runtime may call back into the launcher from a thread of
// its own, so the count is shared between threads.
int callCount = 0;

long long threadId() {
#if defined(__linux__)
  return static_cast<long long>(syscall(SYS_gettid));
#else
  uint64_t id = 0;
  pthread_threadid_np(nullptr, &id);
  return static_cast<long long>(id);
#endif
}

bool isMainThread() {
#if defined(__linux__)
  return syscall(SYS_gettid) == getpid();
#else
  return pthread_main_np() != 0;
#endif
}

void writeString(FILE* out, const char* key, const char* value) {
  if (value == nullptr) {
    fprintf(out, "%s=null\n", key);
    return;
  }
  fprintf(out, "%s=\"", key);
  for (const char* p = value; *p != '\0'; ++p) {
    if (*p == '\\') {
      fputs("\\\\", out);
    } else if (*p == '\n') {
      fputs("\\n", out);
    } else {
      fputc(*p, out);
    }
  }
  fputs("\"\n", out);
}

// The launcher hands over pointer arrays that need not be aligned.
const char* loadSlot(const void* array, int i) {
  const char* value;
  memcpy(&value, static_cast<const char*>(array) + i * sizeof(value),
         sizeof(value));
  return value;
}

void writeArray(FILE* out, const char* key, int count, const void* array,
                bool withTerminator) {
  if (array == nullptr) {
    fprintf(out, "%s=null\n", key);
    return;
  }
  const int slots = count + (withTerminator ? 1 : 0);
  for (int i = 0; i < slots; ++i) {
    char slotKey[64];
    snprintf(slotKey, sizeof(slotKey), "%s[%d]", key, i);
    writeString(out, slotKey, loadSlot(array, i));
  }
}

void writeEnvironment(FILE* out) {
  const char* names = getenv("FAKE_JLI_ENV");
  if (names == nullptr) {
    return;
  }
  const char* start = names;
  for (;;) {
    const char* end = strchr(start, ':');
    const size_t len = end == nullptr ? strlen(start) : size_t(end - start);
    if (len != 0) {
      char* name = strndup(start, len);
      char key[512];
      snprintf(key, sizeof(key), "env.%s", name);
      writeString(out, key, getenv(name));
      free(name);
    }
    if (end == nullptr) {
      break;
    }
    start = end + 1;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int JLI_Launch(
    int argc, char** argv, int jargc, const char** jargv, int appclassc,
    const char** appclassv, const char* fullversion, const char* dotversion,
    const char* pname, const char* lname, unsigned char javaargs,
    unsigned char cpwildcard, unsigned char javaw, int ergo) {
  const int call = __atomic_add_fetch(&callCount, 1, __ATOMIC_SEQ_CST);

  const char* recordPath = getenv("FAKE_JLI_RECORD");
  if (recordPath != nullptr) {
    FILE* out = fopen(recordPath, "a");
    if (out == nullptr) {
      perror(recordPath);
      return 99;
    }
    fprintf(out, "call=%d\n", call);
    fprintf(out, "tid=%lld\n", threadId());
    fprintf(out, "main-thread=%d\n", isMainThread() ? 1 : 0);
    fprintf(out, "argc=%d\n", argc);
    writeArray(out, "argv", argc, argv, true);
    fprintf(out, "jargc=%d\n", jargc);
    writeArray(out, "jargv", jargc, jargv, false);
    fprintf(out, "appclassc=%d\n", appclassc);
    writeArray(out, "appclassv", appclassc, appclassv, false);
    writeString(out, "fullversion", fullversion);
    writeString(out, "dotversion", dotversion);
    fprintf(out, "versions-shared=%d\n", fullversion == dotversion ? 1 : 0);
    writeString(out, "pname", pname);
    writeString(out, "lname", lname);
    fprintf(out, "javaargs=%d\n", javaargs);
    fprintf(out, "cpwildcard=%d\n", cpwildcard);
    fprintf(out, "javaw=%d\n", javaw);
    fprintf(out, "ergo=%d\n", ergo);
    writeEnvironment(out);
    fprintf(out, "end=%d\n", call);
    fclose(out);
  }

  const char* result = getenv("FAKE_JLI_RESULT");
  return result == nullptr ? 0 : atoi(result);
}
