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
#include "CacheDir.h"
#include "ClassPathLog.h"
#include "DetachedSpawn.h"
#include "FileUtils.h"

extern char** environ;

namespace {

// In the waiter's environment only, with the start's process id: what the
// user's arguments or environment cannot give a start by accident, since
// the waiter must also hold the archive's lock as descriptor 3.
const char kWaiterMark[] = "WRAPKIN_CLASS_DATA_WAITER";
constexpr int kLockDescriptor = 3;

// The waiter's arguments: these, then the number of the key's sources and
// the sources, then the number of the dump command's words, the dump
// command, and the proof command to the end.
enum { kTitle, kArchive, kClassList, kDumpOutput, kSourceCount };

// More of the proof's log than any class path gives is no log of one.
constexpr std::size_t kMaxProofLog = std::size_t(64) << 20;

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

// The waiter's arguments after the first few.
struct Commands {
  std::vector<std::string> keySources;
  std::vector<char*> dump;
  std::vector<char*> proof;
};
Commands commands;

// Takes `count`, then that many arguments from `next` on, into `taken`;
// false when there are not as many before `end`.
template <typename Out>
bool takeCounted(char**& next, char** end, Out& taken) {
  char* last = nullptr;
  const long count = next < end ? std::strtol(*next, &last, 10) : -1;
  if (count < 0 || last == *next || *last != '\0' || count >= end - next) {
    return false;
  }
  taken.assign(next + 1, next + 1 + count);
  next += count + 1;
  return true;
}

bool parseCommands(int argc, char** argv) {
  char** next = argv + kSourceCount;
  char** const end = argv + argc;
  if (argc <= kSourceCount || !takeCounted(next, end, commands.keySources) ||
      !takeCounted(next, end, commands.dump) || commands.dump.empty() ||
      next == end) {
    return false;
  }
  commands.dump.push_back(nullptr);
  commands.proof.assign(next, end);
  commands.proof.push_back(nullptr);
  return true;
}

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

bool succeeded(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool runDump(char* const command[]) {
  pid_t dump = 0;
  return posix_spawn(&dump, command[0], nullptr, nullptr, command, environ) ==
             0 &&
         succeeded(dump);
}

// Runs the proof with its standard output into `log`: whether the runtime
// mapped the archive.
bool runProof(char* const command[], std::string& log) {
  int out[2];
  if (pipe(out) != 0) {
    return false;
  }
  fcntl(out[0], F_SETFD, FD_CLOEXEC);
  fcntl(out[1], F_SETFD, FD_CLOEXEC);
  posix_spawn_file_actions_t actions;
  pid_t proof = 0;
  bool started = false;
  if (posix_spawn_file_actions_init(&actions) == 0) {
    started = posix_spawn_file_actions_adddup2(&actions, out[1],
                                               STDOUT_FILENO) == 0 &&
              posix_spawn(&proof, command[0], &actions, nullptr, command,
                          environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  close(out[1]);
  bool whole = started;
  char chunk[65536];
  while (started) {
    const ssize_t size = read(out[0], chunk, sizeof(chunk));
    if (size == 0) {
      break;
    }
    if (size < 0) {
      if (errno == EINTR) {
        continue;
      }
      whole = false;
      break;
    }
    // Past the limit, read on all the same: the runtime must not wait on a
    // full pipe.
    if (log.size() < kMaxProofLog) {
      log.append(chunk, static_cast<std::size_t>(size));
    } else {
      whole = false;
    }
  }
  close(out[0]);
  return started && succeeded(proof) && whole;
}

}  // namespace

namespace AppCdsWaiter {

bool start(const AppCdsStore::Completion& completion, int lockDescriptor) {
  std::vector<std::string> args{
      FileUtils::basename(completion.launcher) + " (class-data archive)",
      completion.archive, completion.produced,
      AppCdsStore::dumpOutput(completion.archive)};
  for (const std::vector<std::string>* counted :
       {&completion.keySources, &completion.dumpCommand}) {
    args.push_back(std::to_string(counted->size()));
    args.insert(args.end(), counted->begin(), counted->end());
  }
  args.insert(args.end(), completion.proofCommand.begin(),
              completion.proofCommand.end());
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
  return startPid > 0 && parseCommands(argc, argv) &&
         AppCdsStore::isLockOf(kLockDescriptor, argv[kArchive]);
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
  // An archive that the runtime would not map is no archive: the runtime
  // would then map no class data at all.
  std::string proofLog;
  if (!runDump(commands.dump.data()) ||
      !runProof(commands.proof.data(), proofLog) ||
      !AppCdsStore::commit(
          archive, dumpOutput,
          CacheDir::notFollowed(commands.keySources,
                                ClassPathLog::checkedFiles(proofLog)))) {
    AppCdsStore::noteFailure(archive);
    unlink(dumpOutput.c_str());
  }
  unlink(argv[kClassList]);
  return 0;
}

}  // namespace AppCdsWaiter
