// Speed of the secure settings road: one load of a 20-section archive beside
// OpenSSL's CMS and zlib doing the same checks, and our DSA verification beside
// OpenSSL's DSA_do_verify on the same key and signature (min and median ratios:
// --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true);
// and the peak heap of a load per input size (counters peak_bytes and
// peak_per_input_byte; the program counts every malloc of the process).
//   archive_benchmark [--benchmark_filter=...]   (build type Release)
#define OPENSSL_SUPPRESS_DEPRECATED
#include "ArchiveTestSupport.h"

#include <benchmark/benchmark.h>
#include <openssl/cms.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <malloc.h>
#include <zlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

using namespace archivetest;

// Heap accounting: this program's malloc family wraps glibc's and keeps the bytes
// in use and their peak. Left out under the sanitizers, which own malloc.
#if defined(__SANITIZE_ADDRESS__)
#define ARCHIVE_BENCHMARK_COUNTS_HEAP 0
#else
#define ARCHIVE_BENCHMARK_COUNTS_HEAP 1
#endif

namespace heap {
std::atomic<size_t> inUse{0};
std::atomic<size_t> peak{0};

void added(void* p) {
  if (p == nullptr) return;
  const size_t now = inUse.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
  size_t old = peak.load();
  while (now > old && !peak.compare_exchange_weak(old, now)) {
  }
}
void removed(void* p) {
  if (p != nullptr) inUse.fetch_sub(malloc_usable_size(p));
}
// Starts a measurement: the peak is counted from the bytes in use now.
size_t start() {
  const size_t base = inUse.load();
  peak.store(base);
  return base;
}
}  // namespace heap

#if ARCHIVE_BENCHMARK_COUNTS_HEAP
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size) {
  void* p = __libc_malloc(size);
  heap::added(p);
  return p;
}
void* calloc(size_t n, size_t size) {
  void* p = __libc_calloc(n, size);
  heap::added(p);
  return p;
}
void* realloc(void* old, size_t size) {
  heap::removed(old);
  void* p = __libc_realloc(old, size);
  if (p != nullptr) heap::added(p);
  else if (old != nullptr && size != 0) heap::added(old);
  return p;
}
void free(void* p) {
  heap::removed(p);
  __libc_free(p);
}
void* memalign(size_t alignment, size_t size) {
  void* p = __libc_memalign(alignment, size);
  heap::added(p);
  return p;
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
  *out = memalign(alignment, size);
  return *out == nullptr ? 12 : 0;
}
}
#endif

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

// The same checks done with OpenSSL's CMS and zlib, the peer of one load: the
// ZIP entries' CRCs (zlib), the signature block's signature over the signer-info
// text with the root certificate (CMS_verify, the signer's certificate not
// chained further, as the load trusts the root key directly), and each covered
// manifest section's SHA-1 against the signer-info text's digest.
struct PeerArchive {
  std::string bytes;
  X509* root = nullptr;
};

const PeerArchive& peerArchive() {
  static PeerArchive a = [] {
    PeerArchive p;
    p.bytes = twentySections();
    FILE* f = std::fopen(keyFile("archive-root.crt").c_str(), "r");
    p.root = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    return p;
  }();
  return a;
}

uint32_t get16(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8;
}
uint32_t get32(const std::string& s, size_t at) { return get16(s, at) | get16(s, at + 2) << 16; }

// Sections of a manifest-form text (after its header), by Name line.
std::vector<std::pair<std::string_view, std::string_view>> peerSections(std::string_view text) {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  size_t at = text.find("\r\n\r\n");
  if (at == std::string_view::npos) return out;
  at += 4;
  while (at < text.size()) {
    const size_t end = text.find("\r\n\r\n", at);
    if (end == std::string_view::npos) break;
    const std::string_view section = text.substr(at, end + 4 - at);
    const size_t nameEnd = section.find("\r\n");
    out.emplace_back(section.substr(6, nameEnd - 6), section);
    at = end + 4;
  }
  return out;
}

bool peerLoad(const PeerArchive& a) {
  const std::string& z = a.bytes;
  std::string_view manifest, block;
  for (size_t at = 0; at + 30 <= z.size() && get32(z, at) == 0x04034B50;) {
    const uint32_t crc = get32(z, at + 14), size = get32(z, at + 18);
    const uint32_t nameLength = get16(z, at + 26), extraLength = get16(z, at + 28);
    const std::string_view name(z.data() + at + 30, nameLength);
    const size_t data = at + 30 + nameLength + extraLength;
    if (data + size > z.size()) return false;
    if (crc32(crc32(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(z.data() + data), size) != crc) return false;
    if (name == "META-INF/MANIFEST.MF") manifest = std::string_view(z.data() + data, size);
    if (name.size() > 4 && name.substr(name.size() - 4) == ".DSA") block = std::string_view(z.data() + data, size);
    at = data + size;
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(block.data());
  CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(block.size()));
  if (cms == nullptr) return false;
  STACK_OF(X509)* certs = sk_X509_new_null();
  sk_X509_push(certs, a.root);
  BIO* out = BIO_new(BIO_s_mem());
  const bool verified = CMS_verify(cms, certs, nullptr, nullptr, out, CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) == 1;
  sk_X509_free(certs);
  CMS_ContentInfo_free(cms);
  char* content = nullptr;
  const long contentLength = BIO_get_mem_data(out, &content);
  bool ok = verified;
  if (ok) {
    const auto manifestSections = peerSections(manifest);
    for (const auto& [name, section] : peerSections(std::string_view(content, static_cast<size_t>(contentLength)))) {
      const size_t digestAt = section.find("SHA1-Digest: ");
      if (digestAt == std::string_view::npos) {
        ok = false;
        break;
      }
      const std::string_view encoded = section.substr(digestAt + 13, section.find("\r\n", digestAt) - digestAt - 13);
      unsigned char expected[64];
      if (encoded.size() != 28 ||
          EVP_DecodeBlock(expected, reinterpret_cast<const unsigned char*>(encoded.data()), 28) != 21) {
        ok = false;
        break;
      }
      const std::string_view* covered = nullptr;
      for (const auto& m : manifestSections) {
        if (m.first == name) covered = &m.second;
      }
      unsigned char digest[20];
      unsigned int n = 0;
      if (covered == nullptr ||
          EVP_Digest(covered->data(), covered->size(), digest, &n, EVP_sha1(), nullptr) != 1 ||
          std::memcmp(digest, expected, 20) != 0) {
        ok = false;
        break;
      }
    }
  }
  BIO_free(out);
  return ok;
}

void BM_LoadTwentySectionArchivePeer(benchmark::State& state) {
  const PeerArchive& a = peerArchive();
  for (auto _ : state) {
    const bool ok = peerLoad(a);
    if (!ok) state.SkipWithError("the peer did not verify");
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_LoadTwentySectionArchivePeer)->Unit(benchmark::kMicrosecond);

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

// The archive's own SHA-1 beside OpenSSL's EVP SHA-1, one megabyte each; the
// portable rounds too, which run where the processor has no SHA extensions.
const std::string& megabyte() {
  static const std::string data = [] {
    std::string d(1 << 20, '\0');
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<char>(i * 131 + (i >> 9));
    return d;
  }();
  return data;
}

void sha1Ours(benchmark::State& state, bool portable) {
  const std::string& data = megabyte();
  const bool before = sha1UsePortable(portable);
  for (auto _ : state) {
    Sha1Context c;
    unsigned char digest[20];
    sha1Init(&c);
    sha1Update(&c, blobOf(data));
    sha1Final(&c, digest);
    benchmark::DoNotOptimize(digest);
  }
  sha1UsePortable(before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}

void BM_Sha1OneMegabyteOurs(benchmark::State& state) { sha1Ours(state, false); }
BENCHMARK(BM_Sha1OneMegabyteOurs)->Unit(benchmark::kMicrosecond);

void BM_Sha1OneMegabyteOursPortable(benchmark::State& state) { sha1Ours(state, true); }
BENCHMARK(BM_Sha1OneMegabyteOursPortable)->Unit(benchmark::kMicrosecond);

void BM_Sha1OneMegabyteOpenSsl(benchmark::State& state) {
  const std::string& data = megabyte();
  for (auto _ : state) {
    unsigned char digest[20];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), digest, &n, EVP_sha1(), nullptr);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Sha1OneMegabyteOpenSsl)->Unit(benchmark::kMicrosecond);

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

// Peak heap of one load against the archive's size, for the inputs that cost the
// most per byte: one long unsigned value (on one line, or folded into 72-byte
// continuation lines), many small unsigned sections, and a manifest whose last
// long value lacks its line end (the matcher fails after trying every split).
// "loaded" says whether the archive was accepted; the cap and the matcher's
// budget refuse the others.
enum Shape { kLongValue, kFoldedValue, kSmallSections, kUnendedValue };

std::string shapedArchive(Shape shape, size_t bytes) {
  if (shape == kUnendedValue) {
    return eswtool::writeZip(
        {{"META-INF/MANIFEST.MF", "Manifest-Version: 2.0\r\n\r\nName: a:b\r\nK: " + std::string(bytes, 'v')}});
  }
  eswtool::ArchivePlan plan = typicalPlan();
  if (shape == kSmallSections) {
    for (size_t i = 0; i * 16 < bytes; ++i) plan.sections.push_back(eswtool::Section{"a:" + std::to_string(i), {}, false});
  } else {
    std::string value;
    for (size_t i = 0; value.size() < bytes; ++i) {
      value += static_cast<char>('a' + i % 26);
      if (shape == kFoldedValue && i % 72 == 71) value += "\n ";
    }
    plan.sections.push_back(eswtool::Section{"config:Big", {{"Data", value}}, false});
  }
  return eswtool::buildArchive(plan);
}

void BM_LoadPeakMemory(benchmark::State& state) {
  const std::string bytes = shapedArchive(static_cast<Shape>(state.range(0)), static_cast<size_t>(state.range(1)));
  const std::string key = rootKey();
  size_t peak = 0;
  bool loaded = false;
  for (auto _ : state) {
    const size_t base = heap::start();
    ArchivePtr a = load(bytes, key);
    loaded = a != nullptr;
    a.reset();
    peak = heap::peak.load() - base;
  }
  state.counters["input_bytes"] = static_cast<double>(bytes.size());
  state.counters["loaded"] = loaded ? 1 : 0;
  if (ARCHIVE_BENCHMARK_COUNTS_HEAP) {
    state.counters["peak_bytes"] = static_cast<double>(peak);
    state.counters["peak_per_input_byte"] = static_cast<double>(peak) / static_cast<double>(bytes.size());
  }
}
BENCHMARK(BM_LoadPeakMemory)
    ->ArgNames({"shape", "bytes"})
    ->ArgsProduct({{kLongValue, kFoldedValue}, {64 << 10, 1 << 20, 10 << 20, 30 << 20}})
    ->ArgsProduct({{kSmallSections}, {64 << 10, 1 << 20, 5 << 20}})
    ->ArgsProduct({{kUnendedValue}, {1 << 20, 10 << 20}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
