// Composing and handing over the JVM command line, in process: the
// arguments from the configuration, and the launch through the flat
// interface up to the call of the runtime library's double.

#include <cstdint>
#include <string>

#include <benchmark/benchmark.h>

#include "CfgFile.h"
#include "CfgText.h"
#include "Dll.h"
#include "JvmLauncher.h"

namespace {

constexpr std::int64_t kMinArguments = 10;
constexpr std::int64_t kMaxArguments = 100000;

// A configuration whose JVM command line has range(0) JVM options.
CfgFile cfgWithOptions(std::int64_t options) {
  std::vector<std::string> values;
  values.reserve(static_cast<std::size_t>(options));
  for (std::int64_t i = 0; i < options; ++i) {
    values.push_back("-Dbench.option." + std::to_string(i) + "=value-" +
                     std::to_string(i));
  }
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::Application, PropertyName::mainclass,
                       {"hello.Hello"});
  cfg.setPropertyValue(SectionName::JavaOptions, PropertyName::javaOptions,
                       values);
  return cfg;
}

void countArguments(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_JvmInitFromConfigFile(benchmark::State& state) {
  const CfgFile cfg = cfgWithOptions(state.range(0));
  for (auto _ : state) {
    Jvm jvm;
    jvm.addArgument("/Applications/Hello.app/Contents/MacOS/Hello");
    jvm.initFromConfigFile(cfg);
    benchmark::DoNotOptimize(jvm.getArguments().data());
  }
  countArguments(state);
}

// Jvm::launch against the double, which returns at once: the exported copy,
// the launch buffer, the library lookup and the call.
void BM_JvmLaunch(benchmark::State& state) {
  // Held open so that every launch finds the library loaded, as the second
  // pass of the launcher does.
  const Dll pinned(BENCH_JLI_PATH);
  Jvm jvm;
  jvm.setLibPath(BENCH_JLI_PATH)
      .addArgument("/Applications/Hello.app/Contents/MacOS/Hello")
      .addEnvVariable("DYLD_LIBRARY_PATH", ":/Applications/Hello.app/Contents/app")
      .initFromConfigFile(cfgWithOptions(state.range(0)));
  for (auto _ : state) {
    jvm.launch();
  }
  countArguments(state);
}

}  // namespace

BENCHMARK(BM_JvmInitFromConfigFile)
    ->RangeMultiplier(10)
    ->Range(kMinArguments, kMaxArguments)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JvmLaunch)
    ->RangeMultiplier(10)
    ->Range(kMinArguments, kMaxArguments)
    ->Unit(benchmark::kMicrosecond);
