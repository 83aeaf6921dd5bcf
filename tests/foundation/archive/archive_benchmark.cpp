// Speed of the secure settings road: one load of a 20-section archive, and our
// DSA verification beside OpenSSL's DSA_do_verify on the same key and signature.
//   archive_benchmark [--benchmark_filter=...]   (build type Release)
#define OPENSSL_SUPPRESS_DEPRECATED
#include "ArchiveTestSupport.h"

#include <benchmark/benchmark.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>

using namespace archivetest;

namespace {

std::string twentySections() {
  eswtool::ArchivePlan plan = typicalPlan();
  for (int i = 0; i < 18; ++i) {
    plan.sections.push_back(eswtool::Section{"config:Card" + std::to_string(i),
                                             {{"SectionName", "Card" + std::to_string(i)},
                                              {"ATR", "3B:FF:18:00:FF:81:31:FE:45:65:63:0D:0C:76:07:00:11"},
                                              {"Reader", "a reader name"}},
                                             true});
  }
  return eswtool::buildArchive(plan);
}

void BM_LoadTwentySectionArchive(benchmark::State& state) {
  const std::string bytes = twentySections();
  const std::string key = rootKey();
  for (auto _ : state) {
    ArchivePtr a = load(bytes, key);
    if (a == nullptr) state.SkipWithError("did not load");
    benchmark::DoNotOptimize(a.get());
  }
}
BENCHMARK(BM_LoadTwentySectionArchive)->Unit(benchmark::kMicrosecond);

struct Signed {
  EVP_PKEY* pkey = nullptr;
  std::string message;
  std::string der;  // SEQUENCE{r, s}
  std::string p, q, g, y, r, s;
};

std::string le(const BIGNUM* b) {
  std::string out(static_cast<size_t>(BN_num_bytes(b)), '\0');
  BN_bn2lebinpad(b, reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(out.size()));
  return out;
}

const Signed& fixture() {
  static Signed f = [] {
    Signed s;
    FILE* file = std::fopen(keyFile("archive-root.key").c_str(), "r");
    s.pkey = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    s.message = eswtool::signerInfoText(typicalPlan());
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    size_t n = 0;
    EVP_DigestSignInit(md, nullptr, EVP_sha1(), nullptr, s.pkey);
    EVP_DigestSign(md, nullptr, &n, reinterpret_cast<const unsigned char*>(s.message.data()), s.message.size());
    s.der.resize(n);
    EVP_DigestSign(md, reinterpret_cast<unsigned char*>(s.der.data()), &n,
                   reinterpret_cast<const unsigned char*>(s.message.data()), s.message.size());
    s.der.resize(n);
    EVP_MD_CTX_free(md);
    const DSA* dsa = EVP_PKEY_get0_DSA(s.pkey);
    s.p = le(DSA_get0_p(dsa));
    s.q = le(DSA_get0_q(dsa));
    s.g = le(DSA_get0_g(dsa));
    s.y = le(DSA_get0_pub_key(dsa));
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.der.data());
    DSA_SIG* sig = d2i_DSA_SIG(nullptr, &p, static_cast<long>(s.der.size()));
    const BIGNUM *r = nullptr, *sv = nullptr;
    DSA_SIG_get0(sig, &r, &sv);
    s.r = le(r);
    s.s = le(sv);
    DSA_SIG_free(sig);
    return s;
  }();
  return f;
}

void BM_DsaVerifyOurs(benchmark::State& state) {
  const Signed& f = fixture();
  const DsaKey key{blobOf(f.p), blobOf(f.q), blobOf(f.g), blobOf(f.y)};
  for (auto _ : state) {
    const int result = dsaVerify(blobOf(f.message), blobOf(f.r), blobOf(f.s), &key);
    if (result != 0) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_DsaVerifyOurs)->Unit(benchmark::kMicrosecond);

// The same work on OpenSSL's side: SHA-1 of the message, then DSA_do_verify.
void BM_DsaVerifyOpenSsl(benchmark::State& state) {
  const Signed& f = fixture();
  DSA* dsa = EVP_PKEY_get1_DSA(f.pkey);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(f.der.data());
  DSA_SIG* sig = d2i_DSA_SIG(nullptr, &p, static_cast<long>(f.der.size()));
  for (auto _ : state) {
    unsigned char digest[20];
    unsigned int n = 0;
    EVP_Digest(f.message.data(), f.message.size(), digest, &n, EVP_sha1(), nullptr);
    const int result = DSA_do_verify(digest, 20, sig, dsa);
    if (result != 1) state.SkipWithError("did not verify");
    benchmark::DoNotOptimize(result);
  }
  DSA_SIG_free(sig);
  DSA_free(dsa);
}
BENCHMARK(BM_DsaVerifyOpenSsl)->Unit(benchmark::kMicrosecond);

// Lines that match two alternatives each, then junk: without remembering failed
// states this would take 2^lines tries.
void BM_HostileSignerInfo(benchmark::State& state) {
  std::string text = "Signature-Version: 2.0\r\n\r\nName: a:b\r\n";
  for (int i = 0; i < state.range(0); ++i) text += i % 2 ? "SectionName: x\r\n" : "SHA1-Digest: AAAA\r\n";
  text += "\r\nx";
  for (auto _ : state) {
    AllocList list{};
    CaptureList slots[kGrammarSlots];
    unsigned char rules[2048];
    Blob r = makeBlob(rules, sizeof rules);
    loadManifestGrammar(&r);
    const int matched = matchGrammar(&list, r, blobOf(std::string("<signer_info>")), blobOf(text), slots, kGrammarSlots);
    arcFreeAll(&list);
    if (matched != 0) state.SkipWithError("matched");
  }
}
BENCHMARK(BM_HostileSignerInfo)->Arg(40)->Arg(400)->Arg(4000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
