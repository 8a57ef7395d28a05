// A stand-in for the Java runtime's launcher library: exports JLI_Launch,
// records what it was given and returns a chosen result. Steered through the
// environment, so that in-process tests and tests that run the launcher
// executable can both use it:
//
//   FAKE_JLI_RECORD=<file>   append one record per call to <file>
//   FAKE_JLI_ENV=<A>:<B>...  environment variables to record as they are at
//                            the moment of the call
//   FAKE_JLI_RESULT=<n>      the result of every call that returns
//                            (default 0)
//   FAKE_JLI_DLSYM=<A>:<B>.. names to look up in the whole process with
//                            dlsym(RTLD_DEFAULT, ...), as the macOS runtime
//                            finds main
//   FAKE_JLI_REENTER=1       behave like the macOS runtime: the first call
//                            starts a thread that calls the process's main
//                            with arguments of its own, waits for it and
//                            ends the process with its result; calls on that
//                            thread record and return
//   FAKE_JLI_REMOVE=<file>   with FAKE_JLI_REENTER, remove <file> before main
//                            is called again
//   An argument -XX:ArchiveClassesAtExit=<file> makes it write <file> as
//   the runtime writes a class-data archive: the archive's magic number,
//   then 64 KiB of zeros; -XX:DumpLoadedClassList=<file> makes it write a
//   class list of one class there.
//   FAKE_JLI_KEEP_OPEN=<file> open <file> without close-on-exec and keep it
//                            open, as an application's descriptor
//   FAKE_JLI_STDERR=<n>      the call that runs the application (the only
//                            one, or with FAKE_JLI_REENTER those on the
//                            thread) first writes <n> bytes to standard
//                            error: the lines "stderr line 1", "stderr
//                            line 2"..., the last one cut at the bound
//   FAKE_JLI_CHILD=<command> that call then starts /bin/sh -c <command>
//                            with the process's streams and leaves it
//                            running, as an application starts a helper
//   FAKE_JLI_WAIT=<file>     that call then waits until <file> exists
//   FAKE_JLI_KILL=1          that call then ends the process by SIGKILL
//   FAKE_JLI_VM=1            that call then creates a JVM: the library's
//                            JNI_GetCreatedJavaVMs reports one from then
//                            on, and the library is made global, as the
//                            runtime loads its JVM library
//   FAKE_JLI_EXIT=<n>        that call then ends the process with exit(<n>)
//                            instead of returning, as the runtime does when
//                            it cannot create the JVM, or for System.exit
//   FAKE_JLI_RESTART=1       behave like the Linux runtime when
//                            LD_LIBRARY_PATH names another runtime: the first
//                            call records nothing and executes the program
//                            anew (/proc/self/exe's target, same process id)
//                            with the argument vector it was given,
//                            FAKE_JLI_RESTART then set to "done"
//
// A record is a block of lines from "call=<n>" (the number of the call in
// this process, from 1) to "end=<n>". A string is written as key=text, with
// every backslash doubled and every line feed written as backslash and "n",
// so that one line holds it whatever its bytes; a null pointer is written as
// the bare key; jargv and appclassv are only told apart as null or "(set)".
// Keys: call, tid, main-thread, argc,
// argv[0]..argv[argc] (the last being the terminating slot), jargc, jargv,
// appclassc, appclassv, fullversion, dotversion, versions-shared (1 when
// both are one pointer), pname, lname, javaargs, cpwildcard, javaw, ergo,
// env.<NAME>, dlsym.<NAME> ("found" or "missing").
//
// Plain C style on purpose: nothing here may keep dlclose from unloading
// the library, which tests check.

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#endif

extern char** environ;

namespace {

// The runtime calls back into the launcher from a thread of its own, so
// calls may come from two threads.
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
    fprintf(out, "%s\n", key);
    return;
  }
  fprintf(out, "%s=", key);
  for (const char* c = value; *c != '\0'; ++c) {
    if (*c == '\\') {
      fputs("\\\\", out);
    } else if (*c == '\n') {
      fputs("\\n", out);
    } else {
      fputc(*c, out);
    }
  }
  fputc('\n', out);
}

void writeEnvironment(FILE* out) {
  const char* names = getenv("FAKE_JLI_ENV");
  while (names != nullptr && *names != '\0') {
    const size_t len = strcspn(names, ":");
    char key[512];
    snprintf(key, sizeof(key), "env.%.*s", static_cast<int>(len), names);
    writeString(out, key, getenv(key + 4));
    names += len + (names[len] == ':' ? 1 : 0);
  }
}

void writeLookups(FILE* out) {
  const char* names = getenv("FAKE_JLI_DLSYM");
  while (names != nullptr && *names != '\0') {
    const size_t len = strcspn(names, ":");
    char name[256];
    snprintf(name, sizeof(name), "%.*s", static_cast<int>(len), names);
    fprintf(out, "dlsym.%s=%s\n", name,
            dlsym(RTLD_DEFAULT, name) != nullptr ? "found" : "missing");
    names += len + (names[len] == ':' ? 1 : 0);
  }
}

// Set by the first call before it starts the thread that re-enters main;
// creating the thread orders the write before that thread's reads.
bool reentering = false;

typedef int (*MainFunc)(int, char**);

struct Reentry {
  MainFunc main;
  int result;
};

void* callMain(void* arg) {
  Reentry* reentry = static_cast<Reentry*>(arg);
  // The runtime passes main arguments of its own choosing.
  static char program[] = "fake-jli-runtime";
  static char option[] = "-Dfake.jli=reentered";
  static char* argv[] = {program, option, nullptr};
  reentry->result = reentry->main(2, argv);
  return nullptr;
}

// What the macOS runtime does on the first call: run main again on a thread
// of its own and end the process with its result.
[[noreturn]] void reenterMain() {
  const char* remove = getenv("FAKE_JLI_REMOVE");
  if (remove != nullptr && unlink(remove) != 0) {
    perror(remove);
    exit(98);
  }
  Reentry reentry = {nullptr, 0};
  void* symbol = dlsym(RTLD_DEFAULT, "main");
  if (symbol == nullptr) {
    fprintf(stderr, "fake JLI: no main in the process\n");
    exit(97);
  }
  memcpy(&reentry.main, &symbol, sizeof(symbol));
  reentering = true;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, callMain, &reentry) != 0 ||
      pthread_join(thread, nullptr) != 0) {
    fprintf(stderr, "fake JLI: cannot run main on a thread\n");
    exit(96);
  }
  exit(reentry.result);
}

// The file that argument `option` names, or null.
const char* optionValue(int argc, char** argv, const char* option) {
  const size_t size = strlen(option);
  for (int i = 0; i < argc; ++i) {
    const char* arg;
    memcpy(&arg, reinterpret_cast<const char*>(argv) + i * sizeof(arg),
           sizeof(arg));
    if (strncmp(arg, option, size) == 0) {
      return arg + size;
    }
  }
  return nullptr;
}

void writeClassData(int argc, char** argv) {
  const char* archive =
      optionValue(argc, argv, "-XX:ArchiveClassesAtExit=");
  FILE* out = archive == nullptr ? nullptr : fopen(archive, "wb");
  if (out != nullptr) {
    static const unsigned char magic[4] = {0xa8, 0xab, 0x0b, 0xf0};
    static const char zeros[64 * 1024] = {};
    fwrite(magic, 1, sizeof(magic), out);
    fwrite(zeros, 1, sizeof(zeros), out);
    fclose(out);
  }
  const char* classList =
      optionValue(argc, argv, "-XX:DumpLoadedClassList=");
  out = classList == nullptr ? nullptr : fopen(classList, "w");
  if (out != nullptr) {
    fputs("java/lang/Object\n", out);
    fclose(out);
  }
}

// What the Linux runtime does when it wants another library path: start
// the program over with the same arguments.
int restartProgram(int argc, char** argv) {
  // The launcher's pointer array need not be aligned; execv's must be.
  char** args = static_cast<char**>(calloc(argc + 1, sizeof(char*)));
  if (args == nullptr) {
    return 95;
  }
  memcpy(args, argv, argc * sizeof(char*));
  // Read first, as the runtime does: a tool such as valgrind that runs the
  // program shows its path there, not its own.
  char program[4096];
  const ssize_t size = readlink("/proc/self/exe", program, sizeof(program) - 1);
  if (size > 0) {
    program[size] = '\0';
    setenv("FAKE_JLI_RESTART", "done", 1);
    fflush(nullptr);
    execv(program, args);
  }
  perror("fake JLI: restart");
  free(args);
  return 94;
}

// What the runtime writes to standard error, in large writes.
void writeStandardError(size_t size) {
  char* text = static_cast<char*>(malloc(size + 32));
  if (text == nullptr) {
    exit(93);
  }
  size_t length = 0;
  for (long line = 1; length < size; ++line) {
    length += static_cast<size_t>(
        snprintf(text + length, 32, "stderr line %ld\n", line));
  }
  for (size_t written = 0; written < size;) {
    const ssize_t n = write(STDERR_FILENO, text + written, size - written);
    if (n <= 0) {
      break;
    }
    written += static_cast<size_t>(n);
  }
  free(text);
}

int createdVms = 0;

// What loading the JVM library does: its names become visible to the
// whole process.
void createVm() {
  createdVms = 1;
  Dl_info self;
  if (dladdr(&createdVms, &self) == 0 ||
      dlopen(self.dli_fname, RTLD_NOW | RTLD_GLOBAL | RTLD_NOLOAD) == nullptr) {
    fprintf(stderr, "fake JLI: cannot make itself global\n");
    exit(92);
  }
}

// A helper program of the application's, which inherits its streams.
void startChild(const char* command) {
  static char shell[] = "/bin/sh";
  static char option[] = "-c";
  char* const argv[] = {shell, option, const_cast<char*>(command), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, shell, nullptr, nullptr, argv, environ) != 0) {
    fprintf(stderr, "fake JLI: cannot start the child\n");
    exit(91);
  }
}

void waitForFile(const char* path) {
  const struct timespec interval = {0, 5 * 1000 * 1000};
  for (int waited = 0; access(path, F_OK) != 0 && waited < 12000; ++waited) {
    nanosleep(&interval, nullptr);
  }
}

// What the runtime does once it runs the application.
void runApplication() {
  const char* stderrSize = getenv("FAKE_JLI_STDERR");
  if (stderrSize != nullptr) {
    writeStandardError(strtoul(stderrSize, nullptr, 10));
  }
  const char* child = getenv("FAKE_JLI_CHILD");
  if (child != nullptr) {
    startChild(child);
  }
  const char* wait = getenv("FAKE_JLI_WAIT");
  if (wait != nullptr) {
    waitForFile(wait);
  }
  if (getenv("FAKE_JLI_KILL") != nullptr) {
    kill(getpid(), SIGKILL);
  }
  if (getenv("FAKE_JLI_VM") != nullptr) {
    createVm();
  }
  const char* exitCode = getenv("FAKE_JLI_EXIT");
  if (exitCode != nullptr) {
    exit(atoi(exitCode));
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int JNI_GetCreatedJavaVMs(
    void** vms, int size, int* count) {
  if (size > 0 && createdVms > 0) {
    vms[0] = &createdVms;
  }
  *count = createdVms;
  return 0;
}

extern "C" __attribute__((visibility("default"))) int JLI_Launch(
    int argc, char** argv, int jargc, const char** jargv, int appclassc,
    const char** appclassv, const char* fullversion, const char* dotversion,
    const char* pname, const char* lname, unsigned char javaargs,
    unsigned char cpwildcard, unsigned char javaw, int ergo) {
  const char* restart = getenv("FAKE_JLI_RESTART");
  if (restart != nullptr && strcmp(restart, "1") == 0) {
    return restartProgram(argc, argv);
  }
  const int call = __atomic_add_fetch(&callCount, 1, __ATOMIC_SEQ_CST);

  const char* recordPath = getenv("FAKE_JLI_RECORD");
  if (recordPath != nullptr) {
    FILE* out = fopen(recordPath, "a");
    if (out == nullptr) {
      perror(recordPath);
      return 99;
    }
    fprintf(out, "call=%d\ntid=%lld\nmain-thread=%d\nargc=%d\n", call,
            threadId(), isMainThread() ? 1 : 0, argc);
    for (int i = 0; i <= argc; ++i) {
      // The launcher's pointer array need not be aligned.
      const char* arg;
      memcpy(&arg, reinterpret_cast<const char*>(argv) + i * sizeof(arg),
             sizeof(arg));
      char key[32];
      snprintf(key, sizeof(key), "argv[%d]", i);
      writeString(out, key, arg);
    }
    fprintf(out, "jargc=%d\n", jargc);
    writeString(out, "jargv", jargv == nullptr ? nullptr : "(set)");
    fprintf(out, "appclassc=%d\n", appclassc);
    writeString(out, "appclassv", appclassv == nullptr ? nullptr : "(set)");
    writeString(out, "fullversion", fullversion);
    writeString(out, "dotversion", dotversion);
    fprintf(out, "versions-shared=%d\n", fullversion == dotversion ? 1 : 0);
    writeString(out, "pname", pname);
    writeString(out, "lname", lname);
    fprintf(out, "javaargs=%d\ncpwildcard=%d\njavaw=%d\nergo=%d\n", javaargs,
            cpwildcard, javaw, ergo);
    writeEnvironment(out);
    writeLookups(out);
    fprintf(out, "end=%d\n", call);
    fclose(out);
  }

  if (getenv("FAKE_JLI_REENTER") != nullptr && !reentering) {
    reenterMain();
  }
  runApplication();

  writeClassData(argc, argv);

  const char* keepOpen = getenv("FAKE_JLI_KEEP_OPEN");
  if (keepOpen != nullptr && open(keepOpen, O_RDONLY) < 0) {
    perror(keepOpen);
    return 93;
  }

  const char* result = getenv("FAKE_JLI_RESULT");
  return result == nullptr ? 0 : atoi(result);
}
