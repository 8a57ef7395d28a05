#pragma once

#include <string>
#include <vector>

class CfgFile;

// Everything needed to start a JVM: the runtime's launcher library, the JVM
// command line (element 0 is the program path) and environment pairs to set
// right before the start. Filled once on the first pass, then only read, so
// both passes of the launcher may launch it.
class Jvm {
 public:
  Jvm();
  ~Jvm();

  // Appends the JVM command line that the configuration describes: module
  // path, class path, splash screen, JVM options, the app-path property,
  // main module, main class, main jar and application arguments, in that
  // order. Appends again on a second call.
  Jvm& initFromConfigFile(const CfgFile& cfgFile);

  Jvm& addArgument(const std::string& value);

  Jvm& setLibPath(const std::string& v) {
    libPath = v;
    return *this;
  }

  const std::string& getLibPath() const { return libPath; }

  Jvm& addEnvVariable(const std::string& name, const std::string& value) {
    envNames.push_back(name);
    envValues.push_back(value);
    return *this;
  }

  const std::vector<std::string>& getArguments() const { return args; }

  bool isWithSplash() const;

  // Loads the runtime's launcher library and calls its JLI_Launch; raises
  // when the start fails. Leaves the object unchanged.
  void launch();

  // For the end of the process: whether a launch of this process called
  // JLI_Launch, none of those calls returned, and the runtime has no JVM.
  // So the runtime itself ends the process (with exit) when it cannot create
  // the JVM: a failed start, which would otherwise say nothing. A normal
  // end, System.exit, and an end after JLI_Launch returned are none.
  static bool isEndingWithoutJvm();

  // For the end of the process: whether a launch of this process called
  // JLI_Launch and none of those calls returned, JVM or not: the runtime
  // ends the process itself, for System.exit or when it could not start the
  // application.
  static bool isEndingInsideLaunch();

  // Raises the failure of a start that the runtime ended (isEndingWithoutJvm,
  // or a refusal that only its words tell of), as the launch raises a
  // non-zero JLI_Launch result.
  [[noreturn]] static void raiseEndWithoutJvm();

  // Sets the environment pairs in this process.
  void setEnvVariables();

  // A handle for the flat launcher interface: a copy of this object's data.
  // The caller must close it with the table's closeHandle (directly, or
  // through jvmLauncherCreateJvmlLauncherData, which closes it).
  void* exportLauncher() const;

 private:
  std::string libPath;
  std::vector<std::string> args;
  std::vector<std::string> envNames;
  std::vector<std::string> envValues;
};

// The flat launcher interface, exported from the executable with unmangled
// names.
extern "C" {

// One block of memory; every pointer points into the same block, so it must
// not be moved or copied byte-wise. The pointer arrays are not aligned.
typedef struct {
  char* libPath;
  int argc;
  int envCount;
  char** argv;
  char** envNames;
  char** envValues;
} JvmlLauncherData;

typedef void (*JvmlLauncherAPI_CloseHandleFunc)(void*);
typedef int (*JvmlLauncherAPI_GetJvmlLauncherDataSizeFunc)(void*);
typedef JvmlLauncherData* (*JvmlLauncherAPI_InitJvmlLauncherDataFunc)(void*,
                                                                      void*,
                                                                      int);

typedef struct {
  JvmlLauncherAPI_CloseHandleFunc closeHandle;
  JvmlLauncherAPI_GetJvmlLauncherDataSizeFunc getJvmlLauncherDataSize;
  JvmlLauncherAPI_InitJvmlLauncherDataFunc initJvmlLauncherData;
} JvmlLauncherApi;

// The runtime's JLI_Launch.
typedef int (*JvmlLauncherAPI_JLI_LaunchFunc)(
    int argc, char** argv, int jargc, const char** jargv, int appclassc,
    const char** appclassv, const char* fullversion, const char* dotversion,
    const char* pname, const char* lname, unsigned char javaargs,
    unsigned char cpwildcard, unsigned char javaw, int ergo);

#define JVM_LAUNCHER_EXPORT __attribute__((visibility("default")))

JVM_LAUNCHER_EXPORT JvmlLauncherApi* jvmLauncherGetAPI(void);

// Turns a handle into a malloc'ed buffer the caller releases with free(), or
// null. The handle is always closed (unless null). When `size` is not null
// and a buffer is returned, its size is stored there.
JVM_LAUNCHER_EXPORT JvmlLauncherData* jvmLauncherCreateJvmlLauncherData(
    JvmlLauncherApi* api, void* handle, int* size);

// Sets the buffer's environment pairs and calls `jliLaunch`; returns its
// result.
JVM_LAUNCHER_EXPORT int jvmLauncherStartJvm(
    JvmlLauncherData* jvmArgs, JvmlLauncherAPI_JLI_LaunchFunc jliLaunch);

// One debug line on standard error, only when WRAPKIN_DEBUG is "true".
JVM_LAUNCHER_EXPORT void jvmLauncherLog(const char* format, ...)
    __attribute__((__format__(__printf__, 1, 2)));

}  // extern "C"
