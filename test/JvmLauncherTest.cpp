#include "JvmLauncher.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FakeJliRecord.h"
#include "RaisedMessage.h"
#include "RecordingLogAppender.h"
#include "SysInfo.h"
#include "TempDir.h"

namespace {

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
typedef std::unique_ptr<JvmlLauncherData, FreeDeleter> DataPtr;

DataPtr createData(const Jvm& jvm, int* size = nullptr) {
  return DataPtr(jvmLauncherCreateJvmlLauncherData(jvmLauncherGetAPI(),
                                                   jvm.exportLauncher(), size));
}

// The buffer's pointer slots are unaligned; read them byte-wise.
template <class T = const char*>
T readAt(const void* base, std::size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const char*>(base) + offset, sizeof(value));
  return value;
}

// Sets (or with null, unsets) an environment variable for one scope.
class EnvOverride {
 public:
  EnvOverride(const char* varName, const char* value) : name(varName) {
    if (const char* old = getenv(name)) {
      previous = old;
    }
    set(value);
  }
  ~EnvOverride() { set(previous ? previous->c_str() : nullptr); }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  void set(const char* value) {
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }

  const char* const name;
  std::optional<std::string> previous;
};

typedef std::vector<std::string> Strings;

// The recorded events that contain `text`, without their line numbers:
// "LEVEL file function: message".
Strings eventsWith(const RecordingLogAppender& log, const std::string& text) {
  Strings out;
  for (std::string event : log.events) {
    if (event.find(text) != std::string::npos) {
      const std::string::size_type colon = event.find(':');
      event.erase(colon, event.find(' ', colon) - colon);
      out.push_back(event);
    }
  }
  return out;
}

class JvmLauncherTest : public testing::Test {
 protected:
  JvmLauncherTest() : logScope(log) {}

  RecordingLogAppender log;
  DefaultAppenderScope logScope;
  TempDir dir;
};

TEST_F(JvmLauncherTest, LaysOutTheEightyByteExample) {
  Jvm jvm;
  jvm.setLibPath("0123456789").addArgument("a").addArgument("bc");

  int size = 0;
  const DataPtr data = createData(jvm, &size);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(80, size);

  const char* const base = reinterpret_cast<const char*>(data.get());
  EXPECT_EQ(base + 40, readAt(base, 0));
  EXPECT_EQ(2, readAt<std::int32_t>(base, 8));
  EXPECT_EQ(0, readAt<std::int32_t>(base, 12));
  EXPECT_EQ(base + 51, readAt(base, 16));
  EXPECT_EQ(base + 80, readAt(base, 24));
  EXPECT_EQ(base + 80, readAt(base, 32));
  EXPECT_EQ(0, std::memcmp(base + 40, "0123456789", 11));
  EXPECT_EQ(base + 75, readAt(base, 51));
  EXPECT_EQ(base + 77, readAt(base, 59));
  EXPECT_EQ(nullptr, readAt(base, 67));
  EXPECT_EQ(0, std::memcmp(base + 75, "a\0bc", 5));
}

TEST_F(JvmLauncherTest, EachEnvironmentPairAddsItsBytes) {
  const struct {
    const char* name;
    const char* value;
  } pairs[] = {{"NAME", "value"}, {"N", ""}, {"DYLD_LIBRARY_PATH", ":/app"}};
  Jvm jvm;
  jvm.setLibPath("0123456789").addArgument("a").addArgument("bc");
  int expected = 80;
  for (const auto& pair : pairs) {
    jvm.addEnvVariable(pair.name, pair.value);
    expected += 8 + int(std::strlen(pair.name)) + 1 + 8 +
                int(std::strlen(pair.value)) + 1;
    void* const handle = jvm.exportLauncher();
    EXPECT_EQ(expected, jvmLauncherGetAPI()->getJvmlLauncherDataSize(handle))
        << "with " << pair.name;
    jvmLauncherGetAPI()->closeHandle(handle);
  }
}

TEST_F(JvmLauncherTest, FillsOnlyABufferOfAtLeastTheMeasuredSize) {
  JvmlLauncherApi* const api = jvmLauncherGetAPI();
  for (const int extra : {-1, 0, 16}) {
    Jvm jvm;
    jvm.setLibPath("lib").addArgument("arg").addEnvVariable("N", "V");
    void* const handle = jvm.exportLauncher();
    const int size = api->getJvmlLauncherDataSize(handle);

    // 8-byte elements align the header; the slack past the given size shows
    // whether anything was written beyond it.
    std::vector<std::uint64_t> storage(std::size_t(size) / 8 + 4,
                                       0xABABABABABABABABu);
    unsigned char* const bytes =
        reinterpret_cast<unsigned char*>(storage.data());
    JvmlLauncherData* const result =
        api->initJvmlLauncherData(handle, bytes, size + extra);
    api->closeHandle(handle);

    const bool filled = extra >= 0;
    EXPECT_EQ(filled ? static_cast<void*>(bytes) : nullptr, result) << extra;
    for (std::size_t i = filled ? size : 0; i < storage.size() * 8; ++i) {
      ASSERT_EQ(0xAB, bytes[i]) << "byte " << i << ", size + " << extra;
    }
    if (filled) {
      EXPECT_STREQ("V", readAt(readAt(bytes, 32), 0));
    }
  }
}

TEST_F(JvmLauncherTest, OneCreationMeasuresTwiceAndFillsOnce) {
  Jvm jvm;
  jvm.setLibPath("0123456789").addArgument("a").addArgument("bc");
  const DataPtr data = createData(jvm);

  const std::string prefix = "TRACE JvmLauncherLib.cpp initJvmlLauncherData: ";
  const std::string need = prefix + "Need 80 bytes for JvmlLauncherData buffer";
  const std::string initialized =
      prefix + "Initialized 80 bytes at " +
      (tstrings::any() << static_cast<const void*>(data.get())).str() +
      " address";
  EXPECT_EQ(Strings({need, need, initialized}), eventsWith(log, " bytes"));
}

// A table that counts its calls and can be told to fail; otherwise the real
// table does the work.
struct CountingTable {
  static inline int closeCalls, sizeCalls, initCalls;
  static inline std::optional<int> forcedSize;
  static inline bool failInit;

  static void closeHandle(void* h) {
    ++closeCalls;
    jvmLauncherGetAPI()->closeHandle(h);
  }
  static int getSize(void* h) {
    ++sizeCalls;
    return forcedSize ? *forcedSize
                      : jvmLauncherGetAPI()->getJvmlLauncherDataSize(h);
  }
  static JvmlLauncherData* init(void* h, void* buffer, int size) {
    ++initCalls;
    return failInit
               ? nullptr
               : jvmLauncherGetAPI()->initJvmlLauncherData(h, buffer, size);
  }
};

TEST_F(JvmLauncherTest, CreationClosesTheHandleOnceWhateverHappens) {
  const struct {
    const char* label;
    std::optional<int> forcedSize;
    bool failInit;
    int initCalls;
  } rows[] = {
      {"success", std::nullopt, false, 1},
      {"size query fails", -1, false, 0},
      {"size zero", 0, false, 0},
      // The refused buffer must be freed; the sanitizer build's leak checker
      // would report it.
      {"fill fails", std::nullopt, true, 1},
  };
  JvmlLauncherApi table = {CountingTable::closeHandle, CountingTable::getSize,
                           CountingTable::init};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    CountingTable::closeCalls = CountingTable::sizeCalls = 0;
    CountingTable::initCalls = 0;
    CountingTable::forcedSize = row.forcedSize;
    CountingTable::failInit = row.failInit;
    Jvm jvm;
    jvm.setLibPath("lib").addArgument("a");

    int size = -7;
    const DataPtr data(
        jvmLauncherCreateJvmlLauncherData(&table, jvm.exportLauncher(), &size));

    const bool created = !row.forcedSize && !row.failInit;
    EXPECT_EQ(created, data != nullptr);
    EXPECT_EQ(created ? 62 : -7, size);
    EXPECT_EQ(1, CountingTable::closeCalls);
    EXPECT_EQ(1, CountingTable::sizeCalls);
    EXPECT_EQ(row.initCalls, CountingTable::initCalls);
  }

  CountingTable::closeCalls = CountingTable::sizeCalls = 0;
  CountingTable::initCalls = 0;
  EXPECT_EQ(nullptr,
            jvmLauncherCreateJvmlLauncherData(&table, nullptr, nullptr));
  EXPECT_EQ(0, CountingTable::closeCalls + CountingTable::sizeCalls +
                   CountingTable::initCalls);
}

TEST_F(JvmLauncherTest, FlatFunctionsAreExportedUnmangled) {
  EXPECT_EQ(reinterpret_cast<void*>(&jvmLauncherGetAPI),
            dlsym(RTLD_DEFAULT, "jvmLauncherGetAPI"));
  EXPECT_EQ(reinterpret_cast<void*>(&jvmLauncherCreateJvmlLauncherData),
            dlsym(RTLD_DEFAULT, "jvmLauncherCreateJvmlLauncherData"));
  EXPECT_EQ(reinterpret_cast<void*>(&jvmLauncherStartJvm),
            dlsym(RTLD_DEFAULT, "jvmLauncherStartJvm"));
  EXPECT_EQ(reinterpret_cast<void*>(&jvmLauncherLog),
            dlsym(RTLD_DEFAULT, "jvmLauncherLog"));
}

std::uint64_t availableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key, unit;
  std::uint64_t kb = 0;
  while (meminfo >> key >> kb >> unit && key != "MemAvailable:") {
  }
  return kb * 1024;
}

// Sizes travel as int: a launch description that needs more must fail
// cleanly rather than wrap around into a small allocation. It copies 2 GiB
// strings several times, so it runs only on request.
TEST_F(JvmLauncherTest, DataBeyondIntMaxIsAMeasuringFailure) {
  const char* const heavy = getenv("WRAPKIN_HEAVY_TESTS");
  if (heavy == nullptr || std::string(heavy) != "1" ||
      availableMemory() < (std::uint64_t(6) << 30)) {
    GTEST_SKIP() << "set WRAPKIN_HEAVY_TESTS=1, and have 6 GiB free";
  }
  Jvm jvm;
  // Header, path and zero byte, and the argument array's null slot: INT_MAX.
  jvm.setLibPath(std::string(std::size_t(INT_MAX) - 49, 'x'));
  JvmlLauncherApi* const api = jvmLauncherGetAPI();
  void* handle = jvm.exportLauncher();
  EXPECT_EQ(INT_MAX, api->getJvmlLauncherDataSize(handle));
  api->closeHandle(handle);

  jvm.addArgument("");
  handle = jvm.exportLauncher();
  EXPECT_EQ(-1, api->getJvmlLauncherDataSize(handle));
  api->closeHandle(handle);
  const Strings errors = eventsWith(log, "Exception ");
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].find("ERROR JvmLauncherLib.cpp "
                               "getJvmlLauncherDataSize: Exception with "
                               "message 'JvmLauncherLib.cpp("))
      << errors[0];
  EXPECT_NE(
      std::string::npos,
      errors[0].find("JVM launcher data exceeds 2147483647 bytes' caught"))
      << errors[0];

  // Stops before it looks for the library.
  EXPECT_EQ("Failed to launch JVM", raisedMessage([&] { jvm.launch(); }));
  EXPECT_TRUE(eventsWith(log, "JVM library: ").empty());
}

bool isFakeJliLoaded() {
  void* const handle = dlopen(FAKE_JLI_PATH, RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);
  }
  return handle != nullptr;
}

// Launches against the fake runtime library, which records its call.
class JvmLaunchTest : public JvmLauncherTest {
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
        .addArgument("Main")
        .addEnvVariable("WRAPKIN_TEST_VAR", "/usr/lib:/app");
  }

  std::vector<FakeJliCall> calls() const {
    return readFakeJliCalls(recordPath);
  }

  const std::string recordPath;
  const EnvOverride recordVar, envVar, resultVar, debugVar, testVar;
  Jvm jvm;
};

TEST_F(JvmLaunchTest, CallsJliLaunchWithTheFourteenArguments) {
  ASSERT_FALSE(isFakeJliLoaded());

  jvm.launch();

  const std::vector<FakeJliCall> recorded = calls();
  ASSERT_EQ(1u, recorded.size());
  const FakeJliCall& call = recorded[0];
  EXPECT_EQ(jvm.getArguments(), fakeJliArgs(call));
  const FakeJliCall expected = {
      {"argv[3]", std::nullopt},
      {"jargc", "0"},
      {"jargv", std::nullopt},
      {"appclassc", "0"},
      {"appclassv", std::nullopt},
      {"fullversion", ""},
      {"dotversion", ""},
      {"versions-shared", "1"},
      {"pname", "java"},
      {"lname", "java"},
      {"javaargs", "0"},
      {"cpwildcard", "0"},
      {"javaw", "0"},
      {"ergo", "0"},
      {"env.WRAPKIN_TEST_VAR", "/usr/lib:/app"},
      {"main-thread", "1"},
  };
  for (const auto& entry : expected) {
    EXPECT_EQ(entry.second, call.at(entry.first)) << entry.first;
  }

  EXPECT_EQ(Strings({std::string("TRACE JvmLauncherLib.cpp launch: JVM "
                                 "library: \"") +
                     FAKE_JLI_PATH + "\""}),
            eventsWith(log, "JVM library"));
  EXPECT_FALSE(isFakeJliLoaded());
}

TEST_F(JvmLaunchTest, WritesDebugLinesOnlyForExactlyTrue) {
  const std::string lines = std::string("jli lib: [") + FAKE_JLI_PATH +
                            "]\n"
                            "jli arg[0]: [/app/launcher]\n"
                            "jli arg[1]: [-Dx=a b]\n"
                            "jli arg[2]: [Main]\n"
                            "env var[0]: WRAPKIN_TEST_VAR=[/usr/lib:/app]\n";
  const char* const values[] = {"true", "TRUE", "1", "true ", nullptr};
  for (const char* debug : values) {
    const EnvOverride debugOverride("WRAPKIN_DEBUG", debug);
    testing::internal::CaptureStderr();
    jvm.launch();
    const bool on = debug != nullptr && std::strcmp(debug, "true") == 0;
    EXPECT_EQ(on ? lines : "", testing::internal::GetCapturedStderr())
        << (debug ? debug : "(unset)");
  }
}

TEST_F(JvmLaunchTest, NonZeroResultRaisesAndReleasesTheLibrary) {
  const EnvOverride result("FAKE_JLI_RESULT", "1");

  try {
    jvm.launch();
    ADD_FAILURE() << "nothing raised";
  } catch (const WkError<std::runtime_error>& e) {
    EXPECT_STREQ("Failed to launch JVM", e.rawMessage());
    EXPECT_NE(nullptr, std::strstr(e.what(), ") at launch(): Failed"));
  }
  EXPECT_EQ(1u, calls().size());
  // The buffer's release is checked by the sanitizer build's leak checker.
  EXPECT_FALSE(isFakeJliLoaded());
}

class JvmArgumentsTest : public JvmLauncherTest {
 protected:
  JvmArgumentsTest()
      : launcherPath(SysInfo::getProcessModulePath()),
        appPathArg("-Dwrapkin.app-path=" + launcherPath),
        splashFile((dir.path() / "splash.png").string()),
        missingFile((dir.path() / "missing.png").string()) {
    std::ofstream(splashFile) << "png";
  }

  // The command line of a launch of `cfg`.
  Strings compose(const CfgFile& cfg) const {
    Jvm jvm;
    jvm.addArgument(launcherPath).initFromConfigFile(cfg);
    return jvm.getArguments();
  }

  const std::string launcherPath;
  const std::string appPathArg;
  const std::string splashFile;
  const std::string missingFile;
};

TEST_F(JvmArgumentsTest, ComposesEveryPropertyInItsPlace) {
  using namespace PropertyName;
  const CfgFile::Id<CfgFile::SectionNameTag> app = SectionName::Application;
  CfgFile cfg;
  cfg.setPropertyValue(app, modulepath, {"/mods/a", "/mods/b"})
      .setPropertyValue(app, classpath, {"a.jar", "b.jar"})
      .setPropertyValue(app, splash, {splashFile})
      .setPropertyValue(SectionName::JavaOptions, javaOptions,
                        {"-Dname=a b", "-Xmx1g"})
      .setPropertyValue(app, mainmodule, {"old/Main", "app/app.Main"})
      .setPropertyValue(app, mainclass, {"app.Main"})
      .setPropertyValue(app, mainjar, {"app.jar"})
      .setPropertyValue(SectionName::ArgOptions, arguments,
                        {"one", "two words"})
      // Read elsewhere or not at all; none of them reaches the command line.
      .setPropertyValue(app, version, {"1.0"})
      .setPropertyValue(app, memory, {"auto"})
      .setPropertyValue(app, runtime, {"/rt"})
      .setPropertyValue(SectionName::AppCDSJavaOptions, javaOptions,
                        {"-Xshare:auto"})
      .setPropertyValue(SectionName::AppCDSGenerateCacheJavaOptions,
                        javaOptions, {"-Xshare:dump"});

  const Strings expected = {
      launcherPath,   "--module-path", "/mods/a",     "--module-path",
      "/mods/b",      "-classpath",    "a.jar:b.jar", "-splash:" + splashFile,
      "-Dname=a b",   "-Xmx1g",        appPathArg,    "-m",
      "app/app.Main", "app.Main",      "-jar",        "app.jar",
      "one",          "two words"};
  EXPECT_EQ(expected, compose(cfg));
  EXPECT_TRUE(eventsWith(log, "Splash").empty());
}

TEST_F(JvmArgumentsTest, EmptyConfigurationGivesLauncherAndAppPath) {
  EXPECT_EQ(Strings({launcherPath, appPathArg}), compose(CfgFile()));
}

TEST_F(JvmArgumentsTest, SplashTakesTheLastValueIfItsFileExists) {
  const struct {
    Strings values;
    bool used;
  } rows[] = {
      {{missingFile}, false},
      {{splashFile, missingFile}, false},
      {{missingFile, splashFile}, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.values));
    log.events.clear();
    CfgFile cfg;
    cfg.setPropertyValue(SectionName::Application, PropertyName::splash,
                         row.values);

    const Strings args = compose(cfg);

    const Strings warnings = eventsWith(log, "Splash");
    if (row.used) {
      EXPECT_EQ(Strings({launcherPath, "-splash:" + splashFile, appPathArg}),
                args);
      EXPECT_EQ(Strings(), warnings);
    } else {
      EXPECT_EQ(Strings({launcherPath, appPathArg}), args);
      EXPECT_EQ(Strings({"WARNING JvmLauncher.cpp initFromConfigFile: Splash "
                         "property ignored. File \"" +
                         missingFile + "\" not found"}),
                warnings);
    }
  }
}

TEST_F(JvmLauncherTest, SplashOptionIsFoundByItsExactPrefix) {
  const struct {
    Strings args;
    bool withSplash;
  } rows[] = {
      {{}, false},
      {{"-splash:"}, true},
      {{"/app/launcher", "-Dx=1", "-splash:/img.png"}, true},
      {{"-splash", "/img.png"}, false},
      {{"-SPLASH:/img.png"}, false},
  };
  for (const auto& row : rows) {
    Jvm jvm;
    for (const std::string& arg : row.args) {
      jvm.addArgument(arg);
    }
    EXPECT_EQ(row.withSplash, jvm.isWithSplash())
        << testing::PrintToString(row.args);
  }
}

TEST_F(JvmLauncherTest, ConstructionAndDestructionAreTraced) {
  std::string address;
  {
    Jvm jvm;
    address = (tstrings::any() << static_cast<const void*>(&jvm)).str();
  }
  EXPECT_EQ(
      Strings({"TRACE JvmLauncher.cpp Jvm: Jvm(" + address + ")::Jvm()",
               "TRACE JvmLauncher.cpp ~Jvm: Jvm(" + address + ")::~Jvm()"}),
      eventsWith(log, "Jvm("));
}

}  // namespace
