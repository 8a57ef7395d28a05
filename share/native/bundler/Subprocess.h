#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What a program printed and how it ended.
struct ProgramResult {
  int exitCode = -1;  // -1 when a signal ended it
  std::string out;
  std::string err;

  // The first line the program printed on standard error, else on standard
  // output: what a one-line message can quote of a failed run.
  std::string firstLine() const;

  // "exit code N", or "ended by a signal".
  std::string howItEnded() const;
};

// Runs `argv[0]` (a path, not looked up on the PATH) with `argv` and this
// process's environment, standard input empty, and waits for it. Raises
// BundleError only when it cannot be started.
//
// The program runs in a process group of its own, which a signal that
// interrupts this process receives too. Should this process end without
// waiting for it (kill -9), a watchdog process ends the group, so that
// nothing of the run goes on writing into the output folder.
ProgramResult runProgram(const std::vector<std::string>& argv);

// Runs the program as runProgram does and raises BundleError naming it with
// the first line of its output when it does not exit with 0.
ProgramResult runProgramOrFail(const std::vector<std::string>& argv);

// The first executable file `name` in the folders of the PATH (an empty
// entry is the current folder, as the shell takes it), or an empty path.
std::filesystem::path findOnPath(const std::string& name);
