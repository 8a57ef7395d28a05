#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Dll.h"
#include "ErrorHandling.h"
#include "JvmLauncher.h"
#include "Log.h"

namespace {

// Other programs read the buffer, so its layout is fixed: 64-bit pointers
// and a 40-byte header.
static_assert(sizeof(char*) == 8, "launcher data holds 64-bit pointers");
static_assert(sizeof(JvmlLauncherData) == 40 &&
                  offsetof(JvmlLauncherData, libPath) == 0 &&
                  offsetof(JvmlLauncherData, argc) == 8 &&
                  offsetof(JvmlLauncherData, envCount) == 12 &&
                  offsetof(JvmlLauncherData, argv) == 16 &&
                  offsetof(JvmlLauncherData, envNames) == 24 &&
                  offsetof(JvmlLauncherData, envValues) == 32,
              "JvmlLauncherData header layout");

constexpr std::uint64_t pointerSize = sizeof(char*);
// Sizes travel through the flat interface as int.
constexpr std::uint64_t maxBufferSize = INT_MAX;

// Walks the buffer layout from the end of the header. With a null buffer it
// only measures, so measuring and filling share every step and cannot
// disagree. Positions are 64-bit and checked against maxBufferSize before
// every advance, so they can neither wrap nor exceed what an int can hold.
class LayoutWalker {
 public:
  explicit LayoutWalker(char* buffer)
      : base(buffer), pos(sizeof(JvmlLauncherData)) {}

  bool isFilling() const { return base != nullptr; }

  // The current position as an address; null while measuring.
  char* here() const { return isFilling() ? base + pos : nullptr; }

  std::uint64_t size() const { return pos; }

  void advance(std::uint64_t n) {
    if (n > maxBufferSize - pos) {
      THROW_ERROR(tstrings::any()
                  << "JVM launcher data exceeds " << maxBufferSize << " bytes");
    }
    pos += n;
  }

  // Places `s` with its zero byte at the current position; returns where.
  char* putString(const std::string& s) {
    char* const at = here();
    advance(std::uint64_t(s.size()) + 1);
    if (at != nullptr) {
      std::memcpy(at, s.c_str(), s.size() + 1);
    }
    return at;
  }

  // Places a pointer array for `strings` (with one more null slot when
  // `nullTerminated`) followed by the strings; returns the array's address.
  char** putStringArray(const std::vector<std::string>& strings,
                        bool nullTerminated) {
    char* const array = here();
    advance(pointerSize *
            (std::uint64_t(strings.size()) + (nullTerminated ? 1 : 0)));
    for (std::size_t i = 0; i != strings.size(); ++i) {
      char* const str = putString(strings[i]);
      if (array != nullptr) {
        storePointer(array + i * pointerSize, str);
      }
    }
    if (array != nullptr && nullTerminated) {
      storePointer(array + strings.size() * pointerSize, nullptr);
    }
    return reinterpret_cast<char**>(array);
  }

 private:
  // The slots are not aligned, so a direct store would be undefined.
  static void storePointer(char* slot, const char* value) {
    std::memcpy(slot, &value, sizeof(value));
  }

  char* const base;
  std::uint64_t pos;
};

// The launch description behind a handle of the flat interface: a copy of a
// Jvm that lives from Jvm::exportLauncher to closeHandle.
struct JliLaunchData {
  std::string libPath;
  std::vector<std::string> args;
  std::vector<std::string> envNames;
  std::vector<std::string> envValues;

  // Measures the JvmlLauncherData buffer when `ptr` is null, otherwise fills
  // `ptr`, which must hold at least the measured size. Returns the size.
  // Raises when the buffer would be larger than INT_MAX bytes.
  int initJvmlLauncherData(JvmlLauncherData* ptr) const;
};

int JliLaunchData::initJvmlLauncherData(JvmlLauncherData* ptr) const {
  LayoutWalker walker(reinterpret_cast<char*>(ptr));
  JvmlLauncherData header = {};

  header.libPath = walker.putString(libPath);
  header.argv = walker.putStringArray(args, true);
  header.envNames = walker.putStringArray(envNames, false);
  header.envValues = walker.putStringArray(envValues, false);
  // Every pointer slot took 8 bytes of a size within INT_MAX, so the counts
  // and the size fit an int.
  header.argc = static_cast<int>(args.size());
  header.envCount = static_cast<int>(envNames.size());
  const int size = static_cast<int>(walker.size());

  if (walker.isFilling()) {
    // Byte-wise, so the caller's buffer needs no particular alignment.
    std::memcpy(ptr, &header, sizeof(header));
    LOG_TRACE("Initialized " << unsigned(size) << " bytes at "
                             << static_cast<const void*>(ptr) << " address");
  } else {
    LOG_TRACE("Need " << unsigned(size)
                      << " bytes for JvmlLauncherData buffer");
  }
  return size;
}

void closeHandle(void* handle) {
  delete static_cast<JliLaunchData*>(handle);
}

int getJvmlLauncherDataSize(void* handle) {
  try {
    if (handle != nullptr) {
      return static_cast<const JliLaunchData*>(handle)->initJvmlLauncherData(
          nullptr);
    }
  } catch (const std::runtime_error& e) {
    reportError(THIS_SOURCE_CODE_POS, e);
  } catch (...) {
    reportUnknownError(THIS_SOURCE_CODE_POS);
  }
  return -1;
}

JvmlLauncherData* initJvmlLauncherData(void* handle, void* buffer, int size) {
  try {
    if (handle != nullptr && buffer != nullptr) {
      const JliLaunchData* const data =
          static_cast<const JliLaunchData*>(handle);
      if (size >= data->initJvmlLauncherData(nullptr)) {
        JvmlLauncherData* const ptr = static_cast<JvmlLauncherData*>(buffer);
        data->initJvmlLauncherData(ptr);
        return ptr;
      }
    }
  } catch (const std::runtime_error& e) {
    reportError(THIS_SOURCE_CODE_POS, e);
  } catch (...) {
    reportUnknownError(THIS_SOURCE_CODE_POS);
  }
  return nullptr;
}

// The exported signature hands out a non-const pointer; the table itself is
// read-only so that a stray write through it fails loudly.
const JvmlLauncherApi api = {closeHandle, getJvmlLauncherDataSize,
                             initJvmlLauncherData};

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Reads slot `i` of an unaligned pointer array.
char* loadPointer(char** array, int i) {
  char* value;
  std::memcpy(&value, reinterpret_cast<const char*>(array) + i * pointerSize,
              sizeof(value));
  return value;
}

bool isDebugLogging() {
  const char* const debug = std::getenv("WRAPKIN_DEBUG");
  return debug != nullptr && std::strcmp(debug, "true") == 0;
}

constexpr char kLaunchFailed[] = "Failed to launch JVM";

// Set by the launches of this process, which may run on two threads; read
// when it ends, on whichever thread ends it.
std::atomic<bool> jliLaunchCalled(false);
std::atomic<bool> jliLaunchReturned(false);

// JNI_GetCreatedJavaVMs of the JVM library that the runtime loaded, if it got
// that far. The JVM counts as created once its creation has completed, and no
// longer once it has been destroyed.
bool runtimeHasJvm() {
  typedef int (*GetCreatedJavaVMs)(void** vms, int size, int* count);
  void* const symbol = Dll::findInProcess("JNI_GetCreatedJavaVMs");
  if (symbol == nullptr) {
    return false;
  }
  void* vm = nullptr;
  int count = 0;
  return reinterpret_cast<GetCreatedJavaVMs>(symbol)(&vm, 1, &count) == 0 &&
         count > 0;
}

// The runtime's entry, looked up in a library handle of its own; the handle
// used for the lookup is closed again before this returns.
DllFunction<void*> findJliLaunch(const std::string& libPath) {
  const Dll jvmLib(libPath);
  return DllFunction<void*>(jvmLib, "JLI_Launch");
}

}  // namespace

void* Jvm::exportLauncher() const {
  std::unique_ptr<JliLaunchData> data(new JliLaunchData());
  data->libPath = libPath;
  data->args = args;
  data->envNames = envNames;
  data->envValues = envValues;
  return data.release();
}

void Jvm::launch() {
  const std::unique_ptr<JvmlLauncherData, FreeDeleter> data(
      jvmLauncherCreateJvmlLauncherData(jvmLauncherGetAPI(), exportLauncher(),
                                        nullptr));
  if (data == nullptr) {
    // The cause has been reported where it was found.
    THROW_ERROR(kLaunchFailed);
  }

  LOG_TRACE("JVM library: \"" << libPath << "\"");

  const DllFunction<void*> jliLaunch = findJliLaunch(libPath);
  jliLaunchCalled = true;
  const int result = jvmLauncherStartJvm(
      data.get(), reinterpret_cast<JvmlLauncherAPI_JLI_LaunchFunc>(
                      static_cast<void*>(jliLaunch)));
  jliLaunchReturned = true;
  if (result != 0) {
    THROW_ERROR(kLaunchFailed);
  }
}

bool Jvm::isEndingWithoutJvm() {
  return isEndingInsideLaunch() && !runtimeHasJvm();
}

bool Jvm::isEndingInsideLaunch() {
  return jliLaunchCalled && !jliLaunchReturned;
}

void Jvm::raiseEndWithoutJvm() {
  THROW_ERROR(kLaunchFailed);
}

extern "C" {

JvmlLauncherApi* jvmLauncherGetAPI() {
  return const_cast<JvmlLauncherApi*>(&api);
}

JvmlLauncherData* jvmLauncherCreateJvmlLauncherData(JvmlLauncherApi* table,
                                                    void* handle, int* size) {
  if (handle == nullptr) {
    return nullptr;
  }

  JvmlLauncherData* result = nullptr;
  void* buffer = nullptr;
  const int bufferSize = table->getJvmlLauncherDataSize(handle);
  if (bufferSize > 0) {
    buffer = std::malloc(std::size_t(bufferSize));
    if (buffer == nullptr) {
      jvmLauncherLog("%s", std::strerror(errno));
    } else {
      result = table->initJvmlLauncherData(handle, buffer, bufferSize);
      if (result != nullptr) {
        buffer = nullptr;
        if (size != nullptr) {
          *size = bufferSize;
        }
      }
    }
  }

  table->closeHandle(handle);
  std::free(buffer);
  return result;
}

int jvmLauncherStartJvm(JvmlLauncherData* jvmArgs,
                        JvmlLauncherAPI_JLI_LaunchFunc jliLaunch) {
  jvmLauncherLog("jli lib: [%s]", jvmArgs->libPath);
  // Asked once rather than by every call: each would search the
  // environment, and a command line may hold many thousands of arguments.
  if (isDebugLogging()) {
    for (int i = 0; i < jvmArgs->argc; ++i) {
      jvmLauncherLog("jli arg[%d]: [%s]", i, loadPointer(jvmArgs->argv, i));
    }
  }

  if (jvmArgs->envCount > 0) {
    for (int i = 0; i < jvmArgs->envCount; ++i) {
      jvmLauncherLog("env var[%d]: %s=[%s]", i,
                     loadPointer(jvmArgs->envNames, i),
                     loadPointer(jvmArgs->envValues, i));
    }
    for (int i = 0; i < jvmArgs->envCount; ++i) {
      if (setenv(loadPointer(jvmArgs->envNames, i),
                 loadPointer(jvmArgs->envValues, i), 1) != 0) {
        jvmLauncherLog("setenv(%d) failed", i);
      }
    }
  }

  const char* const noVersion = "";
  return jliLaunch(jvmArgs->argc, jvmArgs->argv, 0, nullptr, 0, nullptr,
                   noVersion, noVersion, "java", "java", false, false, false,
                   0);
}

void jvmLauncherLog(const char* format, ...) {
  if (!isDebugLogging()) {
    return;
  }
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

}  // extern "C"
