// Shared by the archive tests: key files, archives made with the signing tool,
// and RAII handles of the library.
#pragma once

#include "EswWriter.h"
#include "foundation/archive/ArchiveInternal.h"

#include <memory>
#include <string>
#include <vector>

namespace archivetest {

inline std::string keyFile(const std::string& name) { return std::string(QUARVEL_ARCHIVE_KEYS) + "/" + name; }

inline eswtool::Signer signer(const std::string& base) {
  return eswtool::Signer{keyFile(base + ".key"), keyFile(base + ".crt")};
}
inline eswtool::Signer archiveRoot() { return signer("archive-root"); }
inline eswtool::Signer defaultRoot() { return signer("default-root"); }
inline eswtool::Signer stranger() { return signer("stranger"); }

inline eswtool::Block block(const eswtool::Signer& s, const std::string& entry = "META-INF/SIGNER.DSA") {
  eswtool::Block b;
  b.entryName = entry;
  b.signers.push_back(s);
  return b;
}

// The program's own archive with two sections, signed by the archive root.
inline eswtool::ArchivePlan typicalPlan() {
  eswtool::ArchivePlan plan;
  plan.manifestHeader.push_back({"Created-By", "quarvel tests"});
  plan.sections.push_back(eswtool::Section{
      "config:Quarvel", {{"SectionName", "Quarvel"}, {"Main-Class", "x.Launcher"}, {"BankCard0", "3B:FF"}}, true});
  plan.sections.push_back(eswtool::Section{"executable:jre\\lib\\server\\libjvm.so", {{"SectionName", "JVM"}}, true});
  plan.blocks.push_back(block(archiveRoot()));
  return plan;
}

inline Blob blobOf(const std::string& s) { return makeBlob(s.data(), s.size()); }

inline std::string rootKey(bool archive = true) {
  std::string key(1024, '\0');
  Blob b = makeBlob(key.data(), key.size());
  if (archive) getArchiveRootKey(&b);
  else getDefaultRootKey(&b);
  key.resize(b.length);
  return key;
}

using ::ArchivePtr;

inline ArchivePtr load(const std::string& bytes, const std::string& key = rootKey(), const std::string& wanted = "") {
  static const std::string directory = "C:\\Program Files\\Quarvel";
  return ArchivePtr(loadSignedArchive(blobOf(bytes), blobOf(directory), blobOf(wanted), blobOf(key)));
}

struct BlobFree {
  void operator()(Blob* b) const { freeBlob(b); }
};
using BlobPtr = std::unique_ptr<Blob, BlobFree>;

inline std::string text(Blob b) { return std::string(reinterpret_cast<const char*>(b.data), b.length); }

inline std::vector<std::pair<std::string, std::string>> attributesOf(ManifestSection* section) {
  std::vector<std::pair<std::string, std::string>> out;
  AttributeIterator* it = getAttributes(section);
  Blob name, value;
  while (nextAttribute(it, &name, &value) == 0) out.emplace_back(text(name), text(value));
  freeAttributes(it);
  return out;
}

inline ManifestSection* find(SignedArchive* a, const std::string& name) {
  return findSection(a, static_cast<uint32_t>(name.size()), name.data());
}

}  // namespace archivetest
