// Certificate paths from a root key down to a signer, and signer selection by
// certificate.
#include "foundation/archive/ArchiveInternal.h"

#include <vector>

int buildCertificatePath(CertificatePathNode** path, ArchiveContext* context, Blob signerId, Blob rootSubject,
                         Blob rootKey) {
  if (path == nullptr || context == nullptr) return -1;
  *path = nullptr;
  try {
    const SignatureBlock* block = nullptr;
    for (SignatureBlockNode* node = context->signatureBlocks; node != nullptr; node = node->next) {
      for (SignerInfo* info = node->block->signerInfos; info != nullptr; info = info->next) {
        if (blobNamesEqual(info->issuerAndSerialNumber, signerId)) block = node->block;
      }
    }
    if (block == nullptr) return -1;
    std::vector<Certificate*> candidates;
    for (CertificateNode* node = context->certificates; node != nullptr; node = node->next) {
      candidates.push_back(node->certificate);
    }
    for (Certificate* c = block->certificates; c != nullptr; c = c->next) candidates.push_back(c);
    const size_t none = candidates.size();
    size_t signer = none;
    for (size_t i = 0; i < candidates.size() && signer == none; ++i) {
      if (blobNamesEqual(candidates[i]->issuerAndSerialNumber, signerId)) signer = i;
    }
    if (signer == none) return 0;

    // issued[i]: the linked certificate that candidate i issued.
    std::vector<size_t> issued(candidates.size(), none);
    std::vector<bool> linked(candidates.size(), false);
    linked[signer] = true;
    for (bool changed = true; changed;) {
      changed = false;
      for (size_t i = 0; i < candidates.size(); ++i) {
        if (linked[i]) continue;
        for (size_t j = 0; j < candidates.size(); ++j) {
          if (linked[j] && blobNamesEqual(candidates[i]->subject, candidates[j]->issuer)) {
            linked[i] = true;
            issued[i] = j;
            changed = true;
            break;
          }
        }
      }
    }

    for (size_t root = 0; root < candidates.size(); ++root) {
      if (!linked[root] || !blobNamesEqual(candidates[root]->subject, rootSubject)) continue;
      if (root == signer) return 0;
      std::vector<size_t> chain;
      for (size_t c = issued[root]; c != none; c = (c == signer ? none : issued[c])) chain.push_back(c);
      if (chain.empty() || chain.back() != signer) continue;
      bool ok = verifyCertificateWithRoot(candidates[chain[0]], rootKey) == 0;
      for (size_t k = 1; ok && k < chain.size(); ++k) {
        ok = verifyCertificate(candidates[chain[k]], candidates[chain[k - 1]]->subjectPublicKeyInfo) == 0;
      }
      if (!ok) continue;
      CertificatePathNode** tail = path;
      for (size_t index : chain) {
        auto* node = static_cast<CertificatePathNode*>(arcAlloc(&context->allocations, sizeof(CertificatePathNode)));
        if (node == nullptr) return -1;
        node->certificate = candidates[index];
        *tail = node;
        tail = &node->next;
      }
      return 0;
    }
    return -1;
  } catch (...) {
    return -1;
  }
}

uint32_t copyCertificatePath(const CertificatePathNode* path, Certificate** out, uint32_t capacity) {
  uint32_t count = 0;
  for (const CertificatePathNode* n = path; n != nullptr; n = n->next) ++count;
  if (count > capacity || out == nullptr) return 0;
  uint32_t i = 0;
  for (const CertificatePathNode* n = path; n != nullptr; n = n->next) out[i++] = n->certificate;
  return count;
}

SignerInfo* selectSignerByCertificate(ArchiveContext* context, const Certificate* certificate) {
  if (context == nullptr || certificate == nullptr) return nullptr;
  for (SignatureBlockNode* node = context->signatureBlocks; node != nullptr; node = node->next) {
    for (SignerInfo* info = node->block->signerInfos; info != nullptr; info = info->next) {
      if (!blobNamesEqual(info->issuerAndSerialNumber, certificate->issuerAndSerialNumber)) continue;
      if (verifySigner(info, certificate->subjectPublicKeyInfo) != 0) return nullptr;
      dropOtherSignatureBlocks(context, info->block);
      markSignedSections(context, info->block);
      return info;
    }
  }
  return nullptr;
}
