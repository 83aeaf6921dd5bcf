// vhost-run: loads a plug-in into the test viewer, opens a PDF, validates each signature
// and prints what the plug-in answered, beside the viewer's own word on how much of the
// document the signature covers.
//
//   vhost-run [--language CODE] [--product NAME] [--version MAJOR] [--trusted DER]... PLUGIN PDF
//
// --trusted adds a DER certificate to the viewer's trusted identities (one per option).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Viewer.h"
#include "platform/window_test.h"

int main(int argc, char** argv) {
  vhost::Config config;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    std::string option = argv[i];
    if (option == "--language") {
      config.language = argv[i + 1];
    } else if (option == "--product") {
      config.product = argv[i + 1];
    } else if (option == "--version") {
      config.major = static_cast<ASInt16>(std::atoi(argv[i + 1]));
    } else if (option == "--trusted") {
      std::ifstream in(argv[i + 1], std::ios::binary);
      std::vector<unsigned char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (!in.good() && !in.eof()) der.clear();
      if (der.empty()) {
        std::fprintf(stderr, "vhost-run: cannot read the certificate %s\n", argv[i + 1]);
        return 2;
      }
      config.trustedCerts.push_back(der);
    } else {
      std::fprintf(stderr, "vhost-run: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (argc - i != 2) {
    std::fprintf(stderr,
                 "usage: vhost-run [--language CODE] [--product NAME] [--version MAJOR] [--trusted DER]... PLUGIN "
                 "PDF\n");
    return 2;
  }
  vhost::Viewer viewer(config);
  if (!viewer.loadPlugin(argv[i])) {
    std::fprintf(stderr, "vhost-run: the plug-in was not loaded: %s\n", viewer.error().c_str());
    return 1;
  }
  // A plug-in that refuses to start says why in a message box; here nobody sees one.
  for (const auto& box : platform::wintest::messageBoxes())
    std::fprintf(stderr, "vhost-run: the plug-in showed \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
  if (!viewer.openDocument(argv[i + 1])) {
    std::fprintf(stderr, "vhost-run: the document cannot be opened: %s\n", viewer.error().c_str());
    return 1;
  }
  auto results = viewer.validateSignatures();
  if (results.empty()) std::printf("No signatures.\n");
  for (const auto& r : results) {
    std::printf("Signature field \"%s\" (method %d):", r.fieldName.c_str(), r.method);
    const std::string coverage = vhost::coverageText(r.coverage);
    if (!r.error.empty()) {
      std::printf(" %s\n", r.error.c_str());
      if (!coverage.empty()) std::printf("  coverage: %s\n", coverage.c_str());
      continue;
    }
    std::printf(" returned %d, trustFlags %d, id %d\n", r.returned, r.trustFlags, r.id);
    if (!coverage.empty()) std::printf("  coverage: %s\n", coverage.c_str());
    if (r.returned != 1 && !r.exception.empty()) std::printf("  reason: %s\n", r.exception.c_str());
    for (size_t kind = 0; kind < r.texts.size(); ++kind) {
      if (!r.texts[kind].empty()) std::printf("  [%zu] %s\n", kind, r.texts[kind].c_str());
    }
  }
  viewer.unloadPlugins();
  return 0;
}
