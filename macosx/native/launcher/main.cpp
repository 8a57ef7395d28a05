#include <new>
#include <string>
#include <vector>

#include "AppLauncher.h"
#include "ErrorAlertLogAppender.h"
#include "FileUtils.h"
#include "JvmLauncher.h"
#include "SysInfo.h"
#include "app.h"

// On macOS the runtime's JLI_Launch does not run the application on the
// calling thread: it starts a thread of its own and calls this process's
// main again from there. So main runs twice. The first pass builds the Jvm
// and calls JLI_Launch; the second pass, which finds the Jvm built, only
// launches it again, and that is when the application runs.

namespace {

// Set once by the first pass before JLI_Launch is called, and never freed:
// the second pass uses it for as long as the process lives.
Jvm* jvmLauncher = nullptr;

// Started from the Finder or the Dock, the launcher's standard error goes
// nowhere: a failed start would show nothing at all.
ErrorAlertLogAppender errorAlertLogAppender(SysInfo::showErrorAlert);

void launchJvm() {
  jvmLauncher->launch();
}

void initJvmLauncher() {
  // <root>/Contents/MacOS/<launcher>
  const std::string appImageRoot =
      AppLauncher::ancestorDir(SysInfo::getProcessModulePath(), 3);

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

  SysInfo::argc = argc;
  SysInfo::argv = argv;
  return app::launch(std::nothrow, initJvmLauncher, &errorAlertLogAppender);
}
