// The document-check corpus: one small PDF per kind of content the plug-in's document
// check looks for (JavaScript in each place, forms, every annotation kind, links and
// outlines, embedded and attached files, multimedia, transitions, optional content,
// PostScript and device functions, structure, fonts of each type, versions), hostile
// shapes, and a clean document; and large documents for benchmarks.
//
//   for (const auto& f : pdffixtures::corpus()) pdffixtures::writeCorpusFixture(f.name, dir + f.name + ".pdf");
#pragma once

#include <string>
#include <vector>

namespace pdffixtures {

struct CorpusFixture {
  std::string name;
  std::string what;
};

// Every fixture of the corpus, in a fixed order.
const std::vector<CorpusFixture>& corpus();
// Writes the named fixture; throws std::runtime_error for an unknown name.
void writeCorpusFixture(const std::string& name, const std::string& path);
// A document of `pages` pages, each with a few annotations (links, notes, a widget), a
// font of its own beside a shared one, an image and a shading.
void writeLargeDocument(int pages, const std::string& path);

}  // namespace pdffixtures
