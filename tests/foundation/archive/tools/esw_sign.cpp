// quarvel_esw_sign: writes a signed settings archive (.esw) for tests and fixtures.
//
//   quarvel_esw_sign --out FILE [--sections FILE] [--section "Name: a:b|Key: value|..."]
//                    [--header "Key: value"] --signer KEY.pem:CERT.pem [--cosigner KEY.pem:CERT.pem]
//                    [--block ENTRY] [--no-certs] [--cer CERT.pem] [--entry NAME=FILE]
//                    [--digest-algorithm NAME] [--variant NAME]...
//
// A sections file holds one section per paragraph (paragraphs separated by empty
// lines), each line "Key: value" with the "Name:" line first; a line starting with a
// blank continues the value before it; a line "!unsigned" leaves the section out of
// the signer-info text. Every --signer starts a new signature block (the first is
// META-INF/SIGNER.DSA, then SIGNER2.DSA, ...; --block renames the last one);
// --cosigner adds a signer to the last block.
//
// Variants: trailing-byte, crc-flip, size-mismatch, descriptor, descriptor-unequal,
// descriptor-16, lf-for-crlf, signed-attributes, no-central-directory.
#include "EswWriter.h"

#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace {

using eswtool::Attribute;
using eswtool::Section;

Attribute splitLine(const std::string& line) {
  const size_t colon = line.find(": ");
  if (colon == std::string::npos) throw std::runtime_error("not an attribute line: " + line);
  return Attribute{line.substr(0, colon), line.substr(colon + 2)};
}

void addLine(std::vector<Section>& sections, const std::string& line, bool& open) {
  if (line == "!unsigned") {
    if (!open) throw std::runtime_error("!unsigned outside a section");
    sections.back().covered = false;
    return;
  }
  if (!line.empty() && line[0] == ' ') {
    if (!open) throw std::runtime_error("continuation outside a section");
    Section& s = sections.back();
    std::string& value = s.attributes.empty() ? s.name : s.attributes.back().value;
    value += "\n" + line;
    return;
  }
  Attribute a = splitLine(line);
  if (!open) {
    if (a.name != "Name") throw std::runtime_error("a section starts with its Name line: " + line);
    sections.push_back(Section{a.value, {}, true});
    open = true;
    return;
  }
  sections.back().attributes.push_back(a);
}

std::vector<Section> parseSections(const std::string& text) {
  std::vector<Section> sections;
  std::istringstream in(text);
  std::string line;
  bool open = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) {
      open = false;
      continue;
    }
    if (line[0] == '#') continue;
    addLine(sections, line, open);
  }
  return sections;
}

eswtool::Signer parseSigner(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) throw std::runtime_error("signer is KEY:CERT, got " + text);
  return eswtool::Signer{text.substr(0, colon), text.substr(colon + 1)};
}

void applyVariant(eswtool::ArchivePlan& plan, const std::string& v) {
  if (v == "trailing-byte") plan.zip.trailingByte = true;
  else if (v == "crc-flip") plan.zip.crcFlipEntry = "META-INF/MANIFEST.MF";
  else if (v == "size-mismatch") plan.zip.sizeMismatchEntry = "META-INF/MANIFEST.MF";
  else if (v == "descriptor") plan.zip.descriptor = eswtool::Descriptor::Twelve;
  else if (v == "descriptor-unequal") plan.zip.descriptor = eswtool::Descriptor::TwelveUnequal;
  else if (v == "descriptor-16") plan.zip.descriptor = eswtool::Descriptor::SixteenZeroCrc;
  else if (v == "lf-for-crlf") plan.lfForCrlf = true;
  else if (v == "signed-attributes") {
    for (auto& b : plan.blocks) b.signedAttributes = true;
  } else if (v == "no-central-directory") plan.zip.centralDirectory = false;
  else throw std::runtime_error("unknown variant " + v);
}

int run(int argc, char** argv) {
  eswtool::ArchivePlan plan;
  std::string out;
  std::vector<std::string> variants;
  bool noCerts = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--out") out = value();
    else if (arg == "--sections") {
      for (Section& s : parseSections(eswtool::readFile(value()))) plan.sections.push_back(s);
    } else if (arg == "--section") {
      std::string text = value();
      for (char& c : text) {
        if (c == '|') c = '\n';
      }
      for (Section& s : parseSections(text)) plan.sections.push_back(s);
    } else if (arg == "--header") plan.manifestHeader.push_back(splitLine(value()));
    else if (arg == "--signer") {
      eswtool::Block block;
      if (!plan.blocks.empty()) block.entryName = "META-INF/SIGNER" + std::to_string(plan.blocks.size() + 1) + ".DSA";
      block.signers.push_back(parseSigner(value()));
      plan.blocks.push_back(block);
    } else if (arg == "--cosigner") {
      if (plan.blocks.empty()) throw std::runtime_error("--cosigner needs a --signer before it");
      plan.blocks.back().signers.push_back(parseSigner(value()));
    } else if (arg == "--block") {
      if (plan.blocks.empty()) throw std::runtime_error("--block needs a --signer before it");
      plan.blocks.back().entryName = value();
    } else if (arg == "--no-certs") noCerts = true;
    else if (arg == "--cer") plan.certificateEntries.push_back(value());
    else if (arg == "--entry") {
      const std::string v = value();
      const size_t eq = v.find('=');
      if (eq == std::string::npos) throw std::runtime_error("--entry is NAME=FILE");
      plan.extraEntries.push_back(eswtool::Entry{v.substr(0, eq), eswtool::readFile(v.substr(eq + 1))});
    } else if (arg == "--digest-algorithm") plan.digestAlgorithm = value();
    else if (arg == "--variant") variants.push_back(value());
    else if (arg == "--help" || arg == "-h") {
      std::cout << "usage: quarvel_esw_sign --out FILE --signer KEY:CERT [--sections FILE] [--section TEXT] ...\n";
      return 0;
    } else throw std::runtime_error("unknown option " + arg);
  }
  if (out.empty()) throw std::runtime_error("--out is required");
  if (noCerts) {
    for (auto& b : plan.blocks) b.includeCertificates = false;
  }
  for (const std::string& v : variants) applyVariant(plan, v);
  eswtool::writeFile(out, eswtool::buildArchive(plan));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "quarvel_esw_sign: " << e.what() << "\n";
    return 1;
  }
}
