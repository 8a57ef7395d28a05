#include "Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "BundleError.h"
#include "Interruption.h"

extern char** environ;

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

constexpr int kSignalCheckMs = 200;

// Reads both pipes until the child `pid` has closed them, so that neither
// fills up while the other is waited for. A signal that interrupts this run
// goes on to the child, which a signal sent to this process alone would
// leave running, writing into the staging folder.
void drain(pid_t pid, Pipe& out, Pipe& err, ProgramResult& result) {
  struct pollfd fds[2] = {{out.readEnd.get(), POLLIN, 0},
                          {err.readEnd.get(), POLLIN, 0}};
  std::string* texts[2] = {&result.out, &result.err};
  int open = 2;
  bool passedOn = false;
  while (open > 0) {
    if (!passedOn && Interruption::signalReceived() != 0) {
      kill(pid, Interruption::signalReceived());
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

ProgramResult runProgram(const std::vector<std::string>& argv) {
  Interruption::check();
  Pipe out;
  Pipe err;
  FileActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), out.writeEnd.get(),
                                   STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(actions.get(), err.writeEnd.get(),
                                   STDERR_FILENO);
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv.at(0).c_str(), actions.get(), nullptr,
                             args.data(), environ);
  if (rc != 0) {
    throw BundleError("cannot run " + inQuotes(argv.at(0)) + ": " +
                      std::strerror(rc));
  }
  // Only the child writes now: our copies would keep the pipes from ending.
  out.writeEnd.reset();
  err.writeEnd.reset();

  ProgramResult result;
  drain(pid, out, err, result);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  Interruption::check();
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  }
  return result;
}

ProgramResult runProgramOrFail(const std::vector<std::string>& argv) {
  ProgramResult result = runProgram(argv);
  if (result.exitCode != 0) {
    throw BundleError(inQuotes(argv.at(0)) + " failed (" +
                      (result.exitCode < 0
                           ? std::string("ended by a signal")
                           : "exit code " + std::to_string(result.exitCode)) +
                      "): " + result.firstLine());
  }
  return result;
}
