// A detached PKCS#7 over 50 MB (the signed ranges of a large PDF) against
// `openssl dgst -sha256` over the same bytes: the check digests the data once,
// without copying it. In process over bytes in memory, and as whole processes
// beside each other (pkcs7-check reading the file, see compareProcesses). Run from
// a Release build; the goal is at most 1.2 times openssl dgst.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "certcheck/ReaderUtils.h"
#include "quarvel_bench.h"
#include "testpki.h"

namespace {

constexpr size_t kSize = 50u * 1024 * 1024;

struct Fixture {
  testpki::Bytes data;
  testpki::Bytes value;
  std::string file;
  std::string valueFile;
  Fixture() : data(kSize) {
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    const testpki::Kit& kit = testpki::Kit::standard();
    value = kit.sign("p7-detached", "rsa2048", data, {"--md", "sha256"});
    file = kit.path("tmp/benchmark-50mb.bin");
    testpki::writeFile(file, data);
    valueFile = kit.path("tmp/benchmark-50mb.p7");
    testpki::writeFile(valueFile, value);
  }
  ~Fixture() {
    std::remove(file.c_str());
    std::remove(valueFile.c_str());
  }
};

const Fixture& fixture() {
  static const Fixture f;
  return f;
}

void BM_VerifyDetachedPkcs7(benchmark::State& state) {
  const Fixture& f = fixture();
  for (auto _ : state) {
    bool qualified = false;
    const DWORD code = verifyPKCS7Signature(f.data.data(), static_cast<unsigned int>(f.data.size()), f.value.data(),
                                            static_cast<unsigned int>(f.value.size()), &qualified);
    if (code != 0) state.SkipWithError("the signature does not verify");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_WholeProcessesBesideOpensslDgst(benchmark::State& state) {
  const Fixture& f = fixture();
  quarveltest::compareProcesses(state, {PKCS7_CHECK_PATH, f.valueFile, f.file},
                                {"openssl", "dgst", "-sha256", f.file});
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

BENCHMARK(BM_VerifyDetachedPkcs7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeProcessesBesideOpensslDgst)->Iterations(21)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) { return quarveltest::runBenchmarks(argc, argv); }
