// Loading a signed settings archive: ZIP runs, manifest, signature blocks and
// certificates, signer selection; then section lookup and attribute walks.
#include "foundation/archive/ArchiveInternal.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char kManifestEntry[] = "META-INF/MANIFEST.MF";

bool extensionIs(Blob extension, const char* three) {
  return extension.length == 3 && std::memcmp(extension.data, three, 3) == 0;
}

}  // namespace

int parseArchiveManifest(ArchiveContext* context) {
  ManifestCaptures captures;
  if (parseManifestText(context, context->manifest, makeBlob("<manifest>", 10), &captures) != 0) return -1;
  if (buildHeaderAttributes(context, &captures, &context->headerAttributeCount, &context->headerAttributes) != 0) {
    return -1;
  }
  const uint32_t count = captures.slots[0].count;
  if (count == 0) return 0;
  auto* sections = static_cast<ManifestSection*>(arcAlloc(&context->allocations, sizeof(ManifestSection) * count));
  if (sections == nullptr) return -1;
  for (uint32_t k = 0; k < count; ++k) {
    ManifestSection* section = &sections[k];
    SectionFields fields;
    if (parseSectionFields(context, captures.slots[0].items[k], &fields) != 0) return -1;
    section->archive = context;
    section->name = fields.name;
    section->sectionName = fields.sectionName;
    section->text = fields.text;
    section->attributeCount = fields.attributeCount;
    section->attributes = fields.attributes;
    section->digestAlgorithmCount = fields.digestAlgorithmCount;
    section->digestAlgorithms = fields.digestAlgorithms;
    const unsigned char* colon =
        static_cast<const unsigned char*>(std::memchr(fields.name.data, ':', fields.name.length));
    if (colon == nullptr) return -1;
    const uint32_t kindLength = static_cast<uint32_t>(colon - fields.name.data);
    section->kind = makeBlob(fields.name.data, kindLength);
    section->path = makeBlob(colon + 1, fields.name.length - kindLength - 1);
    if (k + 1 < count) section->next = &sections[k + 1];
  }
  context->parsedSectionCount = count;
  context->parsedSections = sections;
  context->sectionCount = count;
  context->sections = sections;
  return 0;
}

int parseArchiveEntries(ArchiveContext* context, ZipEntry* entries) {
  std::vector<ZipEntry*> order;
  for (ZipEntry* e = entries; e != nullptr; e = e->next) order.push_back(e);
  // From the last entry to the first, each put at the front: the lists end up in file order.
  for (size_t i = order.size(); i-- > 0;) {
    Blob baseName, extension;
    splitEntryName(order[i]->name, &baseName, &extension);
    if (extensionIs(extension, "DSA")) {
      auto* block = static_cast<SignatureBlock*>(arcAlloc(&context->allocations, sizeof(SignatureBlock)));
      auto* node = static_cast<SignatureBlockNode*>(arcAlloc(&context->allocations, sizeof(SignatureBlockNode)));
      if (block == nullptr || node == nullptr) return -1;
      if (parseSignatureBlock(block, context, baseName, order[i]->data) != 0) return -1;
      node->block = block;
      node->baseName = block->baseName;
      node->next = context->signatureBlocks;
      context->signatureBlocks = node;
    } else if (extensionIs(extension, "CER")) {
      auto* certificate = static_cast<Certificate*>(arcAlloc(&context->allocations, sizeof(Certificate)));
      auto* node = static_cast<CertificateNode*>(arcAlloc(&context->allocations, sizeof(CertificateNode)));
      if (certificate == nullptr || node == nullptr) return -1;
      if (parseCertificate(certificate, order[i]->data) != 0) return -1;
      node->certificate = certificate;
      if (arcCopy(&context->allocations, baseName, &node->baseName) != 0) {
        releaseCertificate(certificate);
        return -1;
      }
      node->next = context->certificates;
      context->certificates = node;
    }
  }
  return 0;
}

SignerInfo* selectArchiveSigner(ArchiveContext* context, Blob wantedSigner, Blob rootKey) {
  for (SignatureBlockNode* node = context->signatureBlocks; node != nullptr; node = node->next) {
    SignatureBlock* block = node->block;
    if (wantedSigner.length == 0) {
      if (block->signerInfos == nullptr) return nullptr;
      if (verifySigner(block->signerInfos, rootKey) == 0) return block->signerInfos;
      continue;
    }
    for (SignerInfo* info = block->signerInfos; info != nullptr; info = info->next) {
      if (blobNamesEqual(info->issuerAndSerialNumber, wantedSigner)) {
        return verifySigner(info, rootKey) == 0 ? info : nullptr;
      }
    }
  }
  return nullptr;
}

namespace {

SignedArchive* load(ArchiveContext* context, Blob archive, Blob directory, Blob wantedSigner, Blob rootKey) {
  if (arcCopy(&context->allocations, directory, &context->directory) != 0) return nullptr;
  if (arcCopy(&context->allocations, archive, &context->data) != 0) return nullptr;
  ZipEntry* entries = nullptr;
  if (readZipRuns(&context->allocations, context->data, &entries) != 0) return nullptr;
  const ZipEntry* manifest = nullptr;
  for (const ZipEntry* e = entries; e != nullptr; e = e->next) {
    if (e->name.length == sizeof kManifestEntry - 1 && std::memcmp(e->name.data, kManifestEntry, e->name.length) == 0) {
      manifest = e;
    }
  }
  if (manifest == nullptr) return nullptr;
  context->manifest = manifest->data;
  if (parseArchiveManifest(context) != 0) return nullptr;
  if (parseArchiveEntries(context, entries) != 0) return nullptr;
  SignerInfo* chosen = selectArchiveSigner(context, wantedSigner, rootKey);
  if (chosen == nullptr) return nullptr;
  dropOtherSignatureBlocks(context, chosen->block);
  markSignedSections(context, chosen->block);
  return chosen;
}

}  // namespace

void dropOtherSignatureBlocks(ArchiveContext* context, const SignatureBlock* keep) {
  SignatureBlockNode** link = &context->signatureBlocks;
  while (*link != nullptr) {
    SignatureBlockNode* node = *link;
    if (node->block == keep) {
      link = &node->next;
      continue;
    }
    for (Certificate* c = node->block->certificates; c != nullptr; c = c->next) releaseCertificate(c);
    node->block->certificates = nullptr;
    *link = node->next;
  }
}

void markSignedSections(ArchiveContext* context, const SignatureBlock* block) {
  std::vector<char> covered(context->parsedSectionCount, 0);
  for (const SignerInfoSection* s = block->signerInfoText.sections; s != nullptr; s = s->next) {
    if (s->manifestSection != nullptr) covered[s->manifestSection - context->parsedSections] = 1;
  }
  context->sections = nullptr;
  context->sectionCount = 0;
  ManifestSection** tail = &context->sections;
  for (uint32_t k = 0; k < context->parsedSectionCount; ++k) {
    ManifestSection* m = &context->parsedSections[k];
    m->next = nullptr;
    if (!covered[k]) continue;
    *tail = m;
    tail = &m->next;
    ++context->sectionCount;
  }
}

void releaseArchiveContext(ArchiveContext* context) {
  if (context == nullptr) return;
  for (CertificateNode* node = context->certificates; node != nullptr; node = node->next) {
    releaseCertificate(node->certificate);
  }
  for (SignatureBlockNode* node = context->signatureBlocks; node != nullptr; node = node->next) {
    for (Certificate* c = node->block->certificates; c != nullptr; c = c->next) releaseCertificate(c);
  }
  arcFreeAll(&context->allocations);
  std::free(context);
}

SignedArchive* loadSignedArchive(Blob archive, Blob directory, Blob wantedSigner, Blob rootKey) {
  if (directory.length == 0 || directory.data == nullptr) return nullptr;
  if (archive.length != 0 && archive.data == nullptr) return nullptr;
  if (archive.length > kMaxArchiveSize) return nullptr;
  auto* context = static_cast<ArchiveContext*>(std::calloc(1, sizeof(ArchiveContext)));
  if (context == nullptr) return nullptr;
  SignedArchive* handle = nullptr;
  try {
    handle = load(context, archive, directory, wantedSigner, rootKey);
  } catch (...) {
    handle = nullptr;
  }
  if (handle == nullptr) releaseArchiveContext(context);
  return handle;
}

ManifestSection* findSection(SignedArchive* handle, uint32_t length, const char* name) {
  if (handle == nullptr || handle->block == nullptr || name == nullptr || length == 0) return nullptr;
  const auto* bytes = reinterpret_cast<const unsigned char*>(name);
  for (ManifestSection* m = handle->block->archive->sections; m != nullptr; m = m->next) {
    if (blobNamesEqual(m->name.data, m->name.length, bytes, length)) return m;
    if (m->sectionName.length != 0 && blobNamesEqual(m->sectionName.data, m->sectionName.length, bytes, length)) {
      return m;
    }
  }
  return nullptr;
}

AttributeIterator* getAttributes(ManifestSection* section) {
  if (section == nullptr || section->archive == nullptr) return nullptr;
  const size_t size = sizeof(AttributeIterator) + sizeof(AttributeNode*) * section->attributeCount;
  auto* iterator = static_cast<AttributeIterator*>(arcAlloc(&section->archive->allocations, size));
  if (iterator == nullptr) return nullptr;
  iterator->archive = section->archive;
  iterator->count = section->attributeCount;
  iterator->attributes = reinterpret_cast<AttributeNode**>(iterator + 1);
  uint32_t i = 0;
  for (AttributeNode* a = section->attributes; a != nullptr && i < iterator->count; a = a->next) {
    iterator->attributes[i++] = a;
  }
  iterator->count = i;
  return iterator;
}

int nextAttribute(AttributeIterator* iterator, Blob* name, Blob* value) {
  if (iterator == nullptr || iterator->position >= iterator->count) return -1;
  const AttributeNode* node = iterator->attributes[iterator->position++];
  if (name != nullptr) *name = node->name;
  if (value != nullptr) *value = node->value;
  return 0;
}

int freeAttributes(AttributeIterator* iterator) {
  if (iterator == nullptr) return -1;
  arcFree(&iterator->archive->allocations, iterator);
  return 0;
}

int releaseArchive(SignedArchive* handle) {
  if (handle == nullptr || handle->block == nullptr) return -1;
  releaseArchiveContext(handle->block->archive);
  return 0;
}
