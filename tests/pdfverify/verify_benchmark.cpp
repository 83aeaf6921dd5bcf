// Verifying a signed 10 MB PDF with one signature through the real Tolmira.api in the test
// viewer, beside pdfsig on the same file, in one run. Run from a Release build; the goal is
// that Tolmira takes no longer than pdfsig.
//
// The document (20 pages, each with a 500 KB scanned-looking image) is made by the fixture
// kit and signed by the kit's signer without an OCSP address, so that neither side goes to
// the network:
// - Tolmira, per iteration: the viewer opens the document and validates its signature
//   field; the engine collects the signed ranges, verifies the PKCS#7 value, finds the
//   field, runs the document check, and builds the signer's chain against the viewer's
//   trusted list (the kit's root and intermediate). Without an OCSP address it stops there
//   (certificate result 0x80070022), as it would offline.
// - pdfsig, per iteration a child process: it opens the document, hashes the ranges,
//   verifies the value and builds the chain against an NSS database made here with the
//   kit's root as trusted anchor and the intermediate (-nssdir), OCSP off (-no-ocsp).
//   Its chain check succeeds there (without the root in the database it says "Certificate
//   issuer is unknown."), yet the pdfsig of Debian 12 prints "Unknown issue with
//   Certificate or corrupted data." after a successful check: it reports the library's
//   last error code, which decoding the signer's certificate left set.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "TestFiles.h"
#include "TolmiraHost.h"
#include "Viewer.h"
#include "quarvel_bench.h"
#include "quarvel_test.h"
#include "testpki.h"

extern char** environ;

namespace {

constexpr int kPages = 20;
constexpr int kImageBytes = 500 * 1000;

struct Setup {
  std::string document;
  std::string nssDatabase;  // as -nssdir takes it; "" when it could not be made
};

const Setup& setup() {
  static const Setup s = [] {
    Setup made;
    const testpki::Kit& kit = testpki::Kit::standard();
    made.document = quarveltest::machineRoot() + "/signed-10mb.pdf";
    pdffixtures::DocumentPlan plan;
    plan.pages = kPages;
    plan.imageBytes = kImageBytes;
    plan.signatures = {pdffixtures::SignatureFieldPlan{}};
    pdffixtures::writeDocument(plan, made.document);
    pdffixtures::SignOptions options;
    options.signer = "noaia";
    pdffixtures::sign(made.document, plan.signatures[0].name, options);

    try {
      made.nssDatabase = pdffixtures::makeNssDatabase(quarveltest::machineRoot() + "/nssdb", kit, {});
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    return made;
  }();
  return s;
}

std::vector<std::string> pdfsigArguments() {
  return {"pdfsig", "-nssdir", setup().nssDatabase, "-no-ocsp", setup().document};
}

// Runs the command with its output discarded; its exit status, -1 when it did not run.
int spawnQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_Tolmira(benchmark::State& state) {
  const Setup& s = setup();
  vhost::Config config;
  config.trustedCerts = {testpki::Kit::standard().certificate("root"), testpki::Kit::standard().certificate("int")};
  vhost::Viewer viewer(pdftest::installedFor(config));
  if (!viewer.loadPlugin(TOLMIRA_PATH)) {
    state.SkipWithError(("the viewer could not load Tolmira: " + viewer.error()).c_str());
    return;
  }
  vhost::SignatureResult last;
  for (auto _ : state) {
    if (!viewer.openDocument(s.document)) {
      state.SkipWithError("the viewer refused the document");
      break;
    }
    std::vector<vhost::SignatureResult> results = viewer.validateSignatures();
    viewer.closeDocuments();
    if (results.size() != 1 || results[0].returned != 1) {
      state.SkipWithError("the verification failed");
      break;
    }
    last = results[0];
  }
  viewer.unloadPlugins();
  // What the user is told: the cabinet's "id" (2: not valid, 3: identity not confirmed,
  // 4: confirmed) and the panel's lines, once.
  state.counters["id"] = last.id;
  static bool shown = false;
  for (size_t i = 0; !shown && i < last.texts.size(); ++i) {
    if (!last.texts[i].empty()) std::fprintf(stderr, "Tolmira panel %zu: %s\n", i, last.texts[i].c_str());
  }
  shown = true;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(s.document)));
}

void BM_Pdfsig(benchmark::State& state) {
  const Setup& s = setup();
  if (s.nssDatabase.empty()) {
    state.SkipWithError("no NSS database for pdfsig (certutil of libnss3-tools)");
    return;
  }
  // What pdfsig says of the document, once, outside the timing.
  std::string command;
  for (const std::string& a : pdfsigArguments()) command += a + " ";
  const pdftest::Run verdict = pdftest::run(command);
  const bool valid = verdict.output.find("Signature is Valid.") != std::string::npos;
  const size_t at = verdict.output.find("Certificate Validation: ");
  const std::string certificate =
      at == std::string::npos ? "" : verdict.output.substr(at + 24, verdict.output.find('\n', at) - at - 24);
  if (!valid) {
    state.SkipWithError(("pdfsig does not find the signature valid: " + verdict.output).c_str());
    return;
  }
  for (auto _ : state) {
    if (spawnQuietly(pdfsigArguments()) != 0) {
      state.SkipWithError("pdfsig failed");
      break;
    }
  }
  state.SetLabel("Signature is Valid. " + certificate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(s.document)));
}

BENCHMARK(BM_Tolmira)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pdfsig)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return quarveltest::runBenchmarks(argc, argv); }
