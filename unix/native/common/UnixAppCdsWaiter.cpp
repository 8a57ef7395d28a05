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
#include "DetachedSpawn.h"
#include "FileUtils.h"

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
  // Its standard streams on the null device, the lock as descriptor 3.
  std::vector<int> descriptors(kLockDescriptor + 1, -1);
  descriptors[kLockDescriptor] = lockDescriptor;
  return spawnDetached(completion.launcher, pointersTo(args).data(),
                       pointersTo(env).data(), descriptors);
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
