// Verifying a signed PDF of 1, 10 and 100 MB with one signature as a user does: the test
// viewer's command vhost-run loading the real Tolmira.api, beside pdfsig on the same file,
// each a whole process started afresh for every run, the two interleaved (see
// compareProcesses). Run from a Release build; the goal is that vhost-run takes no longer
// than pdfsig, and that its peak memory does not grow with the document.
//
// The documents (pages with a 500 KB scanned-looking image each) are made by the fixture
// kit and signed by the kit's signer without an OCSP address, so that neither side goes to
// the network:
// - vhost-run: the viewer opens the document and validates its signature field; the engine
//   digests the signed ranges as the viewer reads them from the file, verifies the PKCS#7
//   value, finds the field, runs the document check, and builds the signer's chain against
//   the viewer's trusted list (the kit's root and intermediate, --trusted). Without an OCSP
//   address it stops there (certificate result 0x80070022), as it would offline.
// - pdfsig: it opens the document, hashes the ranges, verifies the value and builds the
//   chain against an NSS database made here with the kit's root as trusted anchor and the
//   intermediate (-nssdir), OCSP off (-no-ocsp). Its chain check succeeds there (without
//   the root in the database it says "Certificate issuer is unknown."), yet the pdfsig of
//   Debian 12 prints "Unknown issue with Certificate or corrupted data." after a successful
//   check: it reports the library's last error code, which decoding the signer's
//   certificate left set.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Fixtures.h"
#include "TestFiles.h"
#include "TolmiraHost.h"
#include "Viewer.h"
#include "quarvel_bench.h"
#include "quarvel_test.h"
#include "testpki.h"

namespace {

constexpr int kImageBytes = 500 * 1000;

// What both sides trust, made once: the viewer's trusted identities as DER files and an NSS
// database for pdfsig; and Tolmira installed for the default viewer.
struct Trust {
  std::vector<std::string> trusted;  // DER files of the viewer's trusted identities
  std::string nssDatabase;           // as -nssdir takes it; "" when it could not be made
};

const Trust& trust() {
  static const Trust t = [] {
    Trust made;
    const testpki::Kit& kit = testpki::Kit::standard();
    const std::string root = quarveltest::machineRoot();
    for (const char* name : {"root", "int"}) {
      made.trusted.push_back(root + "/" + name + ".der");
      testpki::writeFile(made.trusted.back(), kit.certificate(name));
    }
    try {
      made.nssDatabase = pdffixtures::makeNssDatabase(root + "/nssdb", kit, {});
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
    }
    pdftest::installedFor(vhost::Config{});
    return made;
  }();
  return t;
}

struct Setup {
  std::string document;
  std::string nssDatabase;
  std::vector<std::string> trusted;
};

// The signed document of about `megabytes` MB, made once.
const Setup& setup(int megabytes) {
  static std::map<int, Setup> made;
  auto found = made.find(megabytes);
  if (found != made.end()) return found->second;
  Setup& s = made[megabytes];
  s.document = quarveltest::machineRoot() + "/signed-" + std::to_string(megabytes) + "mb.pdf";
  pdffixtures::DocumentPlan plan;
  plan.pages = std::max(1, megabytes * 1000 * 1000 / kImageBytes);
  plan.imageBytes = kImageBytes;
  plan.signatures = {pdffixtures::SignatureFieldPlan{}};
  pdffixtures::writeDocument(plan, s.document);
  pdffixtures::SignOptions options;
  options.signer = "noaia";
  pdffixtures::sign(s.document, plan.signatures[0].name, options);
  s.nssDatabase = trust().nssDatabase;
  s.trusted = trust().trusted;
  return s;
}

std::vector<std::string> vhostRunArguments(const Setup& s) {
  std::vector<std::string> args{VHOST_RUN_PATH};
  for (const std::string& der : s.trusted) {
    args.push_back("--trusted");
    args.push_back(der);
  }
  args.push_back(TOLMIRA_PATH);
  args.push_back(s.document);
  return args;
}

std::vector<std::string> pdfsigArguments(const Setup& s) {
  return {"pdfsig", "-nssdir", s.nssDatabase, "-no-ocsp", s.document};
}

std::string commandLine(const std::vector<std::string>& args) {
  std::string command;
  for (const std::string& a : args) command += "'" + a + "' ";
  return command;
}

void BM_VerifyWholeProcesses(benchmark::State& state) {
  const int megabytes = static_cast<int>(state.range(0));
  const Setup& s = setup(megabytes);
  if (s.nssDatabase.empty()) {
    state.SkipWithError("no NSS database for pdfsig (certutil of libnss3-tools)");
    return;
  }
  // What each side says of the document, once, outside the timing.
  const pdftest::Run ours = pdftest::run(commandLine(vhostRunArguments(s)));
  const pdftest::Run theirs = pdftest::run(commandLine(pdfsigArguments(s)));
  if (ours.output.find("returned 1,") == std::string::npos) {
    state.SkipWithError(("vhost-run did not verify: " + ours.output).c_str());
    return;
  }
  if (theirs.output.find("Signature is Valid.") == std::string::npos) {
    state.SkipWithError(("pdfsig does not find the signature valid: " + theirs.output).c_str());
    return;
  }
  static std::set<int> shown;
  if (shown.insert(megabytes).second) {
    std::fprintf(stderr, "%d MB, %ju bytes. vhost-run says:\n%s", megabytes,
                 static_cast<uintmax_t>(std::filesystem::file_size(s.document)), ours.output.c_str());
  }
  quarveltest::compareProcesses(state, vhostRunArguments(s), pdfsigArguments(s));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(std::filesystem::file_size(s.document)));
}

BENCHMARK(BM_VerifyWholeProcesses)->Arg(1)->Iterations(21)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_VerifyWholeProcesses)->Arg(10)->Iterations(11)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_VerifyWholeProcesses)->Arg(100)->Iterations(7)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) { return quarveltest::runBenchmarks(argc, argv); }
