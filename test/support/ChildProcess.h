#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"

extern char** environ;

// The environment of a child process: a copy of this process's environment,
// changed by name.
class ChildEnv {
 public:
  // This process's environment without what would change how the launcher or
  // a Java runtime behaves behind a test's back: a library path naming a
  // runtime makes libjli start the process anew, the JVM adds options
  // from the *_OPTIONS variables, XDG_CONFIG_HOME would move the user
  // options file and XDG_STATE_HOME the log.
  static ChildEnv clean() {
    ChildEnv env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text(*entry);
      const std::string::size_type eq = text.find('=');
      if (eq != std::string::npos) {
        env.vars[text.substr(0, eq)] = text.substr(eq + 1);
      }
    }
    for (const char* name :
         {"WRAPKIN_DEBUG",       "DYLD_LIBRARY_PATH", "LD_LIBRARY_PATH",
          "JAVA_TOOL_OPTIONS",   "_JAVA_OPTIONS",     "JDK_JAVA_OPTIONS",
          "CLASSPATH",           "FAKE_JLI_RECORD",   "FAKE_JLI_ENV",
          "FAKE_JLI_RESULT",     "FAKE_JLI_DLSYM",    "FAKE_JLI_REENTER",
          "FAKE_JLI_REMOVE",     "FAKE_JLI_RESTART",  "FAKE_JLI_STDERR",
          "FAKE_JLI_VM",         "FAKE_JLI_EXIT",     "FAKE_JLI_CHILD",
          "FAKE_JLI_WAIT",       "FAKE_JLI_KILL",     "WRAPKIN_RESTART_MARK",
          "WRAPKIN_TEST_ALERTS", "XDG_CONFIG_HOME",   "XDG_STATE_HOME"}) {
      env.vars.erase(name);
    }
    return env;
  }

  ChildEnv& set(const std::string& name, const std::string& value) {
    vars[name] = value;
    return *this;
  }

  ChildEnv& unset(const std::string& name) {
    vars.erase(name);
    return *this;
  }

  // Appends `options` to ASAN_OPTIONS, whose later entries win.
  ChildEnv& addAsanOptions(const std::string& options) {
    std::string& value = vars["ASAN_OPTIONS"];
    value += (value.empty() ? "" : ":") + options;
    return *this;
  }

  std::vector<std::string> entries() const {
    std::vector<std::string> result;
    for (const auto& var : vars) {
      result.push_back(var.first + "=" + var.second);
    }
    return result;
  }

 private:
  std::map<std::string, std::string> vars;
};

struct ChildResult {
  // The exit code; -1 when the child was ended by a signal.
  int exitCode = -1;
  int signal = 0;
  bool timedOut = false;
  std::string out;
  std::string err;

  // For failure messages: everything about the run in one text.
  std::string describe() const {
    std::ostringstream text;
    text << "exit code " << exitCode;
    if (signal != 0) {
      text << ", signal " << signal;
    }
    if (timedOut) {
      text << ", timed out";
    }
    text << "\n--- stdout ---\n" << out << "--- stderr ---\n" << err;
    return text.str();
  }
};

namespace childprocess {

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

// Closes the spawn attributes on every way out.
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

// Starts `argv[0]` (a path, not looked up on PATH) with `argv` and `env`.
inline pid_t spawn(FileActions& actions, const std::vector<std::string>& argv,
                   const ChildEnv& env) {
  std::vector<std::string> envEntries = env.entries();
  std::vector<char*> argPointers;
  for (const std::string& arg : argv) {
    argPointers.push_back(const_cast<char*>(arg.c_str()));
  }
  argPointers.push_back(nullptr);
  std::vector<char*> envPointers;
  for (std::string& entry : envEntries) {
    envPointers.push_back(entry.data());
  }
  envPointers.push_back(nullptr);

  pid_t pid = 0;
  const int rc = posix_spawn(&pid, argv.at(0).c_str(), actions.get(), nullptr,
                             argPointers.data(), envPointers.data());
  if (rc != 0) {
    throw std::runtime_error("posix_spawn(" + argv.at(0) +
                             ") failed: " + std::strerror(rc));
  }
  return pid;
}

}  // namespace childprocess

// Where a child's standard error goes: a file (as a script's "2>log"), a
// pipe (as "2>&1 | less"), or the null device, where the Finder and the
// Dock put it. The result holds what the first two received. With
// PipeWithOutput standard output goes into the same pipe, and with Finder
// onto the null device too, as the Finder and the Dock start an
// application.
enum class ErrorOutput { File, Pipe, NullDevice, PipeWithOutput, Finder };

// Runs `argv[0]` (a path, not looked up on PATH) with `argv` and `env`, its
// standard input empty, its standard output captured and its standard error
// where `errorOutput` says. A child that outlives `timeout` is killed, so
// that a hanging launcher fails the test instead of stopping the suite.
inline ChildResult runChild(
    const std::vector<std::string>& argv, const ChildEnv& env,
    std::chrono::milliseconds timeout = std::chrono::seconds(60),
    ErrorOutput errorOutput = ErrorOutput::File) {
  const TempDir capture;
  const std::string outPath = (capture.path() / "out").string();
  const std::string errPath = (capture.path() / "err").string();

  childprocess::FileActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  const bool piped = errorOutput == ErrorOutput::Pipe ||
                     errorOutput == ErrorOutput::PipeWithOutput;
  int errPipe[2] = {-1, -1};
  if (piped) {
    if (pipe(errPipe) != 0) {
      throw std::runtime_error("pipe failed");
    }
    for (int fd : errPipe) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  if (errorOutput == ErrorOutput::PipeWithOutput) {
    posix_spawn_file_actions_adddup2(actions.get(), errPipe[1], STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(
        actions.get(), STDOUT_FILENO,
        errorOutput == ErrorOutput::Finder ? "/dev/null" : outPath.c_str(),
        O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  if (piped) {
    posix_spawn_file_actions_adddup2(actions.get(), errPipe[1], STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addopen(
        actions.get(), STDERR_FILENO,
        errorOutput == ErrorOutput::File ? errPath.c_str() : "/dev/null",
        O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }

  pid_t pid = 0;
  try {
    pid = childprocess::spawn(actions, argv, env);
  } catch (...) {
    for (int fd : errPipe) {
      if (fd >= 0) {
        close(fd);
      }
    }
    throw;
  }
  // Read while the child runs, so that it never waits for a full pipe.
  std::string pipedText;
  std::thread pipeReader;
  if (piped) {
    close(errPipe[1]);
    pipeReader = std::thread([&pipedText, fd = errPipe[0]] {
      char buffer[4096];
      ssize_t n;
      while ((n = read(fd, buffer, sizeof(buffer))) > 0 ||
             (n < 0 && errno == EINTR)) {
        pipedText.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
      }
      close(fd);
    });
  }

  ChildResult result;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) {
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  if (pipeReader.joinable()) {
    pipeReader.join();
  }
  result.out = childprocess::readFile(outPath);
  result.err = piped ? pipedText : childprocess::readFile(errPath);
  return result;
}
