#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <system_error>

#include "BundleError.h"
#include "Interruption.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A pipe's end, closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int descriptor = -1) : fd(descriptor) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }
  int get() const { return fd; }
  void reset(int replacement = -1) {
    if (fd >= 0) {
      close(fd);
    }
    fd = replacement;
  }

 private:
  int fd;
};

struct Pipe {
  Pipe() {
    int ends[2];
    if (pipe(ends) != 0) {
      throw BundleError(std::string("pipe() failed: ") + std::strerror(errno));
    }
    readEnd.reset(ends[0]);
    writeEnd.reset(ends[1]);
    // Neither end may leak into the child beyond its own dup2 copies.
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  }
  Descriptor readEnd;
  Descriptor writeEnd;
};

// Closes the spawn file actions on every way out.
class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions; }

 private:
  posix_spawn_file_actions_t actions;
};

// Destroys the spawn attributes on every way out.
class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* get() { return &attributes; }

 private:
  posix_spawnattr_t attributes;
};

constexpr int kSignalCheckMs = 200;

// How long the watchdog gives the program to end by SIGTERM, which lets a
// program such as hdiutil undo what it has begun, before it sends SIGKILL.
constexpr int kGraceChecks = 40;
constexpr long kGraceCheckNs = 50L * 1000 * 1000;

// What the tool writes into the lifeline: the program's process id once it
// runs, then a byte when it has ended.
constexpr std::size_t kReleaseSize = sizeof(pid_t) + 1;

// The watchdog's side. It leads the process group in which the program
// runs, so that the group's id names no other process while it lives.
// Unless the tool releases it, it ends the group, and with that itself.
[[noreturn]] void watch(int lifeline) {
  // The tool passes these on to the group, to end the program, and
  // releases the watchdog once the program has ended.
  for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
    signal(s, SIG_IGN);
  }
  unsigned char message[kReleaseSize];
  std::size_t received = 0;
  while (received < kReleaseSize) {
    const ssize_t n =
        read(lifeline, message + received, kReleaseSize - received);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    received += static_cast<std::size_t>(n);
  }
  if (received == kReleaseSize) {
    _exit(0);
  }
  // The tool has ended without waiting for the program.
  pid_t program = 0;
  if (received >= sizeof program) {
    std::memcpy(&program, message, sizeof program);
  }
  kill(-getpid(), SIGTERM);
  const struct timespec pause = {0, kGraceCheckNs};
  for (int i = 0; i < kGraceChecks && (program == 0 || kill(program, 0) == 0);
       ++i) {
    nanosleep(&pause, nullptr);
  }
  kill(-getpid(), SIGKILL);
  _exit(0);
}

// A process of its own that ends the programs this process runs, should
// this process end first, even by SIGKILL: then the kernel closes the
// lifeline, the one pipe whose writer this process is. It exists before
// the program does and leads the process group that the program joins,
// with all that it starts (xcrun runs notarytool as a child).
class Watchdog {
 public:
  Watchdog() {
    int ends[2];
    if (pipe(ends) != 0) {
      throw BundleError(std::string("pipe() failed: ") + std::strerror(errno));
    }
    Descriptor readEnd(ends[0]);
    lifeline.reset(ends[1]);
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);
    // This process runs no other threads, so the copy may go on running
    // its code; it touches nothing but the pipe and the group, and leaves
    // by _exit, which flushes no buffer of this process's twice.
    pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      lifeline.reset();
      watch(readEnd.get());
    }
    if (pid < 0) {
      throw BundleError(std::string("fork() failed: ") + std::strerror(errno));
    }
    // Both sides make the group, so that it exists whichever comes first.
    setpgid(pid, pid);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Left without release(): the watchdog ends the group.
  ~Watchdog() {
    if (pid > 0) {
      lifeline.reset();
      await();
    }
  }

  pid_t group() const { return pid; }

  // The program runs, in the group.
  void guard(pid_t program) {
    unsigned char message[sizeof program];
    std::memcpy(message, &program, sizeof program);
    send(message, sizeof message);
    guarding = true;
  }

  // The program has ended, or never started.
  void release() {
    if (!guarding) {
      guard(0);
    }
    const unsigned char done = 'd';
    send(&done, 1);
    lifeline.reset();
    await();
    pid = -1;
  }

 private:
  void send(const unsigned char* bytes, std::size_t count) {
    while (count > 0) {
      const ssize_t n = write(lifeline.get(), bytes, count);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        return;
      }
      bytes += n;
      count -= static_cast<std::size_t>(n);
    }
  }

  void await() {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }

  pid_t pid = -1;
  bool guarding = false;
  Descriptor lifeline;
};

// Reads both pipes until the child `group` has closed them, so that neither
// fills up while the other is waited for. A signal that interrupts this run
// goes on to the child's process group, which a signal sent to this process
// alone would leave running, writing into the staging folder.
void drain(pid_t group, Pipe& out, Pipe& err, ProgramResult& result) {
  struct pollfd fds[2] = {{out.readEnd.get(), POLLIN, 0},
                          {err.readEnd.get(), POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  int open = 2;
  bool passedOn = false;
  while (open > 0) {
    if (!passedOn && Interruption::signalReceived() != 0) {
      kill(-group, Interruption::signalReceived());
      passedOn = true;
    }
    // A signal between the check above and the wait would not interrupt
    // it: the wait looks again now and then.
    if (poll(fds, 2, kSignalCheckMs) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) {
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

}  // namespace

std::string ProgramResult::firstLine() const {
  for (const std::string* text : {&err, &out}) {
    std::string::size_type start = 0;
    while (start < text->size()) {
      std::string::size_type end = text->find('\n', start);
      if (end == std::string::npos) {
        end = text->size();
      }
      std::string line = text->substr(start, end - start);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      if (line.find_first_not_of(" \t") != std::string::npos) {
        return line;
      }
      start = end + 1;
    }
  }
  return "(it printed nothing)";
}

std::string ProgramResult::howItEnded() const {
  return exitCode < 0 ? "ended by a signal"
                      : "exit code " + std::to_string(exitCode);
}

ProgramResult runProgram(const std::vector<std::string>& argv) {
  Interruption::check();
  // Before the pipes: the watchdog must not hold their write ends, which
  // would keep them from ending.
  Watchdog watchdog;
  Pipe out;
  Pipe err;
  FileActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), out.writeEnd.get(),
                                   STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(actions.get(), err.writeEnd.get(),
                                   STDERR_FILENO);
  SpawnAttributes attributes;
  posix_spawnattr_setpgroup(attributes.get(), watchdog.group());
  posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv.at(0).c_str(), actions.get(),
                             attributes.get(), args.data(), environ);
  if (rc != 0) {
    watchdog.release();
    throw BundleError("cannot run " + inQuotes(argv.at(0)) + ": " +
                      std::strerror(rc));
  }
  watchdog.guard(pid);
  // Only the child writes now: our copies would keep the pipes from ending.
  out.writeEnd.reset();
  err.writeEnd.reset();

  ProgramResult result;
  drain(watchdog.group(), out, err, result);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  watchdog.release();
  Interruption::check();
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  return result;
}

ProgramResult runProgramOrFail(const std::vector<std::string>& argv) {
  ProgramResult result = runProgram(argv);
  if (result.exitCode != 0) {
    throw BundleError(inQuotes(argv.at(0)) + " failed (" + result.howItEnded() +
                      "): " + result.firstLine());
  }
  return result;
}

fs::path findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const fs::path program = fs::path(folder.empty() ? "." : folder) / name;
    std::error_code error;
    if (fs::is_regular_file(program, error) &&
        (fs::status(program, error).permissions() & fs::perms::owner_exec) !=
            fs::perms::none) {
      return program;
    }
  }
  return {};
}
