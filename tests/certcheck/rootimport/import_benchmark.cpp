// Importing a downloaded bundle of the kit's root and N intermediates below it,
// into empty stores and again into stores that hold them all: each store is read
// once and each certificate checked against the few that can issue it, so the
// time grows with N, not with its square.
//   import_benchmark [--benchmark_filter=...]   (build type Release)
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "certcheck/CertificateImport.h"
#include "platform/machine.h"
#include "quarvel_bench.h"
#include "testbundle.h"

namespace {

// The bundle file of N intermediates, made once per N.
const std::string& bundle(int count) {
  static std::map<int, std::string> files;
  std::string& file = files[count];
  if (!file.empty()) return file;
  const testpki::Kit& kit = testpki::Kit::standard();
  std::vector<testpki::Bytes> certificates{kit.certificate("root"), kit.certificate("int")};
  for (int i = 0; i < count; ++i) {
    certificates.push_back(testpki::makeCertificate({testpki::kitName("Quarvel Test Bench CA " + std::to_string(i)),
                                                     testpki::kitName("Quarvel Test Intermediate"),
                                                     kit.path("p256.key"), kit.path("int.key"), 20000 + i}));
  }
  file = platform::machineRoot() + "/bundle-" + std::to_string(count) + ".p7b";
  testpki::writeFile(file, testpki::certsOnlyBundle(certificates));
  return file;
}

void clearStores() { std::filesystem::remove_all(platform::machineRoot() + "/crypt"); }

void BM_ImportBundle(benchmark::State& state) {
  const std::string& file = bundle(static_cast<int>(state.range(0)));
  const bool again = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    clearStores();
    if (again && !importCertificateBundle(file.c_str())) state.SkipWithError("the first import failed");
    state.ResumeTiming();
    if (!importCertificateBundle(file.c_str())) state.SkipWithError("refused");
  }
  clearStores();
}
BENCHMARK(BM_ImportBundle)
    ->ArgNames({"intermediates", "again"})
    ->Args({100, 0})->Args({500, 0})->Args({2000, 0})->Args({500, 1})->Args({2000, 1})
    ->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return quarveltest::runBenchmarks(argc, argv); }
