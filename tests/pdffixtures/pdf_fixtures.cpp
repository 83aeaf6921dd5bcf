// pdf-fixtures: writes one test PDF from the command line, with the fixture kit.
//
//   pdf-fixtures OUT [--pages N] [--version V] [--catalog-version V] [--font NAME]
//                [--embedded-font NAME] [--javascript] [--link] [--subfilter SF]
//                [--signer KIT-NAME] [--signed FIELD] [--unsigned FIELD]
//                [--append FIELD] [--tamper]
//   pdf-fixtures OUT --corpus NAME       one fixture of the document-check corpus
//   pdf-fixtures OUT --large PAGES       a large document with annotations, fonts, images
//   pdf-fixtures --list-corpus           the corpus's fixtures, one per line
// --signed fields are signed after the document is written, --append fields are added
// and signed in an incremental update afterwards, --tamper flips a byte of the header.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "Corpus.h"
#include "Fixtures.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--list-corpus") {
    for (const auto& f : pdffixtures::corpus()) std::printf("%-28s %s\n", f.name.c_str(), f.what.c_str());
    return 0;
  }
  if (argc == 4 && (std::string(argv[2]) == "--corpus" || std::string(argv[2]) == "--large")) {
    try {
      if (std::string(argv[2]) == "--corpus") {
        pdffixtures::writeCorpusFixture(argv[3], argv[1]);
      } else {
        pdffixtures::writeLargeDocument(std::atoi(argv[3]), argv[1]);
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    return 0;
  }
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: pdf-fixtures OUT [options], see the source's head\n");
    return 2;
  }
  std::string out = argv[1];
  pdffixtures::DocumentPlan plan;
  pdffixtures::SignOptions sign;
  std::string subFilter = "adbe.pkcs7.detached";
  std::vector<std::string> toSign, toAppend;
  bool tamper = false;
  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "pdf-fixtures: %s needs a value\n", option.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (option == "--pages") {
      plan.pages = std::atoi(value().c_str());
    } else if (option == "--version") {
      plan.headerVersion = value();
    } else if (option == "--catalog-version") {
      plan.catalogVersion = value();
    } else if (option == "--font" || option == "--embedded-font") {
      plan.fonts.push_back({value(), "Type1", option == "--embedded-font"});
    } else if (option == "--javascript") {
      plan.javaScriptOpenAction = true;
    } else if (option == "--link") {
      plan.linkAnnotation = true;
    } else if (option == "--subfilter") {
      subFilter = value();
    } else if (option == "--signer") {
      sign.signer = value();
    } else if (option == "--signed" || option == "--unsigned") {
      pdffixtures::SignatureFieldPlan field;
      field.name = value();
      field.withValue = option == "--signed";
      field.subFilter = subFilter;
      field.certSigner = sign.signer;
      plan.signatures.push_back(field);
      if (field.withValue) toSign.push_back(field.name);
    } else if (option == "--append") {
      toAppend.push_back(value());
    } else if (option == "--tamper") {
      tamper = true;
    } else {
      std::fprintf(stderr, "pdf-fixtures: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  try {
    pdffixtures::writeDocument(plan, out);
    for (const std::string& field : toSign) pdffixtures::sign(out, field, sign);
    for (const std::string& name : toAppend) {
      pdffixtures::SignatureFieldPlan field;
      field.name = name;
      field.subFilter = subFilter;
      field.certSigner = sign.signer;
      pdffixtures::appendSignatureField(out, field);
      pdffixtures::sign(out, name, sign);
    }
    if (tamper) pdffixtures::flipByte(out, 10);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
