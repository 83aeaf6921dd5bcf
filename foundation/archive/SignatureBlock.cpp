// Signature blocks ("DSA" entries, PKCS#7 SignedData), their signer-info texts
// with the digests of manifest sections, and the DSA check of a signer.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

namespace {

// The bytes of an AlgorithmIdentifier after its OID.
bool algorithmParameters(const DerElement& algorithm, Blob* out) {
  DerElement oid;
  const unsigned char* end = algorithm.content + algorithm.length;
  const unsigned char* p = algorithm.content;
  if (!derNextInside(&p, end, &oid)) return false;
  *out = makeBlob(p, static_cast<size_t>(end - p));
  return true;
}

int parseSignerInfo(SignatureBlock* block, const DerElement& element) {
  ArchiveContext* context = block->archive;
  const uint32_t count = derCount(element.content, element.length);
  if (count < 5) return -1;
  auto* views = static_cast<DerElement*>(arcAlloc(&context->allocations, sizeof(DerElement) * count));
  if (views == nullptr) return -1;
  if (derSplit(element.content, element.length, count, views) != count) return -1;
  auto* info = static_cast<SignerInfo*>(arcAlloc(&context->allocations, sizeof(SignerInfo)));
  if (info == nullptr) return -1;
  info->block = block;
  info->issuerAndSerialNumber = derWhole(views[1]);
  if (!algorithmParameters(views[2], &info->digestParameters)) return -1;
  uint32_t k = 3;
  while (k < count && views[k].tag[0] != 0x30) ++k;  // skips authenticatedAttributes
  if (k + 1 >= count) return -1;
  if (!algorithmParameters(views[k], &info->encryptionParameters)) return -1;
  info->encryptedDigest = derContent(views[k + 1]);
  info->content = derContent(element);
  info->next = block->signerInfos;
  block->signerInfos = info;
  arcFree(&context->allocations, views);
  return 0;
}

void releaseBlockCertificates(SignatureBlock* block) {
  for (Certificate* c = block->certificates; c != nullptr; c = c->next) releaseCertificate(c);
}

int parseSignatureBlockBody(SignatureBlock* block, Blob data) {
  ArchiveContext* context = block->archive;
  DerElement contentInfo, contentType, wrapper, signedData;
  if (derNext(data.data, data.length, &contentInfo) == nullptr) return -1;
  const unsigned char* p = contentInfo.content;
  const unsigned char* end = contentInfo.content + contentInfo.length;
  if (!derNextInside(&p, end, &contentType) || !derNextInside(&p, end, &wrapper)) return -1;
  if (derNext(wrapper.content, wrapper.length, &signedData) == nullptr) return -1;
  const uint32_t count = derCount(signedData.content, signedData.length);
  if (count < 4) return -1;
  auto* views = static_cast<DerElement*>(arcAlloc(&context->allocations, sizeof(DerElement) * count));
  if (views == nullptr) return -1;
  if (derSplit(signedData.content, signedData.length, count, views) != count) return -1;

  for (uint32_t i = 0; i < count; ++i) {
    if (views[i].tag[0] != 0xA0) continue;
    const unsigned char* c = views[i].content;
    const unsigned char* cEnd = views[i].content + views[i].length;
    DerElement certificateElement;
    while (c < cEnd) {
      if (!derNextInside(&c, cEnd, &certificateElement)) return -1;
      auto* certificate = static_cast<Certificate*>(arcAlloc(&context->allocations, sizeof(Certificate)));
      if (certificate == nullptr || parseCertificate(certificate, derWhole(certificateElement)) != 0) return -1;
      certificate->next = block->certificates;
      block->certificates = certificate;
    }
    break;
  }

  // The embedded signer-info text: contentInfo { contentType, [0] { OCTET STRING } }.
  DerElement innerType, innerWrapper, octets;
  const unsigned char* q = views[2].content;
  const unsigned char* qEnd = views[2].content + views[2].length;
  if (!derNextInside(&q, qEnd, &innerType) || !derNextInside(&q, qEnd, &innerWrapper)) return -1;
  if (derNext(innerWrapper.content, innerWrapper.length, &octets) == nullptr || octets.tag[0] != 0x04) return -1;
  if (parseSignerInfoText(&block->signerInfoText, block, block->baseName, derContent(octets)) != 0) return -1;

  uint32_t setIndex = 3;
  while (setIndex < count && views[setIndex].tag[0] != 0x31) ++setIndex;
  if (setIndex >= count) return -1;
  const unsigned char* s = views[setIndex].content;
  const unsigned char* sEnd = views[setIndex].content + views[setIndex].length;
  while (s < sEnd) {
    DerElement info;
    if (!derNextInside(&s, sEnd, &info)) return -1;
    if (parseSignerInfo(block, info) != 0) return -1;
  }
  arcFree(&context->allocations, views);
  return 0;
}

}  // namespace

int parseSignatureBlock(SignatureBlock* block, ArchiveContext* context, Blob baseName, Blob data) {
  if (block == nullptr || context == nullptr) return -1;
  std::memset(block, 0, sizeof *block);
  block->archive = context;
  block->data = data;
  if (arcCopy(&context->allocations, baseName, &block->baseName) != 0) return -1;
  if (parseSignatureBlockBody(block, data) != 0) {
    releaseBlockCertificates(block);
    block->certificates = nullptr;
    return -1;
  }
  return 0;
}

int parseSignerInfoText(SignerInfoText* text, SignatureBlock* block, Blob baseName, Blob content) {
  ArchiveContext* context = block->archive;
  std::memset(text, 0, sizeof *text);
  text->block = block;
  if (arcCopy(&context->allocations, baseName, &text->baseName) != 0) return -1;
  if (arcCopy(&context->allocations, content, &text->text) != 0) return -1;
  ManifestCaptures captures;
  if (parseManifestText(context, text->text, makeBlob("<signer_info>", 13), &captures) != 0) return -1;
  if (buildHeaderAttributes(context, &captures, &text->headerAttributeCount, &text->headerAttributes) != 0) return -1;
  const uint32_t count = captures.slots[0].count;
  if (count == 0) return -1;
  auto* sections = static_cast<SignerInfoSection*>(arcAlloc(&context->allocations, sizeof(SignerInfoSection) * count));
  if (sections == nullptr) return -1;
  for (uint32_t k = 0; k < count; ++k) {
    SignerInfoSection* section = &sections[k];
    section->block = block;
    if (parseSectionFields(context, captures.slots[0].items[k], &section->fields) != 0) return -1;
    // The last manifest section of that Name is the one covered.
    for (uint32_t i = 0; i < context->parsedSectionCount; ++i) {
      ManifestSection* m = &context->parsedSections[i];
      if (blobNamesEqual(m->name, section->fields.name)) section->manifestSection = m;
    }
    if (section->manifestSection == nullptr) return -1;
    if (checkSectionDigest(section) != 0) return -1;
    if (k + 1 < count) section->next = &sections[k + 1];
  }
  text->sectionCount = count;
  text->sections = sections;
  return 0;
}

int checkSectionDigest(const SignerInfoSection* section) {
  if (section == nullptr || section->manifestSection == nullptr) return -1;
  const DigestAlgorithm* algorithm = section->fields.digestAlgorithms;
  for (; algorithm != nullptr; algorithm = algorithm->next) {
    const Blob n = algorithm->name;
    if ((n.length == 3 && std::memcmp(n.data, "SHA", 3) == 0) || (n.length == 4 && std::memcmp(n.data, "SHA1", 4) == 0) ||
        (n.length == 5 && std::memcmp(n.data, "SHA-1", 5) == 0)) {
      break;
    }
  }
  if (algorithm == nullptr || algorithm->digests == nullptr || algorithm->digests->digest.length != 20) return -1;
  Sha1Context sha;
  unsigned char digest[20];
  sha1Init(&sha);
  sha1Update(&sha, section->manifestSection->text);
  sha1Final(&sha, digest);
  return std::memcmp(digest, algorithm->digests->digest.data, 20) == 0 ? 0 : -1;
}

int verifySigner(const SignerInfo* signerInfo, Blob rootKey) {
  if (signerInfo == nullptr || signerInfo->block == nullptr) return -1;
  const Blob signature = signerInfo->encryptedDigest;
  unsigned char rBytes[kDerIntegerCapacity] = {}, sBytes[kDerIntegerCapacity] = {};
  Blob rs[2] = {makeBlob(rBytes, 0), makeBlob(sBytes, 0)};
  uint32_t total = 0;
  if (decodeIntegerSequence(signature.data, signature.length, rs, 2, &total) != 2 || total != 2) return -1;
  if (derTotalLength(signature.data, signature.length) != signature.length) return -1;
  unsigned char buffer[1024] = {};
  if (rootKey.length == 0) {
    Blob key = makeBlob(buffer, sizeof buffer);
    if (getDefaultRootKey(&key) != 1) return -1;
    rootKey = key;
  }
  Blob algorithm, parameters, bits;
  DsaKeyStorage key;
  if (parseSubjectPublicKeyInfo(rootKey, &algorithm, &parameters, &bits) != 0) return -1;
  if (decodeDsaKey(bits, parameters, &key) != 0) return -1;
  return dsaVerify(signerInfo->block->signerInfoText.text, rs[0], rs[1], &key.key);
}
