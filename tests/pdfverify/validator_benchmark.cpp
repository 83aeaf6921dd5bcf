// The document check of a large PDF (1000 pages with annotations, fonts, images and
// shadings, made by the fixture kit) beside `qpdf --check` of the same file, in one run:
// the check opens the document in the test viewer and runs the plug-in's validator
// (fonts, the consultant's walk over the whole graph, the second run over the pages).
// Goal: the check takes no longer than qpdf's own check.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Corpus.h"
#include "HostCalls.h"
#include "VOQ_DocumentValidator.h"
#include "quarvel_bench.h"
#include "quarvel_test.h"

namespace {

const std::string& largeDocument() {
  static const std::string path = [] {
    std::string p = quarveltest::machineRoot() + "/large.pdf";
    pdffixtures::writeLargeDocument(1000, p);
    return p;
  }();
  return path;
}

void BM_DocumentCheck(benchmark::State& state) {
  const std::string& path = largeDocument();
  vhost::Viewer viewer;
  for (auto _ : state) {
    if (!viewer.openDocument(path)) state.SkipWithError("the viewer refused the document");
    pdftest::bindHFTs(viewer);
    if (VOQ_DocumentValidator::validate(viewer.activePDDoc(), false) != 0) state.SkipWithError("check failed");
    viewer.closeDocuments();
  }
  state.counters["categories"] = categoryCounts.getCount();
  state.counters["missingFonts"] = missingFontCount;
}

void BM_QpdfCheck(benchmark::State& state) {
  const std::string command = "qpdf --check " + largeDocument() + " >/dev/null 2>&1";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("qpdf --check failed");
  }
}

BENCHMARK(BM_DocumentCheck)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QpdfCheck)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return quarveltest::runBenchmarks(argc, argv); }
