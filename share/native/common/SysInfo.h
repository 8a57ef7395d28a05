#pragma once

#include <new>
#include <string>
#include <vector>

namespace SysInfo {

// The arguments given to main on the launcher's first pass; written once,
// before any other thread exists, and only read afterwards.
extern int argc;
extern char** argv;

enum CommandArgProgramNameMode {
  IncludeProgramName = 0,
  ExcludeProgramName = 1,
};

// Absolute path of the running executable, with symbolic links at its last
// component followed and "." and ".." components resolved.
std::string getProcessModulePath();

// `path` is NUL-terminated (its last element is the NUL). Follows symbolic
// links at the last component; directory components are left as they are.
std::string getRealPath(const std::vector<char>& path);

// The process arguments, less those that start with "-psn_" (added by macOS
// when an application is started from the desktop).
std::vector<std::string> getCommandArgs(
    CommandArgProgramNameMode progNameMode = ExcludeProgramName);

// The Linux runtime may execute the launcher anew, in the same process,
// with the command line that the launcher handed it (to put its own library
// folder on LD_LIBRARY_PATH). markRuntimeStart, right before the runtime is
// called with `jvmArgs`, lets that restart recognise itself:
// isRuntimeRestart is true only in this process, started anew with exactly
// `jvmArgs` as argc and argv. On macOS both do nothing.
void markRuntimeStart(const std::vector<std::string>& jvmArgs);
bool isRuntimeRestart();

// Whether the runtime may start the launcher anew (Linux: LD_LIBRARY_PATH
// is set and not empty); always false on macOS.
bool isRuntimeRestartPossible();

// Whether what is written to `fd` reaches no one: the descriptor is closed,
// or it is the null device (a bundle started from the Finder or the Dock
// has its standard error there).
bool isWrittenToNoOne(int fd);

// Shows `message` to a person in an alert at stop level, titled `title`,
// with an OK button, and returns once it is dismissed; both texts must be
// valid UTF-8. Linux has only the line on standard error; its stand-in
// records the alert for tests (linux/native/common/ErrorAlert.cpp).
void showErrorAlert(const std::string& title, const std::string& message);

// The folders under which applications keep the current user's settings
// (macOS: "$HOME/Library/Application Support"; Linux: $XDG_CONFIG_HOME or
// "$HOME/.config") and caches (macOS: "$HOME/Library/Caches"; Linux:
// $XDG_CACHE_HOME or "$HOME/.cache"). Only absolute paths count; empty when
// the environment gives none.
std::string getUserConfigDir();
std::string getUserCacheDir();

// The folder under which applications keep the current user's logs (macOS:
// "$HOME/Library/Logs", which Console.app shows; Linux: $XDG_STATE_HOME or
// "$HOME/.local/state"), by the same rules.
std::string getUserLogDir();

// The variable's value when it is an absolute path; empty when it is unset,
// empty or relative.
std::string getAbsolutePathEnvVariable(const std::string& name);

std::string getEnvVariable(const std::string& name);
std::string getEnvVariable(const std::nothrow_t&, const std::string& name,
                           const std::string& defValue);
bool isEnvVariableSet(const std::string& name);
void setEnvVariable(const std::string& name, const std::string& value);

}  // namespace SysInfo
