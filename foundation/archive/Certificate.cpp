// X.509 certificates of signature blocks and "CER" entries, and the checks of a
// certificate's DSA signature.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

namespace {

int parseExtensions(Certificate* c, const DerElement& wrapper) {
  DerElement extensions;
  if (derNext(wrapper.content, wrapper.length, &extensions) == nullptr) return -1;
  const uint32_t count = derCount(extensions.content, extensions.length);
  if (count == 0) return -1;
  c->extensions = static_cast<CertificateExtension*>(arcAlloc(&c->allocations, sizeof(CertificateExtension) * count));
  if (c->extensions == nullptr) return -1;
  const unsigned char* p = extensions.content;
  const unsigned char* end = extensions.content + extensions.length;
  for (uint32_t i = 0; i < count; ++i) {
    DerElement extension, id, value;
    if (!derNextInside(&p, end, &extension)) return -1;
    const unsigned char* q = extension.content;
    const unsigned char* qEnd = extension.content + extension.length;
    if (!derNextInside(&q, qEnd, &id) || id.tag[0] != 0x06) return -1;
    if (!derNextInside(&q, qEnd, &value)) return -1;
    if (value.tag[0] == 0x01 && !derNextInside(&q, qEnd, &value)) return -1;
    if (value.tag[0] != 0x04) return -1;
    // extnValue must end the Extension.
    if (q != qEnd) return -1;
    c->extensions[i].id = derWhole(id);
    c->extensions[i].value = derContent(value);
  }
  c->extensionCount = count;
  return 0;
}

int parseCertificateBody(Certificate* c) {
  DerElement outer, tbs, e;
  if (derNext(c->der.data, c->der.length, &outer) == nullptr || outer.tag[0] != 0x30) return -1;
  if (outer.end != c->der.data + c->der.length) return -1;
  if (derNext(outer.content, outer.length, &tbs) == nullptr) return -1;
  c->tbsCertificate = derWhole(tbs);
  const unsigned char* p = tbs.content;
  const unsigned char* end = tbs.content + tbs.length;
  if (!derNextInside(&p, end, &e)) return -1;
  if (e.tag[0] == 0xA0 && !derNextInside(&p, end, &e)) return -1;  // version
  c->serialNumber = derWhole(e);
  if (!derNextInside(&p, end, &e)) return -1;  // signature algorithm
  if (!derNextInside(&p, end, &e)) return -1;
  c->issuer = derWhole(e);
  if (!derNextInside(&p, end, &e)) return -1;  // validity
  if (!derNextInside(&p, end, &e)) return -1;
  c->subject = derWhole(e);
  if (!derNextInside(&p, end, &e)) return -1;
  c->subjectPublicKeyInfo = derWhole(e);
  DerElement algorithmId, oid, params;
  if (derNext(e.content, e.length, &algorithmId) == nullptr) return -1;
  const unsigned char* a = algorithmId.content;
  const unsigned char* aEnd = algorithmId.content + algorithmId.length;
  if (!derNextInside(&a, aEnd, &oid) || !derNextInside(&a, aEnd, &params)) return -1;
  c->keyAlgorithm = derWhole(oid);
  c->keyParameters = derWhole(params);
  bool haveExtensions = false;
  while (p < end) {
    if (!derNextInside(&p, end, &e)) return -1;
    if (!haveExtensions && e.tag[0] == 0xA3) {
      if (parseExtensions(c, e) != 0) return -1;
      haveExtensions = true;
    }
  }
  // IssuerAndSerialNumber, to match SignerInfos.
  const uint64_t inner = static_cast<uint64_t>(c->issuer.length) + c->serialNumber.length;
  if (inner > 0xFFFFFFF0u) return -1;
  unsigned char header[8];
  header[0] = 0x30;
  const uint32_t headerLength = 1 + derWriteLength(static_cast<uint32_t>(inner), header + 1);
  auto* id = static_cast<unsigned char*>(arcAlloc(&c->allocations, headerLength + inner));
  if (id == nullptr) return -1;
  std::memcpy(id, header, headerLength);
  std::memcpy(id + headerLength, c->issuer.data, c->issuer.length);
  std::memcpy(id + headerLength + c->issuer.length, c->serialNumber.data, c->serialNumber.length);
  c->issuerAndSerialNumber = makeBlob(id, headerLength + inner);
  return 0;
}

}  // namespace

int parseCertificate(Certificate* certificate, Blob der) {
  if (certificate == nullptr || der.data == nullptr) return -1;
  std::memset(certificate, 0, sizeof *certificate);
  if (arcCopy(&certificate->allocations, der, &certificate->der) != 0 || parseCertificateBody(certificate) != 0) {
    releaseCertificate(certificate);
    return -1;
  }
  return 0;
}

void releaseCertificate(Certificate* certificate) {
  if (certificate == nullptr) return;
  arcFreeAll(&certificate->allocations);
  Certificate* next = certificate->next;
  std::memset(certificate, 0, sizeof *certificate);
  certificate->next = next;
}

int verifyCertificate(const Certificate* certificate, Blob issuerKey) {
  if (certificate == nullptr || certificate->der.data == nullptr) return -1;
  Blob algorithm, parameters, bits;
  DsaKeyStorage key;
  if (parseSubjectPublicKeyInfo(issuerKey, &algorithm, &parameters, &bits) != 0) return -1;
  if (decodeDsaKey(bits, parameters, &key) != 0) return -1;
  DerElement outer, e;
  if (derNext(certificate->der.data, certificate->der.length, &outer) == nullptr) return -1;
  const unsigned char* p = outer.content;
  const unsigned char* end = outer.content + outer.length;
  if (!derNextInside(&p, end, &e) || !derNextInside(&p, end, &e)) return -1;  // tbs, signature algorithm
  if (!derNextInside(&p, end, &e) || e.tag[0] != 0x03 || e.length < 2) return -1;
  unsigned char rBytes[kDerIntegerCapacity] = {}, sBytes[kDerIntegerCapacity] = {};
  Blob rs[2] = {makeBlob(rBytes, 0), makeBlob(sBytes, 0)};
  uint32_t total = 0;
  if (decodeIntegerSequence(e.content + 1, e.length - 1, rs, 2, &total) != 2 || total != 2) return -1;
  return dsaVerify(certificate->tbsCertificate, rs[0], rs[1], &key.key);
}

int verifyCertificateWithRoot(const Certificate* certificate, Blob rootKey) {
  unsigned char buffer[1024] = {};
  if (rootKey.length == 0) {
    Blob key = makeBlob(buffer, sizeof buffer);
    if (getDefaultRootKey(&key) != 1) return -1;
    rootKey = key;
  }
  return verifyCertificate(certificate, rootKey);
}

int getCertificateId(const Certificate* certificate, Blob* out) {
  if (certificate == nullptr || out == nullptr) return -1;
  *out = certificate->issuerAndSerialNumber;
  return 0;
}

int getCertificateKey(const Certificate* certificate, Blob* out) {
  if (certificate == nullptr || out == nullptr) return -1;
  *out = certificate->subjectPublicKeyInfo;
  return 0;
}
