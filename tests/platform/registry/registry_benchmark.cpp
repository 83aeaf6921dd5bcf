// Speed of the registry as a key grows: 100, 1 000 and 10 000 values in one key.
//   registry_benchmark [--benchmark_filter=...]   (build type Release)
// Each run works in a machine root of its own under $TMPDIR (or /tmp), removed at the end.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "quarvel_bench.h"
#include "quarvel_test.h"
#include "registry_helpers.h"
#include "registry_hive.h"

namespace {

using regtest::ScopedKey;

std::string valueName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "Value%05d", i);
  return name;
}

// A configuration store's typical entry: a short text.
std::vector<BYTE> valueData(int i) { return regtest::bytesWithNul("setting number " + std::to_string(i)); }

std::string keyPath(int count) { return "Software\\Bench\\Values" + std::to_string(count); }

// Fills the key once per size, one RegSetValueExA per value; later benchmarks reuse it.
void fillKey(int count) {
  static std::map<int, bool> filled;
  if (filled[count]) return;
  ScopedKey key;
  regtest::createKey(HKEY_CURRENT_USER, keyPath(count).c_str(), key);
  for (int i = 0; i < count; ++i) regtest::setValue(key.get(), valueName(i).c_str(), REG_SZ, valueData(i));
  filled[count] = true;
}

void BM_ReadOneValueOfUnchangedHive(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fillKey(count);
  ScopedKey key;
  RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(count).c_str(), 0, KEY_READ, key.out());
  const std::string name = valueName(count / 2);
  BYTE data[64];
  for (auto _ : state) {
    DWORD size = sizeof data, type = 0;
    if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS)
      state.SkipWithError("read failed");
    benchmark::DoNotOptimize(data);
  }
}
BENCHMARK(BM_ReadOneValueOfUnchangedHive)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Each write replaces one value's data, so the key keeps its size.
void BM_WriteOneValue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  fillKey(count);
  ScopedKey key;
  RegOpenKeyExA(HKEY_CURRENT_USER, keyPath(count).c_str(), 0, KEY_ALL_ACCESS, key.out());
  const std::string name = valueName(count / 2);
  int round = 0;
  for (auto _ : state) {
    if (regtest::setValue(key.get(), name.c_str(), REG_SZ, valueData(++round)) != ERROR_SUCCESS)
      state.SkipWithError("write failed");
  }
}
BENCHMARK(BM_WriteOneValue)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A new key filled value by value, then every value read back: one run per size.
void BM_WriteThenReadAll(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  int run = 0;
  for (auto _ : state) {
    const std::string path = "Software\\Bench\\Fresh" + std::to_string(count) + "_" + std::to_string(++run);
    ScopedKey key;
    regtest::createKey(HKEY_CURRENT_USER, path.c_str(), key);
    for (int i = 0; i < count; ++i)
      if (regtest::setValue(key.get(), valueName(i).c_str(), REG_SZ, valueData(i)) != ERROR_SUCCESS)
        state.SkipWithError("write failed");
    BYTE data[64];
    for (int i = 0; i < count; ++i) {
      DWORD size = sizeof data;
      if (RegQueryValueExA(key.get(), valueName(i).c_str(), nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        state.SkipWithError("read failed");
    }
    state.PauseTiming();
    RegDeleteTreeA(HKEY_CURRENT_USER, path.c_str());
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WriteThenReadAll)->Arg(100)->Arg(1000)->Arg(10000)->Iterations(1)->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// What a process pays when another one has changed the hive: reading and checking
// the whole file. Linear in its size, whether the values share a key or not.
void BM_ParseHive(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const bool oneKey = state.range(1) != 0;
  platform::registry::Key root;
  for (int i = 0; i < count; ++i) {
    platform::registry::Key& key = oneKey ? root : root.addSubkey("Group" + std::to_string(i / 100));
    const std::vector<BYTE> data = valueData(i);
    key.setValue(valueName(i), REG_SZ, data);
  }
  const std::vector<uint8_t> file = platform::registry::serializeHive(root);
  for (auto _ : state) {
    platform::registry::Key parsed;
    if (!platform::registry::parseHive(file.data(), file.size(), parsed)) state.SkipWithError("refused");
    benchmark::DoNotOptimize(parsed);
  }
}
BENCHMARK(BM_ParseHive)
    ->ArgNames({"values", "oneKey"})
    ->Args({100, 1})->Args({1000, 1})->Args({10000, 1})->Args({10000, 0})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return quarveltest::runBenchmarks(argc, argv); }
