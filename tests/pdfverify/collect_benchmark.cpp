// Reading 50 MB of signed data from the viewer's data source in the 1024-byte chunks the
// engine asks for, each digested with SHA-256 as it arrives, beside one SHA-256 pass over
// the same bytes in one block. Run from a Release build; the goal is close to the digest's
// time (the chunks cost one host call and one small copy each).
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

void BM_ReadAndDigestSignedData(benchmark::State& state) {
  vhost::Viewer viewer;
  pdftest::bindHFTs(viewer);
  unsigned char digest[EVP_MAX_MD_SIZE];
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  for (auto _ : state) {
    state.PauseTiming();
    PSDataSource source = viewer.newDataSource(bytes());
    state.ResumeTiming();
    size_t read = 0;
    EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    readSignedData(source, [&](const unsigned char* chunk, size_t size) {
      EVP_DigestUpdate(context.get(), chunk, size);
      read += size;
    });
    EVP_DigestFinal_ex(context.get(), digest, nullptr);
    benchmark::DoNotOptimize(digest);
    state.PauseTiming();
    if (read != kSize) state.SkipWithError("not all bytes read");
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

BENCHMARK(BM_ReadAndDigestSignedData)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sha256)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
