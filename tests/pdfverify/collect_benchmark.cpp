// Collecting 50 MB of signed data from the viewer's data source in the 1024-byte chunks
// the engine asks for, beside one SHA-256 pass over the same bytes. Run from a Release
// build; the goal is at most twice the digest's time.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>

#include "DSEngine.h"
#include "HostCalls.h"

namespace {

constexpr size_t kSize = 50u * 1024 * 1024;

const std::string& bytes() {
  static const std::string data = [] {
    std::string d(kSize, '\0');
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<char>(i * 2654435761u >> 13);
    return d;
  }();
  return data;
}

void BM_CollectSignedData(benchmark::State& state) {
  vhost::Viewer viewer;
  pdftest::bindHFTs(viewer);
  for (auto _ : state) {
    state.PauseTiming();
    PSDataSource source = viewer.newDataSource(bytes());
    VOQ_String data;
    state.ResumeTiming();
    collectSignedData(source, data);
    benchmark::DoNotOptimize(data.getData());
    state.PauseTiming();
    if (data.getLength() != kSize) state.SkipWithError("not all bytes collected");
    viewer.releaseDataSource(source);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void BM_Sha256(benchmark::State& state) {
  const std::string& data = bytes();
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// The floor of any collection into memory: one copy of the bytes into a fresh block, whose
// pages the system has to provide on first touch (on some virtual machines that alone costs
// many times a digest pass).
void BM_CopyIntoFreshMemory(benchmark::State& state) {
  const std::string& data = bytes();
  for (auto _ : state) {
    std::unique_ptr<char[]> block(new char[kSize]);
    std::memcpy(block.get(), data.data(), kSize);
    benchmark::DoNotOptimize(block.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

BENCHMARK(BM_CollectSignedData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyIntoFreshMemory)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
