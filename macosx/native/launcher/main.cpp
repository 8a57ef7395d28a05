#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "AppCdsWaiter.h"
#include "AppLauncher.h"
#include "ErrorAlertLogAppender.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "RuntimeWords.h"
#include "StderrLog.h"
#include "SysInfo.h"
#include "app.h"

// On macOS the runtime's JLI_Launch does not run the application on the
// calling thread: it starts a thread of its own and calls this process's
// main again from there. So main runs twice. The first pass builds the Jvm
// and calls JLI_Launch; the second pass, which finds the Jvm built, only
// launches it again, and that is when the application runs.

namespace {

constexpr int kStandardErrorFd = 2;

// Set once by the first pass before JLI_Launch is called, and never freed:
// the second pass uses it for as long as the process lives.
Jvm* jvmLauncher = nullptr;

// Started from the Finder or the Dock, the launcher's standard error goes
// nowhere: a failed start would show nothing at all.
ErrorAlertLogAppender errorAlertLogAppender(SysInfo::showErrorAlert);

void launchJvm() {
  jvmLauncher->launch();
}

// What the runtime says about a failed start goes to standard error, which
// from the Finder or the Dock reaches no one: there it goes to a log of the
// user's instead. A start whose standard error someone reads pays one check.
// Not when the Linux runtime may start the launcher anew: the new program
// would not know of the log, and could not tell what it holds.
void logStandardErrorIfNoOneReadsIt(const std::string& launcherPath) {
  if (!SysInfo::isWrittenToNoOne(kStandardErrorFd) ||
      SysInfo::isRuntimeRestartPossible()) {
    return;
  }
  const std::string logDir = SysInfo::getUserLogDir();
  if (!logDir.empty()) {
    const std::string name = FileUtils::basename(launcherPath);
    StderrLog::start(FileUtils::combinePath(logDir, name), name,
                     launcherPath);
  }
}

// Whether the runtime, which is ending the process, could not start the
// application: it created no JVM, or it refused the application's entry
// point, which only its words in the log tell (from a terminal the user
// reads them there).
bool isEndingWithFailedStart() {
  return Jvm::isEndingWithoutJvm() ||
         (Jvm::isEndingInsideLaunch() &&
          RuntimeWords::refuseTheEntryPoint(StderrLog::tail().lines));
}

// Once, when the process ends, on whichever thread ends it.
void atProcessEnd() {
  if (isEndingWithFailedStart()) {
    app::launch(std::nothrow, Jvm::raiseEndWithoutJvm, &errorAlertLogAppender);
  }
  StderrLog::finish();
}

// In the keeper of the log: the start's process ended without its exit
// handlers. When the JVM failed while it initialised, the runtime ended the
// process at once and the launcher could not say so; the keeper says it for
// it, in the log and in the alert.
void reportStartEndedByJvm(const std::vector<std::string>& lastLines) {
  if (RuntimeWords::tellOfFailedJvmStart(lastLines)) {
    app::launch(std::nothrow, Jvm::raiseEndWithoutJvm, &errorAlertLogAppender);
  }
}

void initJvmLauncher() {
  const std::string launcherPath = SysInfo::getProcessModulePath();
  // <root>/Contents/MacOS/<launcher>
  const std::string appImageRoot = AppLauncher::ancestorDir(launcherPath, 3);

  AppLauncher appLauncher;
  appLauncher.setRootDir(appImageRoot)
      .addJvmLibName("Contents/Home/lib/libjli.dylib")
      .addJvmLibName("Contents/Home/lib/jli/libjli.dylib")
      .setAppDir(FileUtils::combinePath(appImageRoot, "Contents/app"))
      .setLibEnvVariableName("DYLD_LIBRARY_PATH")
      .setDefaultRuntimeDir(
          FileUtils::combinePath(appImageRoot, "Contents/runtime"));
  if (SysInfo::isRuntimeRestart()) {
    appLauncher.setRestartCommandLine(
        std::vector<std::string>(SysInfo::argv, SysInfo::argv + SysInfo::argc));
  }
  jvmLauncher = appLauncher.createJvmLauncher();

  SysInfo::markRuntimeStart(jvmLauncher->getArguments());
  logStandardErrorIfNoOneReadsIt(launcherPath);
  std::atexit(atProcessEnd);
  jvmLauncher->launch();
}

}  // namespace

// Exported: the runtime looks main up by name to call it again.
JVM_LAUNCHER_EXPORT int main(int argc, char* argv[]) {
  if (jvmLauncher != nullptr) {
    // The runtime re-entered main on its own thread; its arguments are its
    // own business and are ignored.
    return app::launch(std::nothrow, launchJvm, &errorAlertLogAppender);
  }

  // A start that made a class list left this process to make the archive.
  if (AppCdsWaiter::isStartedAsWaiter(argc, argv)) {
    return AppCdsWaiter::run(argv);
  }

  SysInfo::argc = argc;
  SysInfo::argv = argv;
  // A start from the Finder left this process to keep its log.
  if (StderrLog::isStartedAsKeeper(argc, argv)) {
    return StderrLog::keep(argv, reportStartEndedByJvm);
  }
  return app::launch(std::nothrow, initJvmLauncher, &errorAlertLogAppender);
}
