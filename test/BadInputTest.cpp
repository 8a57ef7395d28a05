// Every way a bundle or its environment can be broken, one row each, as
// docs/BAD-INPUT.md lists them: the launcher executable runs in a bundle
// that wrapkin-bundle assembled around the fake runtime library
// (doubles/FakeJli.cpp) and must end within a bound, without a signal, with
// the documented exit code and either exactly the documented line on
// standard error or, where the launch goes ahead, nothing on it and the
// exact command line at JLI_Launch.
//
// With WRAPKIN_VALGRIND naming valgrind, every launcher run is made under
// memcheck, which turns a leak or a memory error into exit code 99 (the
// ctest test bad_input_under_valgrind).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BundleTool.h"
#include "ChildProcess.h"
#include "ExpectedText.h"
#include "FakeJliRecord.h"

namespace fs = std::filesystem;

namespace {

// Where the launcher looks first for the runtime library, under the root.
const char kJli[] = "/Contents/runtime/Contents/Home/lib/libjli.dylib";
const char kMainClass[] = "[Application]\napp.mainclass=a.B\n";
const char kNulInValue[] = "[Application]\napp.mainclass=a.B\0junk\n";
const char kWithUserOptions[] =
    "[Application]\napp.mainclass=a.B\napp.user-options=$CONFIGDIR/Tool.cfg\n";

// An argument for a failure message: long ones cut, bytes kept.
std::string shown(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) {
    text += "\n  [" + arg.substr(0, 100) +
            (arg.size() > 100 ? "...](" + std::to_string(arg.size()) + " bytes)"
                              : "]");
  }
  return text;
}

// 64 KiB of bytes that look random and are the same everywhere: the
// generator's sequence is fixed by the standard. With this seed, line 48 is
// the first to begin with "[", and it has no "]".
std::string binaryGarbage() {
  std::minstd_rand next(20240601);
  std::string bytes(64 * 1024, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(next() & 0xff);
  }
  return bytes;
}

// The text in UTF-16 (little-endian, with a byte-order mark), as some
// editors save it: a NUL byte after every ASCII character.
std::string utf16(const std::string& ascii) {
  std::string bytes = "\xff\xfe";
  for (char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

const char* valgrind() {
  return std::getenv("WRAPKIN_VALGRIND");
}

// The command that runs the launcher: under memcheck when asked for.
std::vector<std::string> launcherCommand(const std::string& launcher,
                                         const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  if (valgrind() != nullptr) {
    argv = {valgrind(), "-q", "--leak-check=full",
            "--errors-for-leak-kinds=definite,indirect", "--error-exitcode=99"};
  }
  argv.push_back(launcher);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::chrono::seconds timeBound() {
  return std::chrono::seconds(valgrind() != nullptr ? 120 : 20);
}

// Runs `argv` with standard error a pipe that is full already, so that the
// child's first write blocks until `meanwhile` has run and the pipe is read.
// The launcher's first write with WRAPKIN_DEBUG=true is the "Entering
// launch" trace line, before it looks for its own path: so `meanwhile` acts
// after the system started the launcher and before the launcher looks.
ChildResult runHeldAtFirstWrite(const std::vector<std::string>& argv,
                                const ChildEnv& env,
                                const std::function<void()>& meanwhile) {
  int fds[2];
  if (pipe(fds) != 0) {
    throw std::runtime_error("pipe failed");
  }
  for (int fd : fds) {
    fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  // Large writes first, then single bytes: a write that does not fit is
  // refused whole, and the last gap must be closed too.
  fcntl(fds[1], F_SETFL, O_NONBLOCK);
  std::size_t filled = 0;
  const std::string chunk(4096, 'x');
  for (std::size_t size : {chunk.size(), std::size_t(1)}) {
    ssize_t n;
    while ((n = write(fds[1], chunk.data(), size)) > 0) {
      filled += static_cast<std::size_t>(n);
    }
  }
  fcntl(fds[1], F_SETFL, 0);

  childprocess::FileActions actions;
  posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null",
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null",
                                   O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(actions.get(), fds[1], STDERR_FILENO);
  pid_t pid = 0;
  try {
    pid = childprocess::spawn(actions, argv, env);
  } catch (...) {
    close(fds[0]);
    close(fds[1]);
    throw;
  }
  close(fds[1]);

  meanwhile();

  ChildResult result;
  std::string err;
  const auto deadline = std::chrono::steady_clock::now() + timeBound();
  for (;;) {
    pollfd readable = {fds[0], POLLIN, 0};
    if (poll(&readable, 1, 100) > 0) {
      char buffer[4096];
      const ssize_t n = read(fds[0], buffer, sizeof(buffer));
      if (n == 0) {
        break;
      }
      if (n > 0) {
        err.append(buffer, static_cast<std::size_t>(n));
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  result.err = err.substr(std::min(filled, err.size()));
  return result;
}

// One broken bundle, environment or command line, ready to run.
struct Attempt {
  Bundle b;
  ChildEnv env;
  std::vector<std::string> args;
  // The path the launcher is started by; the launcher's own by default.
  std::string started;
  // Run with WRAPKIN_DEBUG=true while the launcher is held at its first
  // write (runHeldAtFirstWrite), when set.
  std::function<void()> whileHeld;
  // Prepended to the command, e.g. to drop privileges.
  std::vector<std::string> prefix;
};

typedef std::function<void(Attempt&)> Breaking;

// One row of the table, built from what it expects: fails(), runs() or
// notStarted(), then how the bundle, environment or command line differ.
struct Row {
  // The situation, as the table in docs/BAD-INPUT.md names it.
  std::string situation;
  int exitCode = 0;
  // The one line on standard error, without its line feed, or empty for
  // none. "@C" stands for the configuration file, "@R" for the bundle root,
  // "@O" for the folder that holds it, "@J" for the runtime library, "@E"
  // for the loader's text about it.
  std::string err;
  // For a launch that goes ahead: the arguments of JLI_Launch after the
  // launcher's path and the app path property, and DYLD_LIBRARY_PATH then
  // ("@A" for the app folder).
  std::vector<std::string> args;
  // Those between the launcher's path and the app path property.
  std::vector<std::string> leadingArgs;
  std::string libraryPath = ":@A";
  // The system's error when the launcher cannot even be started.
  int spawnError = 0;
  // A WARNING record that WRAPKIN_DEBUG=true shows, checked in a second run.
  std::string warning;

  // The configuration file's bytes; a main class "a.B" without them.
  std::optional<std::string> cfgBytes;
  std::vector<std::string> options;  // more wrapkin-bundle options
  Breaking breaking;

  Row& cfg(const std::string& bytes) {
    cfgBytes = bytes;
    return *this;
  }
  Row& omit(const std::string& part) {
    options.insert(options.end(), {"--omit", part});
    return *this;
  }
  Row& but(Breaking b) {
    breaking = std::move(b);
    return *this;
  }
  Row& withLibraryPath(const std::string& value) {
    libraryPath = value;
    return *this;
  }
  Row& after(const std::vector<std::string>& leading) {
    leadingArgs = leading;
    return *this;
  }
  Row& warns(const std::string& message) {
    warning = message;
    return *this;
  }
};

Row fails(const std::string& situation, const std::string& err) {
  Row row;
  row.situation = situation;
  row.exitCode = 1;
  row.err = err;
  return row;
}

Row runs(const std::string& situation, const std::vector<std::string>& args) {
  Row row;
  row.situation = situation;
  row.args = args;
  return row;
}

Row notStarted(const std::string& situation, int error) {
  Row row;
  row.situation = situation;
  row.spawnError = error;
  return row;
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.good()) {
    throw std::runtime_error("cannot write " + path);
  }
}

void replace(const std::string& path, const std::function<void()>& make) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
  make();
}

void replaceByLink(const std::string& path, const std::string& target) {
  replace(path, [&] { fs::create_symlink(target, path); });
}

class BadInputTest : public ::testing::Test {
 protected:
  BadInputTest()
      : fakeHome(makeFakeJavaHome(tmp.path() + "/fake-jli", FAKE_JLI_PATH)),
        record(tmp.path() + "/calls") {}

  void check(const Row& row) {
    SCOPED_TRACE(row.situation);
    const std::string out = tmp.path() + "/" + std::to_string(++bundles);
    std::vector<std::string> options{"--java-home", fakeHome};
    if (row.cfgBytes) {
      const std::string cfgSource = out + ".cfg";
      writeBytes(cfgSource, *row.cfgBytes);
      options.insert(options.end(), {"--cfg", cfgSource});
    } else {
      options.insert(options.end(), {"--main-class", "a.B"});
    }
    options.insert(options.end(), row.options.begin(), row.options.end());
    Attempt attempt{makeBundle(out, "Tool", options),
                    ChildEnv::clean()
                        .set("FAKE_JLI_RECORD", record)
                        .set("FAKE_JLI_ENV", "DYLD_LIBRARY_PATH"),
                    {},
                    {},
                    {},
                    {}};
    attempt.started = attempt.b.launcher;
    if (row.breaking) {
      row.breaking(attempt);
    }
    const Bundle& b = attempt.b;
    const auto placed = [&](std::string text) {
      if (text.find("@E") != std::string::npos) {
        text = replaceAll(text, "@E", loaderError(b.root + kJli));
      }
      text = replaceAll(text, "@J", b.root + kJli);
      text = replaceAll(text, "@C", b.cfg);
      text = replaceAll(text, "@R", b.root);
      text = replaceAll(text, "@O", fs::path(b.root).parent_path().string());
      return replaceAll(text, "@A", b.appDir);
    };

    std::vector<std::string> argv = attempt.prefix;
    const std::vector<std::string> command =
        launcherCommand(attempt.started, attempt.args);
    argv.insert(argv.end(), command.begin(), command.end());
    std::error_code ignored;
    fs::remove(record, ignored);

    if (row.spawnError != 0) {
      const std::string expected =
          std::string("failed: ") + std::strerror(row.spawnError);
      try {
        runChild(argv, attempt.env, timeBound());
        ADD_FAILURE() << "the system started the launcher";
      } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_EQ(
            expected,
            what.substr(what.size() - std::min(what.size(), expected.size())));
      }
      return;
    }

    ChildResult result;
    if (attempt.whileHeld) {
      attempt.env.set("WRAPKIN_DEBUG", "true");
      result = runHeldAtFirstWrite(argv, attempt.env, attempt.whileHeld);
      // Only the message: the trace lines were the means, not the matter.
      std::string message;
      std::istringstream lines(result.err);
      for (std::string line; std::getline(lines, line);) {
        if (line.rfind("[", 0) != 0) {
          message += line + "\n";
        }
      }
      result.err = message;
    } else {
      result = runChild(argv, attempt.env, timeBound());
    }

    ASSERT_FALSE(result.timedOut) << "hung; " << result.describe();
    ASSERT_EQ(0, result.signal) << result.describe();
    EXPECT_EQ(row.exitCode, result.exitCode) << result.describe();
    EXPECT_EQ("", result.out);
    const std::string expectedErr =
        row.err.empty() ? "" : placed(row.err) + "\n";
    EXPECT_EQ(withoutAddresses(expectedErr), withoutAddresses(result.err));

    const std::vector<FakeJliCall> calls = readFakeJliCalls(record);
    if (row.exitCode != 0) {
      EXPECT_TRUE(calls.empty() || row.err == "Failed to launch JVM")
          << "JLI_Launch was called";
      return;
    }
    ASSERT_EQ(1u, calls.size());
    std::vector<std::string> expected{b.launcher};
    for (const std::string& arg : row.leadingArgs) {
      expected.push_back(placed(arg));
    }
    expected.push_back("-Dwrapkin.app-path=" + b.launcher);
    for (const std::string& arg : row.args) {
      expected.push_back(placed(arg));
    }
    const std::vector<std::string> actual = fakeJliArgs(calls[0]);
    // Compared whole, shown cut: some are megabytes long.
    EXPECT_TRUE(expected == actual)
        << "expected:" << shown(expected) << "\nactual:" << shown(actual);
    EXPECT_EQ(placed(row.libraryPath),
              calls[0].at("env.DYLD_LIBRARY_PATH").value_or("(unset)"));

    if (!row.warning.empty()) {
      attempt.env.set("WRAPKIN_DEBUG", "true");
      const std::string traced = runChild(argv, attempt.env, timeBound()).err;
      EXPECT_TRUE(std::regex_search(
          traced, std::regex("\\[WARNING\\] [A-Za-z]+\\.cpp:[0-9]+: " +
                             escapedForRegex(placed(row.warning)) + "\n")))
          << traced;
    }
  }

  void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      check(row);
    }
  }

  const CanonicalTempDir tmp;
  const std::string fakeHome;
  const std::string record;
  int bundles = 0;
};

std::string systemText(int error) {
  return std::strerror(error);
}

// The configuration replaced by what `make` puts at its path.
Breaking cfgIs(std::function<void(const std::string&)> make) {
  return [make](Attempt& a) { replace(a.b.cfg, [&] { make(a.b.cfg); }); };
}

// What `make` puts where the launcher looks first for the runtime library.
Breaking jliIs(std::function<void(const std::string&)> make) {
  return [make](Attempt& a) { make(a.b.root + kJli); };
}

// The user options file, which `make` puts at "@O/config/Tool/Tool.cfg":
// XDG_CONFIG_HOME is "@O/config".
Breaking userOptionsAre(std::function<void(const std::string&)> make) {
  return [make](Attempt& a) {
    const std::string config =
        fs::path(a.b.root).parent_path().string() + "/config";
    a.env.set("XDG_CONFIG_HOME", config);
    fs::create_directories(config + "/Tool");
    make(config + "/Tool/Tool.cfg");
  };
}

Breaking envIs(const std::string& name, const std::string& value) {
  return [name, value](Attempt& a) { a.env.set(name, value); };
}

Breaking argsAre(const std::vector<std::string>& args) {
  return [args](Attempt& a) { a.args = args; };
}

// The launcher started by a link beside the bundle that `make` makes.
Breaking startedBy(std::function<void(const std::string& link)> make) {
  return [make](Attempt& a) {
    a.started = (fs::path(a.b.root).parent_path() / "tool").string();
    make(a.started);
  };
}

// The launcher started by a good link that `change` spoils after the system
// started the launcher and before the launcher reads its own path.
Breaking linkChangedOnceStarted(
    std::function<void(const std::string& link, const Bundle&)> change) {
  return [change](Attempt& a) {
    const std::string link =
        (fs::path(a.b.root).parent_path() / "tool").string();
    fs::create_symlink(a.b.launcher, link);
    a.started = link;
    const Bundle b = a.b;
    a.whileHeld = [change, link, b] { change(link, b); };
  };
}

void makeLoop(const std::string& link) {
  replaceByLink(link, link + ".loop");
  fs::create_symlink(link, link + ".loop");
}

TEST_F(BadInputTest, TheConfiguration) {
  const std::string longValue(10 * 1024 * 1024, 'x');
  const std::string opening = "Error opening \"@C\" file: ";
  check({
      fails("configuration missing", opening + systemText(ENOENT)).omit("cfg"),
      fails("configuration a directory",
            "Failed to read \"@C\" file up to the end: " + systemText(EISDIR))
          .but(
              cfgIs([](const std::string& cfg) { fs::create_directory(cfg); })),
      fails("configuration a FIFO", opening + "Not a regular file")
          .but(
              cfgIs([](const std::string& cfg) { mkfifo(cfg.c_str(), 0644); })),
      fails("configuration a link to a device", opening + "Not a regular file")
          .but(cfgIs([](const std::string& cfg) {
            fs::create_symlink("/dev/zero", cfg);
          })),
      fails("configuration a dangling link", opening + systemText(ENOENT))
          .but(cfgIs([](const std::string& cfg) {
            fs::create_symlink(cfg + ".gone", cfg);
          })),
      fails("configuration a link loop", opening + systemText(ELOOP))
          .but(cfgIs(makeLoop)),
      runs("configuration empty", {}).cfg(""),
      fails("configuration binary garbage",
            "Error parsing [@C] file at 48: Missing ']' character")
          .cfg(binaryGarbage()),
      runs("configuration in UTF-16 (NUL bytes)", {}).cfg(utf16(kMainClass)),
      runs("configuration value with a NUL byte", {"a.B"})
          .cfg(std::string(kNulInValue, sizeof(kNulInValue) - 1)),
      runs("configuration line of 10 MB", {"a.B", longValue})
          .cfg(std::string(kMainClass) +
               "[ArgOptions]\narguments=" + longValue + "\n"),
      fails("configuration header without \"]\"",
            "Error parsing [@C] file at 4: Missing ']' character")
          .cfg(std::string(kMainClass) + "\n[JavaOptions\njava-options=-X\n"),
      runs("configuration with CR LF line ends", {"a.B", "x\ry", "z"})
          .cfg("[Application]\r\napp.mainclass=a.B\r\n[ArgOptions]\r\n"
               "arguments=x\ry\r\narguments=z\r"),
      runs("configuration starting with a UTF-8 byte order mark",
           {"a.B", "-version"})
          .cfg("\xEF\xBB\xBF" + std::string(kMainClass))
          .but(argsAre({"-version"})),
      runs("class path or module path entry missing", {"a.B"})
          .cfg(std::string(kMainClass) +
               "app.classpath=$APPDIR/gone.jar:$APPDIR/lib/*\n"
               "app.modulepath=$APPDIR/mods\n")
          .but([](Attempt& a) { fs::create_directory(a.b.appDir + "/mods"); })
          .after({"--module-path", "@A/mods", "-classpath",
                  "@A/gone.jar:@A/lib/*"})
          .warns("Class path entry \"@A/gone.jar\" not found"),
      runs("main jar missing", {"-jar", "@A/gone.jar"})
          .cfg("[Application]\napp.mainjar=$APPDIR/gone.jar\n")
          .warns("Main jar \"@A/gone.jar\" not found"),
      runs("main jar and class path", {"-jar", "@A"})
          .cfg("[Application]\napp.mainjar=$APPDIR\napp.classpath=$APPDIR\n")
          .after({"-classpath", "@A"})
          .warns("Both \"app.mainjar\" and \"app.classpath\" found in "
                 "\"Application\" section of launcher config file: the Java "
                 "runtime ignores the class path when it runs a jar"),
      runs("no main class, main jar or main module", {})
          .cfg("[Application]\napp.classpath=$APPDIR\n")
          .after({"-classpath", "@A"})
          .warns("None of \"app.mainclass\", \"app.mainjar\" and "
                 "\"app.mainmodule\" found in \"Application\" section of "
                 "launcher config file: the Java runtime has no application "
                 "to start"),
      runs("unknown key (a typo such as app.mainclas)", {"a.B"})
          .cfg(std::string(kMainClass) + "app.mainclas=a.C\n")
          .warns("Unknown key \"app.mainclas\" in \"Application\" section at "
                 "line 3 of \"@C\" file ignored"),
      runs("unknown section", {"a.B"})
          .cfg(std::string(kMainClass) + "[Aplication]\napp.mainclass=a.C\n")
          .warns("Unknown section \"Aplication\" at line 3 of \"@C\" file "
                 "ignored with its lines"),
  });
}

TEST_F(BadInputTest, TheUnreadableFiles) {
  const bool root = geteuid() == 0;
  const std::string setpriv = "/usr/bin/setpriv";
  if (root && access(setpriv.c_str(), X_OK) != 0) {
    GTEST_SKIP() << "root reads any file, and without " << setpriv
                 << " the launcher cannot run as another user";
  }
  const auto unreadable = [&](const std::string& file, Attempt& a) {
    fs::permissions(file, fs::perms::none);
    if (root) {
      // Root would read it anyway: the launcher runs as nobody, who must
      // see the rest of the bundle, whatever the umask.
      const fs::perms rx = fs::perms::others_read | fs::perms::others_exec;
      fs::permissions(tmp.path(), rx, fs::perm_options::add);
      for (const auto& entry : fs::recursive_directory_iterator(tmp.path())) {
        if (fs::is_directory(entry.symlink_status())) {
          fs::permissions(entry.path(), rx, fs::perm_options::add);
        }
      }
      fs::permissions(a.b.launcher, rx, fs::perm_options::add);
      a.prefix = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups",
                  "--"};
    }
  };
  check({
      fails("configuration unreadable",
            "Error opening \"@C\" file: " + systemText(EACCES))
          .but([&](Attempt& a) { unreadable(a.b.cfg, a); }),
      fails("user options file unreadable",
            "Error opening \"@O/config/Tool/Tool.cfg\" file: " +
                systemText(EACCES))
          .cfg(kWithUserOptions)
          .but([&](Attempt& a) {
            userOptionsAre([&](const std::string& file) {
              writeBytes(file, "[JavaOptions]\njava-options=-Xmx1g\n");
              unreadable(file, a);
            })(a);
          }),
  });
}

TEST_F(BadInputTest, TheUserOptionsFile) {
  const std::string userFile = "@O/config/Tool/Tool.cfg";
  check({
      runs("user options file missing", {"a.B"})
          .cfg(kWithUserOptions)
          .but(userOptionsAre([](const std::string&) {})),
      fails("user options file malformed",
            "Error parsing [" + userFile + "] file at 1: Missing ']' character")
          .cfg(kWithUserOptions)
          .but(userOptionsAre([](const std::string& file) {
            writeBytes(file, "[JavaOptions\njava-options=-Xmx1g\n");
          })),
  });
}

TEST_F(BadInputTest, TheRuntime) {
  const std::string noJvm =
      "Failed to find JVM in \"@R/Contents/runtime\" directory.";
  check({
      fails("runtime missing", noJvm).omit("runtime"),
      fails("\"app.runtime\" pointing nowhere",
            "Failed to find JVM in \"@R/nowhere\" directory.")
          .cfg(std::string(kMainClass) + "app.runtime=$ROOTDIR/nowhere\n"),
      fails("libjli not a library", "dlopen(@J) failed. Error: @E")
          .omit("jli")
          .but(jliIs([](const std::string& jli) {
            writeBytes(jli, "#!/bin/sh\necho not a library\n");
          })),
      fails("libjli empty", "dlopen(@J) failed. Error: @E")
          .omit("jli")
          .but(jliIs([](const std::string& jli) { writeBytes(jli, ""); })),
      fails("libjli a directory", "dlopen(@J) failed. Error: @E")
          .omit("jli")
          .but(
              jliIs([](const std::string& jli) { fs::create_directory(jli); })),
      fails("libjli a dangling link", noJvm)
          .omit("jli")
          .but(jliIs([](const std::string& jli) {
            fs::create_symlink(jli + ".gone", jli);
          })),
      fails("libjli without JLI_Launch",
            "dlsym(@J, JLI_Launch) failed. Error: @E")
          .omit("jli")
          .but(jliIs([](const std::string& jli) {
            fs::create_symlink(TEST_LIB_PATH, jli);
          })),
      fails("JLI_Launch fails", "Failed to launch JVM")
          .but(envIs("FAKE_JLI_RESULT", "1")),
      fails("runtime ends the process before it creates a JVM",
            "Failed to launch JVM")
          .but(envIs("FAKE_JLI_EXIT", "1")),
      runs("runtime ends the process once it created a JVM", {"a.B"})
          .but([](Attempt& a) {
            a.env.set("FAKE_JLI_VM", "1").set("FAKE_JLI_EXIT", "0");
          }),
  });
}

// The bundle moved into folder `name` beside where it was.
Breaking inFolder(const std::string& name) {
  return [name](Attempt& a) {
    const fs::path folder = fs::path(a.b.root).parent_path() / name;
    fs::create_directory(folder);
    const std::string root = (folder / fs::path(a.b.root).filename()).string();
    fs::rename(a.b.root, root);
    a.b.launcher.replace(0, a.b.root.size(), root);
    a.b.appDir.replace(0, a.b.root.size(), root);
    a.b.cfg.replace(0, a.b.root.size(), root);
    a.b.root = root;
    a.started = a.b.launcher;
  };
}

TEST_F(BadInputTest, TheBundleFolder) {
  check({
      fails("bundle in a folder whose name holds \":\"",
            "The application cannot start from a path that holds ':': \"@O\"")
          .cfg("[Application]\napp.classpath=$APPDIR/app.jar\n"
               "app.mainclass=a.B\n")
          .but(inFolder("Tools 1:2")),
      runs("bundle in a folder whose name holds \":\", in JVM options only",
           {"a.B"})
          .cfg("[Application]\napp.classpath=/opt/app.jar\napp.mainclass=a.B\n"
               "[JavaOptions]\njava-options=-Dapp.dir=$APPDIR\n")
          .but(inFolder("Tools 1:2"))
          .after({"-classpath", "/opt/app.jar", "-Dapp.dir=@A"}),
  });
}

TEST_F(BadInputTest, TheLauncherLink) {
  const std::vector<Row> rows = {
      notStarted("launcher link dangling", ENOENT)
          .but(startedBy([](const std::string& link) {
            fs::create_symlink(link + ".gone", link);
          })),
      notStarted("launcher link looping", ELOOP).but(startedBy(makeLoop)),
      fails("launcher link dangling once started",
            "lstat(@O/tool.gone) failed. Error: " + systemText(ENOENT))
          .but(linkChangedOnceStarted(
              [](const std::string& link, const Bundle&) {
                replaceByLink(link, link + ".gone");
              })),
      runs("launcher started as ../MacOS/<name> from <app>", {"a.B"})
          .but([](Attempt& a) {
            a.prefix = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"",
                        a.b.appDir};
            a.started = "../MacOS/Tool";
          }),
      runs("launcher started by a link Contents/bin/<name> -> ../MacOS/<name>",
           {"a.B"})
          .but([](Attempt& a) {
            a.started = a.b.root + "/Contents/bin/Tool";
            fs::create_directory(a.b.root + "/Contents/bin");
            fs::create_symlink("../MacOS/Tool", a.started);
          }),
      fails("launcher link looping once started",
            "readlink(@O/tool) failed. Error: " + systemText(ELOOP))
          .but(linkChangedOnceStarted(
              [](const std::string& link, const Bundle&) { makeLoop(link); })),
  };
  for (const Row& row : rows) {
    // Under valgrind it is valgrind that the system starts, and valgrind
    // that reads the link, in its own words.
    if (valgrind() != nullptr) {
      std::cout << "[     SKIP ] " << row.situation << " under valgrind\n";
      continue;
    }
    check(row);
  }
}

TEST_F(BadInputTest, TheEnvironment) {
  const std::string longPath(100 * 1024, '/');
  check({
      runs("DYLD_LIBRARY_PATH unset", {"a.B"}),
      runs("DYLD_LIBRARY_PATH empty", {"a.B"})
          .but(envIs("DYLD_LIBRARY_PATH", "")),
      runs("DYLD_LIBRARY_PATH only separators", {"a.B"})
          .but(envIs("DYLD_LIBRARY_PATH", "::"))
          .withLibraryPath(":::@A"),
      runs("DYLD_LIBRARY_PATH with a line feed and non-UTF-8 bytes", {"a.B"})
          .but(envIs("DYLD_LIBRARY_PATH", "/a\n/b:\xff\xfe"))
          .withLibraryPath("/a\n/b:\xff\xfe:@A"),
      runs("DYLD_LIBRARY_PATH of 100 KB", {"a.B"})
          .but(envIs("DYLD_LIBRARY_PATH", longPath))
          .withLibraryPath(longPath + ":@A"),
      runs("LD_LIBRARY_PATH naming another runtime's lib/server", {"a.B"})
          .but(envIs("FAKE_JLI_RESTART", "1")),
      runs("WRAPKIN_DEBUG=TRUE", {"a.B"}).but(envIs("WRAPKIN_DEBUG", "TRUE")),
      runs("WRAPKIN_DEBUG=1", {"a.B"}).but(envIs("WRAPKIN_DEBUG", "1")),
      runs("WRAPKIN_DEBUG=\"true \"", {"a.B"})
          .but(envIs("WRAPKIN_DEBUG", "true ")),
      runs("WRAPKIN_DEBUG empty", {"a.B"}).but(envIs("WRAPKIN_DEBUG", "")),
      runs("WRAPKIN_DEBUG not UTF-8", {"a.B"})
          .but(envIs("WRAPKIN_DEBUG",
                     "tr\xfc"
                     "e")),
  });
}

TEST_F(BadInputTest, TheArguments) {
  check({
      runs("arguments with line feeds", {"a.B", "one\ntwo", "\n", "cr\r\n"})
          .but(argsAre({"one\ntwo", "\n", "cr\r\n"})),
      runs("arguments with blanks",
           {"a.B", " lead", "trail ", "in side", "\t", ""})
          .but(argsAre({" lead", "trail ", "in side", "\t", ""})),
      runs("arguments with non-UTF-8 bytes",
           {"a.B", "\xff\xfe", "caf\xe9", "\xc3\x28", "back\\slash"})
          .but(argsAre({"\xff\xfe", "caf\xe9", "\xc3\x28", "back\\slash"})),
  });
}

}  // namespace
