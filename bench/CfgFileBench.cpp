// Reading the configuration, in process: CfgFile::load against the floor of
// merely reading the same file line by line with std::getline, and the
// macro expansion that follows it on every launch.

#include <time.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>

#include "CfgFile.h"
#include "CfgText.h"
#include "TempDir.h"
#include "tstrings.h"

namespace {

constexpr std::int64_t kMinLines = 10;
constexpr std::int64_t kMaxLines = 1000000;
constexpr std::int64_t kMaxOccurrences = 100000;

// What the launcher maps the macros to for a bundle in /Applications.
const CfgFile::Macros& bundleMacros() {
  static const CfgFile::Macros macros = {
      {"$APPDIR", "/Applications/Hello.app/Contents/app"},
      {"$BINDIR", "/Applications/Hello.app/Contents/MacOS"},
      {"$ROOTDIR", "/Applications/Hello.app"},
  };
  return macros;
}

// The generated file of CfgText::mixed(lines), written on first use and
// removed when the process ends.
const std::string& mixedCfgFile(std::int64_t lines) {
  static TempDir dir;
  static std::map<std::int64_t, std::string> files;
  std::string& path = files[lines];
  if (path.empty()) {
    path = (dir.path() / ("mixed-" + std::to_string(lines) + ".cfg")).string();
    std::ofstream out(path, std::ios::binary);
    out << CfgText::mixed(lines);
    if (!out.flush()) {
      throw std::runtime_error("cannot write \"" + path + "\"");
    }
  }
  return path;
}

void countLines(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// CPU time of this thread: another process taking the CPU does not count.
double threadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// The floor: every line read into a string, nothing else.
std::int64_t readLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::int64_t count = 0;
  while (std::getline(in, line)) {
    benchmark::DoNotOptimize(line.data());
    ++count;
  }
  return count;
}

// Once before measuring, so that the memory the process needs is taken from
// the kernel (a page fault for every page) before the clock runs; a single
// call of the largest sizes takes long enough to be the only one measured.
void warmUp(const std::string& path) {
  readLines(path);
  benchmark::DoNotOptimize(CfgFile::load(path).expandMacros(bundleMacros()));
}

// CfgFile::load against the floor, in turns within every iteration: the
// speed of this machine drifts by tens of per cent from one second to the
// next (other processes, other virtual machines), and taking turns lets the
// drift fall on both alike. The counters are microseconds per call.
void BM_LoadAgainstGetline(benchmark::State& state) {
  const std::string& path = mixedCfgFile(state.range(0));
  warmUp(path);
  double getlineSeconds = 0;
  double loadSeconds = 0;
  for (auto _ : state) {
    const double start = threadSeconds();
    if (readLines(path) != state.range(0)) {
      state.SkipWithError("the file has not the expected number of lines");
    }
    const double read = threadSeconds();
    {
      // Freeing the result counts too: the launcher pays for it as well.
      CfgFile cfg = CfgFile::load(path);
      benchmark::DoNotOptimize(cfg);
    }
    loadSeconds += threadSeconds() - read;
    getlineSeconds += read - start;
  }
  const double calls = static_cast<double>(state.iterations());
  state.counters["getline_us"] = getlineSeconds * 1e6 / calls;
  state.counters["load_us"] = loadSeconds * 1e6 / calls;
  state.counters["ratio"] = loadSeconds / getlineSeconds;
  countLines(state);
}

// What the launcher does with the file: load it and expand its macros.
void BM_CfgFileLoadExpand(benchmark::State& state) {
  const std::string& path = mixedCfgFile(state.range(0));
  warmUp(path);
  for (auto _ : state) {
    CfgFile cfg = CfgFile::load(path).expandMacros(bundleMacros());
    benchmark::DoNotOptimize(cfg);
  }
  countLines(state);
}

// One value with range(0) occurrences of "$APPDIR".
void BM_ExpandMacros(benchmark::State& state) {
  CfgFile cfg;
  cfg.setPropertyValue(SectionName::JavaOptions, PropertyName::javaOptions,
                       {"-Dbench.path=" + CfgText::macroValue(state.range(0))});
  for (auto _ : state) {
    CfgFile expanded = cfg.expandMacros(bundleMacros());
    benchmark::DoNotOptimize(expanded);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Replace(benchmark::State& state) {
  const std::string value = CfgText::macroValue(state.range(0));
  const std::string& appDir = bundleMacros().at("$APPDIR");
  for (auto _ : state) {
    std::string replaced = tstrings::replace(value, "$APPDIR", appDir);
    benchmark::DoNotOptimize(replaced);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_LoadAgainstGetline)
    ->RangeMultiplier(10)
    ->Range(kMinLines, kMaxLines)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CfgFileLoadExpand)
    ->RangeMultiplier(10)
    ->Range(kMinLines, kMaxLines)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ExpandMacros)
    ->RangeMultiplier(10)
    ->Range(kMinLines, kMaxOccurrences)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Replace)
    ->RangeMultiplier(10)
    ->Range(kMinLines, kMaxOccurrences)
    ->Unit(benchmark::kMicrosecond);
