#include "Dll.h"

#include <dlfcn.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "RaisedMessage.h"

namespace {

using AnswerFn = int (*)();

const std::string kLibPath = TEST_LIB_PATH;

// True while any handle keeps the test library mapped.
bool isLoaded() {
  void* h = dlopen(kLibPath.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (h != nullptr) {
    dlclose(h);
  }
  return h != nullptr;
}

TEST(DllTest, FunctionKeepsItsOwnHandle) {
  auto original = std::make_unique<Dll>(kLibPath);
  const DllFunction<AnswerFn> answer(*original, "wrapkinTestAnswer");
  const Dll copy(*original);
  original.reset();
  EXPECT_EQ(42, static_cast<AnswerFn>(answer)());
  AnswerFn fromCopy = nullptr;
  copy.getFunction("wrapkinTestAnswer", fromCopy);
  EXPECT_EQ(42, fromCopy());
}

TEST(DllTest, EveryOpenIsClosed) {
  ASSERT_FALSE(isLoaded());
  {
    const Dll lib(kLibPath);
    const Dll copy(lib);
    const DllFunction<AnswerFn> answer(copy, "wrapkinTestAnswer");
    // The failed lookup must close the handle it opened for itself.
    raisedMessage([&] { DllFunction<void*>(lib, "nosuch"); });
    EXPECT_TRUE(isLoaded());
  }
  EXPECT_FALSE(isLoaded());
}

TEST(DllTest, Failures) {
  // The loader's own texts, read the way the launcher reads them.
  void* h = dlopen(kLibPath.c_str(), RTLD_LAZY);
  ASSERT_NE(nullptr, h);
  dlsym(h, "nosuch");
  const std::string noSymbol = dlerror();
  dlclose(h);
  const std::string missingLib = kLibPath + ".missing";
  dlopen(missingLib.c_str(), RTLD_LAZY);
  const std::string noFile = dlerror();

  const Dll lib(kLibPath);
  EXPECT_EQ(nullptr, lib.getFunction("nosuch", false));
  EXPECT_EQ("dlsym(" + kLibPath + ", nosuch) failed. Error: " + noSymbol,
            raisedMessage([&] { DllFunction<void*>(lib, "nosuch"); }));
  EXPECT_EQ("dlopen(" + missingLib + ") failed. Error: " + noFile,
            raisedMessage([&] { Dll{missingLib}; }));
#if defined(__ELF__)
  // Found, but at address 0: still not a function the launcher can call.
  EXPECT_EQ(nullptr, lib.getFunction("wrapkinNullSymbol", false));
  EXPECT_EQ("dlsym(" + kLibPath +
                ", wrapkinNullSymbol) failed. Error: no error reported by the "
                "loader",
            raisedMessage([&] { lib.getFunction("wrapkinNullSymbol", true); }));
#endif
  Dll::freeLibrary(nullptr);
}

}  // namespace
