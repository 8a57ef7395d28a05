#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "AppCdsStore.h"
#include "AppCdsWaiter.h"
#include "FileUtils.h"
#include "SpawnDescriptors.h"

extern char** environ;

namespace {

// In the waiter's environment only, with the start's process id: what the
// user's arguments or environment cannot give a start by accident, since
// the waiter must also hold the archive's lock as descriptor 3.
const char kWaiterMark[] = "WRAPKIN_CLASS_DATA_WAITER";
constexpr int kLockDescriptor = 3;

// The waiter's arguments.
enum { kTitle, kArchive, kClassList, kDumpOutput, kDumpCommand };

// The variables with which the runtime's `java` launcher, or the JVM
// itself, add options of their own: the dump must run with those of the
// start alone, or the archive would not fit the starts that use it.
const char* const kOptionVariables[] = {"JDK_JAVA_OPTIONS",
                                        "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS"};

// Out of the way of what the user does next.
constexpr int kNiceness = 10;

// How often the waiter looks whether the start has ended.
constexpr long kPollIntervalNs = 10 * 1000 * 1000;

// The start's process id, from the mark.
pid_t startPid = 0;

bool isOptionVariable(const char* entry) {
  for (const char* name : kOptionVariables) {
    const std::size_t size = std::strlen(name);
    if (std::strncmp(entry, name, size) == 0 && entry[size] == '=') {
      return true;
    }
  }
  return false;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) {
    pointers.push_back(&s[0]);
  }
  pointers.push_back(nullptr);
  return pointers;
}

// Starts `program` in a session of its own, with every signal's default
// action and none blocked (the JVM's thread that exits blocks some), its
// standard streams on the null device, `passed` as descriptor 3 and no
// other descriptor of this process.
bool spawnDetached(const std::string& program, char* const argv[],
                   char* const envp[], int passed) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    return false;
  }
  if (posix_spawnattr_init(&attributes) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF |
                POSIX_SPAWN_SETSIGMASK;
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  sigset_t none;
  sigemptyset(&none);
  // dup2 onto the same number would leave the descriptor close-on-exec.
  const int source = passed == kLockDescriptor
                         ? fcntl(passed, F_DUPFD_CLOEXEC, kLockDescriptor + 1)
                         : passed;
  pid_t pid = 0;
  const bool started =
      source >= 0 &&
      posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null",
                                       O_RDONLY, 0) == 0 &&
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null",
                                       O_WRONLY, 0) == 0 &&
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null",
                                       O_WRONLY, 0) == 0 &&
      posix_spawn_file_actions_adddup2(&actions, source, kLockDescriptor) ==
          0 &&
      keepOnlyGivenDescriptors(kLockDescriptor + 1, &actions, &flags) &&
      posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
      posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
      posix_spawnattr_setflags(&attributes, flags) == 0 &&
      posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp) ==
          0;
  if (source != passed && source >= 0) {
    close(source);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return started;
}

// SIGTERM to the waiter ends the dump too: they share a process group, of
// which the waiter is the leader.
extern "C" void endWithTheDump(int) {
  signal(SIGTERM, SIG_DFL);
  kill(0, SIGTERM);
}

void waitUntilTheStartHasEnded() {
  const struct timespec interval = {0, kPollIntervalNs};
  // Once the start has ended, the waiter has another parent.
  while (getppid() == startPid) {
    nanosleep(&interval, nullptr);
  }
}

bool runDump(char* const command[]) {
  pid_t dump = 0;
  if (posix_spawn(&dump, command[0], nullptr, nullptr, command, environ) !=
      0) {
    return false;
  }
  int status = 0;
  while (waitpid(dump, &status, 0) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

namespace AppCdsWaiter {

bool start(const AppCdsStore::Completion& completion, int lockDescriptor) {
  std::vector<std::string> args{
      FileUtils::basename(completion.launcher) + " (class-data archive)",
      completion.archive, completion.produced,
      AppCdsStore::dumpOutput(completion.archive)};
  args.insert(args.end(), completion.dumpCommand.begin(),
              completion.dumpCommand.end());
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!isOptionVariable(*entry)) {
      env.push_back(*entry);
    }
  }
  env.push_back(std::string(kWaiterMark) + "=" +
                std::to_string(static_cast<long>(getpid())));
  return spawnDetached(completion.launcher, pointersTo(args).data(),
                       pointersTo(env).data(), lockDescriptor);
}

bool isStartedAsWaiter(int argc, char** argv) {
  const char* const mark = std::getenv(kWaiterMark);
  if (mark == nullptr) {
    return false;
  }
  startPid = static_cast<pid_t>(std::atol(mark));
  unsetenv(kWaiterMark);
  struct stat held;
  struct stat lock;
  return argc > kDumpCommand && startPid > 0 &&
         fstat(kLockDescriptor, &held) == 0 &&
         lstat(AppCdsStore::lockFile(argv[kArchive]).c_str(), &lock) == 0 &&
         held.st_dev == lock.st_dev && held.st_ino == lock.st_ino;
}

int run(char** argv) {
  // The dump needs no lock: the waiter holds it for as long as it lives.
  fcntl(kLockDescriptor, F_SETFD, FD_CLOEXEC);
  (void)nice(kNiceness);
  struct sigaction onTerm = {};
  onTerm.sa_handler = endWithTheDump;
  sigaction(SIGTERM, &onTerm, nullptr);
  waitUntilTheStartHasEnded();

  const std::string archive = argv[kArchive];
  const std::string dumpOutput = argv[kDumpOutput];
  if (!runDump(argv + kDumpCommand) ||
      !AppCdsStore::commit(archive, dumpOutput)) {
    AppCdsStore::noteFailure(archive);
    unlink(dumpOutput.c_str());
  }
  unlink(argv[kClassList]);
  return 0;
}

}  // namespace AppCdsWaiter
