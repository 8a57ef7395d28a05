#include <dlfcn.h>
#include <stdlib.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "FakeJliRecord.h"
#include "JvmLauncher.h"
#include "RecordingLogAppender.h"
#include "TempDir.h"

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
typedef std::unique_ptr<JvmlLauncherData, FreeDeleter> DataPtr;

DataPtr createData(const Jvm& jvm, int* size = nullptr) {
  return DataPtr(jvmLauncherCreateJvmlLauncherData(jvmLauncherGetAPI(),
                                                   jvm.exportLauncher(), size));
}

// The buffer's slots are unaligned; read them byte-wise.
const char* pointerAt(const void* base, std::size_t offset) {
  const char* value;
  std::memcpy(&value, static_cast<const char*>(base) + offset, sizeof(value));
  return value;
}

std::int32_t int32At(const void* base, std::size_t offset) {
  std::int32_t value;
  std::memcpy(&value, static_cast<const char*>(base) + offset, sizeof(value));
  return value;
}

// Sets or unsets an environment variable for one scope.
class EnvOverride {
 public:
  EnvOverride(const char* varName, const char* value) : name(varName) {
    const char* old = std::getenv(name);
    if (old != nullptr) {
      previous = old;
    }
    set(value);
  }
  ~EnvOverride() { set(previous ? previous->c_str() : nullptr); }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  void set(const char* value) {
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
  }

  const char* const name;
  std::optional<std::string> previous;
};

bool isFakeJliLoaded() {
  void* handle = dlopen(FAKE_JLI_PATH, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);
  }
  return handle != nullptr;
}

class JvmLauncherLibTest : public testing::Test {
 protected:
  ScopedLogRecorder logs;
};

TEST_F(JvmLauncherLibTest, LaysOutTheEightyByteExample) {
  Jvm jvm;
  jvm.setLibPath("0123456789").addArgument("a").addArgument("bc");

  int size = 0;
  const DataPtr data = createData(jvm, &size);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(80, size);

  const char* const base = reinterpret_cast<const char*>(data.get());
  EXPECT_EQ(base + 40, pointerAt(base, 0));
  EXPECT_EQ(2, int32At(base, 8));
  EXPECT_EQ(0, int32At(base, 12));
  EXPECT_EQ(base + 51, pointerAt(base, 16));
  EXPECT_EQ(base + 80, pointerAt(base, 24));
  EXPECT_EQ(base + 80, pointerAt(base, 32));

  EXPECT_EQ(0, std::memcmp(base + 40, "0123456789", 11));
  EXPECT_EQ(base + 75, pointerAt(base, 51));
  EXPECT_EQ(base + 77, pointerAt(base, 59));
  EXPECT_EQ(nullptr, pointerAt(base, 67));
  EXPECT_EQ(0, std::memcmp(base + 75, "a\0bc", 5));
}

TEST_F(JvmLauncherLibTest, EnvironmentPairsAddTheirBytesAfterTheArguments) {
  typedef std::vector<std::pair<std::string, std::string>> Pairs;
  const struct {
    const char* label;
    Pairs pairs;
  } rows[] = {
      {"one pair", {{"NAME", "value"}}},
      {"empty value", {{"N", ""}}},
      {"two pairs", {{"DYLD_LIBRARY_PATH", ":/app"}, {"B", "xy"}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    Jvm jvm;
    jvm.setLibPath("0123456789").addArgument("a").addArgument("bc");
    int expectedSize = 80;
    for (const auto& pair : row.pairs) {
      jvm.addEnvVariable(pair.first, pair.second);
      expectedSize +=
          8 + int(pair.first.size()) + 1 + 8 + int(pair.second.size()) + 1;
    }

    int size = 0;
    const DataPtr data = createData(jvm, &size);
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(expectedSize, size);

    // Names array at the end of the example's argument strings, then the
    // names, then the values array and the values.
    const char* const base = reinterpret_cast<const char*>(data.get());
    const int count = int(row.pairs.size());
    EXPECT_EQ(count, int32At(base, 12));
    std::size_t offset = 80;
    for (const bool names : {true, false}) {
      const std::size_t array = offset;
      EXPECT_EQ(base + array, pointerAt(base, names ? 24 : 32));
      offset += 8 * count;
      for (int i = 0; i < count; ++i) {
        const std::string& s = names ? row.pairs[i].first : row.pairs[i].second;
        EXPECT_EQ(base + offset, pointerAt(base, array + 8 * i));
        EXPECT_EQ(s, std::string(base + offset));
        offset += s.size() + 1;
      }
    }
    EXPECT_EQ(std::size_t(size), offset);
  }
}

TEST_F(JvmLauncherLibTest, FillsOnlyABufferOfAtLeastTheMeasuredSize) {
  const unsigned char untouched = 0xAB;
  const struct {
    const char* label;
    int extra;
    bool filled;
  } rows[] = {
      {"one byte short", -1, false},
      {"exact", 0, true},
      {"larger", 16, true},
  };
  JvmlLauncherApi* const api = jvmLauncherGetAPI();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    Jvm jvm;
    jvm.setLibPath("lib").addArgument("arg").addEnvVariable("N", "V");
    void* const handle = jvm.exportLauncher();
    const int size = api->getJvmlLauncherDataSize(handle);
    ASSERT_GT(size, 0);

    // 8-byte elements keep the header aligned; the slack after the given
    // size shows whether anything was written past it.
    std::vector<std::uint64_t> storage(std::size_t(size) / 8 + 4);
    unsigned char* const bytes =
        reinterpret_cast<unsigned char*>(storage.data());
    const std::size_t total = storage.size() * 8;
    std::memset(bytes, untouched, total);

    JvmlLauncherData* const result =
        api->initJvmlLauncherData(handle, bytes, size + row.extra);
    api->closeHandle(handle);

    const std::size_t firstUntouched = row.filled ? std::size_t(size) : 0;
    EXPECT_EQ(row.filled ? static_cast<void*>(bytes) : nullptr, result);
    for (std::size_t i = firstUntouched; i < total; ++i) {
      ASSERT_EQ(untouched, bytes[i]) << "byte " << i;
    }
    if (row.filled) {
      EXPECT_STREQ("V", pointerAt(pointerAt(bytes, 32), 0));
    }
  }
}

TEST_F(JvmLauncherLibTest, OneCreationMeasuresTwiceAndFillsOnce) {
  Jvm jvm;
  jvm.setLibPath("0123456789").addArgument("a").addArgument("bc");
  const DataPtr data = createData(jvm);
  ASSERT_NE(nullptr, data);

  const std::vector<LogEvent> need = logs.log().withPrefix("Need ");
  ASSERT_EQ(2u, need.size());
  for (const LogEvent& e : need) {
    EXPECT_EQ("Need 80 bytes for JvmlLauncherData buffer", e.message);
    EXPECT_EQ("initJvmlLauncherData", e.functionName);
    EXPECT_EQ("TRACE", e.levelName);
  }
  const std::vector<LogEvent> initialized =
      logs.log().withPrefix("Initialized ");
  ASSERT_EQ(1u, initialized.size());
  EXPECT_EQ(
      (tstrings::any() << "Initialized 80 bytes at "
                       << static_cast<const void*>(data.get()) << " address")
          .str(),
      initialized[0].message);
  EXPECT_EQ("initJvmlLauncherData", initialized[0].functionName);
}

// A table that counts its calls and can be told to fail; the real table
// does the work otherwise.
struct CountingTable {
  static int closeCalls;
  static int sizeCalls;
  static int initCalls;
  static std::optional<int> forcedSize;
  static bool failInit;

  static void reset() {
    closeCalls = sizeCalls = initCalls = 0;
    forcedSize.reset();
    failInit = false;
  }
  static void closeHandle(void* handle) {
    ++closeCalls;
    jvmLauncherGetAPI()->closeHandle(handle);
  }
  static int getJvmlLauncherDataSize(void* handle) {
    ++sizeCalls;
    return forcedSize ? *forcedSize
                      : jvmLauncherGetAPI()->getJvmlLauncherDataSize(handle);
  }
  static JvmlLauncherData* initJvmlLauncherData(void* handle, void* buffer,
                                                int size) {
    ++initCalls;
    return failInit ? nullptr
                    : jvmLauncherGetAPI()->initJvmlLauncherData(handle, buffer,
                                                                size);
  }
};
int CountingTable::closeCalls;
int CountingTable::sizeCalls;
int CountingTable::initCalls;
std::optional<int> CountingTable::forcedSize;
bool CountingTable::failInit;

TEST_F(JvmLauncherLibTest, CreationClosesTheHandleOnceWhateverHappens) {
  const struct {
    const char* label;
    std::optional<int> forcedSize;
    bool failInit;
    bool created;
    int initCalls;
  } rows[] = {
      {"success", std::nullopt, false, true, 1},
      {"size query fails", -1, false, false, 0},
      {"size zero", 0, false, false, 0},
      {"fill fails", std::nullopt, true, false, 1},
  };
  JvmlLauncherApi table = {CountingTable::closeHandle,
                           CountingTable::getJvmlLauncherDataSize,
                           CountingTable::initJvmlLauncherData};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    CountingTable::reset();
    CountingTable::forcedSize = row.forcedSize;
    CountingTable::failInit = row.failInit;
    Jvm jvm;
    jvm.setLibPath("lib").addArgument("a");

    int size = -7;
    // A buffer the fill refused is freed inside; the leak checker of the
    // sanitizer build would see it otherwise.
    const DataPtr data(
        jvmLauncherCreateJvmlLauncherData(&table, jvm.exportLauncher(), &size));

    EXPECT_EQ(row.created, data != nullptr);
    EXPECT_EQ(row.created ? 62 : -7, size);
    EXPECT_EQ(1, CountingTable::closeCalls);
    EXPECT_EQ(1, CountingTable::sizeCalls);
    EXPECT_EQ(row.initCalls, CountingTable::initCalls);
  }
}

TEST_F(JvmLauncherLibTest, CreationFromANullHandleCallsNothing) {
  CountingTable::reset();
  JvmlLauncherApi table = {CountingTable::closeHandle,
                           CountingTable::getJvmlLauncherDataSize,
                           CountingTable::initJvmlLauncherData};
  int size = -7;
  EXPECT_EQ(nullptr, jvmLauncherCreateJvmlLauncherData(&table, nullptr, &size));
  EXPECT_EQ(-7, size);
  EXPECT_EQ(0, CountingTable::closeCalls + CountingTable::sizeCalls +
                   CountingTable::initCalls);
}

TEST_F(JvmLauncherLibTest, FlatFunctionsAreExportedUnmangled) {
  const struct {
    const char* name;
    void* address;
  } rows[] = {
      {"jvmLauncherGetAPI", reinterpret_cast<void*>(&jvmLauncherGetAPI)},
      {"jvmLauncherCreateJvmlLauncherData",
       reinterpret_cast<void*>(&jvmLauncherCreateJvmlLauncherData)},
      {"jvmLauncherStartJvm", reinterpret_cast<void*>(&jvmLauncherStartJvm)},
      {"jvmLauncherLog", reinterpret_cast<void*>(&jvmLauncherLog)},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.address, dlsym(RTLD_DEFAULT, row.name)) << row.name;
  }
  EXPECT_EQ(jvmLauncherGetAPI(), jvmLauncherGetAPI());
}

std::uint64_t availableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  std::uint64_t kb = 0;
  std::string unit;
  while (meminfo >> key >> kb >> unit) {
    if (key == "MemAvailable:") {
      return kb * 1024;
    }
  }
  return 0;
}

// The buffer size travels as an int; a launch description that needs more
// must fail cleanly rather than wrap around into a small allocation. Copies
// 2 GiB strings several times, so it runs only on request.
TEST_F(JvmLauncherLibTest, DataBeyondIntMaxIsAMeasuringFailure) {
  const char* const heavy = std::getenv("WRAPKIN_HEAVY_TESTS");
  if (heavy == nullptr || std::string(heavy) != "1") {
    GTEST_SKIP() << "set WRAPKIN_HEAVY_TESTS=1 to run";
  }
  if (availableMemory() < (std::uint64_t(6) << 30)) {
    GTEST_SKIP() << "needs 6 GiB of free memory";
  }
  TempDir dir;
  const std::string record = (dir.path() / "calls").string();
  const EnvOverride recordVar("FAKE_JLI_RECORD", record.c_str());

  Jvm jvm;
  // 40 header bytes, the path and its zero byte, and the argument array's
  // null slot make exactly INT_MAX.
  jvm.setLibPath(std::string(std::size_t(INT_MAX) - 49, 'x'));
  JvmlLauncherApi* const api = jvmLauncherGetAPI();
  void* handle = jvm.exportLauncher();
  EXPECT_EQ(INT_MAX, api->getJvmlLauncherDataSize(handle));
  api->closeHandle(handle);

  jvm.addArgument("");
  handle = jvm.exportLauncher();
  EXPECT_EQ(-1, api->getJvmlLauncherDataSize(handle));
  api->closeHandle(handle);
  const std::vector<LogEvent> errors = logs.log().withPrefix("Exception ");
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ("ERROR", errors[0].levelName);
  EXPECT_EQ("getJvmlLauncherDataSize", errors[0].functionName);
  EXPECT_NE(std::string::npos,
            errors[0].message.find(
                "JVM launcher data exceeds 2147483647 bytes' caught"))
      << errors[0].message;

  // Stops before the library is even looked for.
  try {
    jvm.launch();
    ADD_FAILURE() << "launch did not raise";
  } catch (const WkErrorBase& e) {
    EXPECT_STREQ("Failed to launch JVM", e.rawMessage());
  }
  EXPECT_TRUE(logs.log().withPrefix("JVM library: ").empty());
  EXPECT_TRUE(readFakeJliCalls(record).empty());
}

// Launches against a fake runtime library that records its call.
class JvmLaunchTest : public JvmLauncherLibTest {
 protected:
  JvmLaunchTest()
      : recordPath((dir.path() / "calls").string()),
        recordVar("FAKE_JLI_RECORD", recordPath.c_str()),
        envVar("FAKE_JLI_ENV", "WRAPKIN_TEST_VAR"),
        resultVar("FAKE_JLI_RESULT", nullptr),
        debugVar("WRAPKIN_DEBUG", nullptr),
        testVar("WRAPKIN_TEST_VAR", nullptr) {
    jvm.setLibPath(FAKE_JLI_PATH)
        .addArgument("/app/launcher")
        .addArgument("-Dx=a b")
        .addArgument("Main");
  }

  std::vector<FakeJliCall> calls() const {
    return readFakeJliCalls(recordPath);
  }

  // The raw message and the composed one of what launch() raises.
  std::pair<std::string, std::string> launchError() {
    try {
      jvm.launch();
    } catch (const WkError<std::runtime_error>& e) {
      return {e.rawMessage(), e.what()};
    }
    return {"(nothing raised)", ""};
  }

  TempDir dir;
  const std::string recordPath;
  const EnvOverride recordVar;
  const EnvOverride envVar;
  const EnvOverride resultVar;
  const EnvOverride debugVar;
  const EnvOverride testVar;
  Jvm jvm;
};

TEST_F(JvmLaunchTest, CallsJliLaunchWithTheFourteenArguments) {
  jvm.addEnvVariable("WRAPKIN_TEST_VAR", "/usr/lib:/app");
  ASSERT_FALSE(isFakeJliLoaded());

  jvm.launch();

  const std::vector<FakeJliCall> recorded = calls();
  ASSERT_EQ(1u, recorded.size());
  const FakeJliCall& call = recorded[0];
  EXPECT_EQ(jvm.getArguments(), call.args());
  EXPECT_TRUE(call.isNull("argv[3]"));
  EXPECT_EQ(0, call.number("jargc"));
  EXPECT_TRUE(call.isNull("jargv"));
  EXPECT_EQ(0, call.number("appclassc"));
  EXPECT_TRUE(call.isNull("appclassv"));
  EXPECT_EQ("", call.text("fullversion"));
  EXPECT_EQ("", call.text("dotversion"));
  EXPECT_EQ(1, call.number("versions-shared"));
  EXPECT_EQ("java", call.text("pname"));
  EXPECT_EQ("java", call.text("lname"));
  EXPECT_EQ(0, call.number("javaargs"));
  EXPECT_EQ(0, call.number("cpwildcard"));
  EXPECT_EQ(0, call.number("javaw"));
  EXPECT_EQ(0, call.number("ergo"));
  EXPECT_EQ("/usr/lib:/app", call.text("env.WRAPKIN_TEST_VAR"));
  EXPECT_EQ(1, call.number("main-thread"));

  const std::vector<LogEvent> library = logs.log().withPrefix("JVM library: ");
  ASSERT_EQ(1u, library.size());
  EXPECT_EQ(std::string("JVM library: \"") + FAKE_JLI_PATH + "\"",
            library[0].message);
  EXPECT_EQ("launch", library[0].functionName);
  EXPECT_FALSE(isFakeJliLoaded());
}

TEST_F(JvmLaunchTest, LaunchesAgainFromTheSameJvm) {
  jvm.launch();
  jvm.launch();

  const std::vector<FakeJliCall> recorded = calls();
  ASSERT_EQ(2u, recorded.size());
  EXPECT_EQ(jvm.getArguments(), recorded[1].args());
  EXPECT_EQ(3u, jvm.getArguments().size());
}

TEST_F(JvmLaunchTest, WritesDebugLinesOnlyForExactlyTrue) {
  jvm.addEnvVariable("WRAPKIN_TEST_VAR", "v");
  const std::string expected = std::string("jli lib: [") + FAKE_JLI_PATH +
                               "]\n"
                               "jli arg[0]: [/app/launcher]\n"
                               "jli arg[1]: [-Dx=a b]\n"
                               "jli arg[2]: [Main]\n"
                               "env var[0]: WRAPKIN_TEST_VAR=[v]\n";
  const struct {
    const char* debug;
    std::string output;
  } rows[] = {
      {"true", expected}, {"TRUE", ""}, {"1", ""}, {"true ", ""}, {nullptr, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.debug ? row.debug : "(unset)");
    const EnvOverride debug("WRAPKIN_DEBUG", row.debug);
    testing::internal::CaptureStderr();
    jvm.launch();
    EXPECT_EQ(row.output, testing::internal::GetCapturedStderr());
  }
}

TEST_F(JvmLaunchTest, FailedSetenvIsADebugLineAndTheLaunchGoesOn) {
  jvm.addEnvVariable("BAD=NAME", "v");
  const EnvOverride debug("WRAPKIN_DEBUG", "true");

  testing::internal::CaptureStderr();
  jvm.launch();
  const std::string output = testing::internal::GetCapturedStderr();

  EXPECT_NE(std::string::npos, output.find("\nsetenv(0) failed\n")) << output;
  EXPECT_EQ(1u, calls().size());
}

TEST_F(JvmLaunchTest, NonZeroResultRaisesAndReleasesTheLibrary) {
  const EnvOverride result("FAKE_JLI_RESULT", "1");

  const std::pair<std::string, std::string> error = launchError();

  EXPECT_EQ("Failed to launch JVM", error.first);
  EXPECT_NE(std::string::npos,
            error.second.find(") at launch(): Failed to launch JVM"))
      << error.second;
  EXPECT_EQ(1u, calls().size());
  // The buffer's release is checked by the sanitizer build's leak checker.
  EXPECT_FALSE(isFakeJliLoaded());
}

TEST_F(JvmLaunchTest, LoaderFailuresLeaveLaunchUnchanged) {
  const struct {
    const char* libPath;
    std::string messagePrefix;
  } rows[] = {
      {"/nonexistent/libjli.so",
       "dlopen(/nonexistent/libjli.so) failed. Error: "},
      {"libm.so.6", "dlsym(libm.so.6, JLI_Launch) failed. Error: "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.libPath);
    jvm.setLibPath(row.libPath);
    const std::string message = launchError().first;
    EXPECT_EQ(0u, message.rfind(row.messagePrefix, 0)) << message;
    EXPECT_TRUE(calls().empty());
  }
}

}  // namespace
