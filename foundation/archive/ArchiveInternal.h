// Internals of the signed manifest library, shared by its sources and tests.
// Every parser here reads unverified bytes: all offset and size checks use
// 64-bit arithmetic and every element must lie inside the bytes given.
#pragma once

#include "foundation/archive/SignedArchive.h"

#include <cstddef>
#include <cstdint>

// ---- allocation lists -------------------------------------------------------

struct AllocBlock {
  AllocBlock* prev;
  AllocBlock* next;
};

// Every block an archive (or a certificate) allocates, freed together.
struct AllocList {
  AllocBlock* head;
};

void* arcAlloc(AllocList* list, size_t size);  // zeroed; NULL on failure
void arcFree(AllocList* list, void* block);    // NULL is ignored
void arcFreeAll(AllocList* list);
// A copy of the bytes in the list; a zero-length blob for empty input. 0 / -1.
int arcCopy(AllocList* list, Blob source, Blob* out);

// Equal when same length and bytes, or when one is exactly one byte longer and
// that last byte is NUL.
bool blobNamesEqual(const unsigned char* a, uint32_t aLength, const unsigned char* b, uint32_t bLength);
inline bool blobNamesEqual(Blob a, Blob b) { return blobNamesEqual(a.data, a.length, b.data, b.length); }

// ---- ZIP runs ---------------------------------------------------------------

uint32_t crc32Zip(const unsigned char* data, size_t length);

struct ZipEntry {
  Blob name;
  Blob extra;
  Blob data;
  uint32_t crc;
  uint32_t offset;  // of its local header
  ZipEntry* next;  // file order
};

// Reads the local, central and end runs; 0 and the entries in file order, or -1.
int readZipRuns(AllocList* list, Blob file, ZipEntry** entries);

// The entry's base name (file name up to the first '.') and its extension.
void splitEntryName(Blob name, Blob* baseName, Blob* extension);

// ---- grammar engine ---------------------------------------------------------

struct CaptureList {
  uint32_t count;
  Blob* items;  // into the input, in text order
};

enum { kGrammarSlots = 16, kManifestSlots = 10 };
extern const char kManifestRuleText[];
extern const uint32_t kManifestRuleTextLength;  // 937

int loadManifestGrammar(Blob* out);
// 1 when the whole input matches the start expression (slots filled from the
// allocation list), 0 otherwise.
int matchGrammar(AllocList* list, Blob rules, Blob start, Blob input, CaptureList* slots, int slotCount);
// Compiles a rule text alone: 0, or -1 for a compilation error (for tests).
int compileGrammarText(Blob rules);

// The built-in grammar's start expressions "<manifest>", "<section>" and
// "<signer_info>" for texts in the common forms, read line by line: 1 with the
// slots the grammar's match fills, 0 when the text is declined (the grammar decides).
int parseManifestLines(AllocList* list, Blob input, Blob start, CaptureList* slots, int slotCount);

struct ManifestCaptures {
  CaptureList slots[kManifestSlots];
};
int parseManifestText(ArchiveContext* context, Blob text, Blob start, ManifestCaptures* result);

// The fields that manifest and signer-info sections share.
struct SectionFields {
  Blob name;
  Blob sectionName;
  Blob text;
  uint32_t attributeCount;
  AttributeNode* attributes;
  uint32_t digestAlgorithmCount;
  DigestAlgorithm* digestAlgorithms;
};
// Parses one section text again with "<section>" and fills the fields. 0 / -1.
int parseSectionFields(ArchiveContext* context, Blob sectionText, SectionFields* fields);
// Header attributes from slots 1 and 2. 0 / -1.
int buildHeaderAttributes(ArchiveContext* context, const ManifestCaptures* captures, uint32_t* count,
                          AttributeNode** attributes);
// Removes line breaks and the one blank after each; a copy only when needed. 0 / -1.
int unfoldValue(ArchiveContext* context, Blob value, Blob* out);

// ---- SHA-1 ------------------------------------------------------------------

struct Sha1Context {
  uint32_t state[5];
  uint64_t bitCount;
  unsigned char buffer[64];
};
void sha1Init(Sha1Context* context);
void sha1Update(Sha1Context* context, Blob data);
void sha1Final(Sha1Context* context, unsigned char digest[20]);
// The processor's SHA extensions are used where present; true forces the portable
// rounds (for tests of both). Returns whether the portable rounds were in use.
bool sha1UsePortable(bool portable);

// ---- big numbers ------------------------------------------------------------

enum { kBigNumOperandWords = 32, kBigNumWords = 64 };

// A magnitude, 32-bit words least significant first; zero is one word 0.
struct BigNum {
  uint32_t count;
  uint32_t words[kBigNumWords];
};

void bnFromBytes(BigNum* number, const unsigned char* littleEndian, uint32_t length);  // at most 256 bytes
void bnFromWord(BigNum* number, uint32_t value);
bool bnIsZero(const BigNum* number);
int bnCompare(const BigNum* a, const BigNum* b);
int bnAdd(BigNum* a, const BigNum* b);  // a += b; -1 when the sum would not fit
int bnSub(BigNum* a, const BigNum* b);  // a -= b; -1 when b > a
int bnMul(BigNum* product, const BigNum* a, const BigNum* b);  // operands of at most 32 words
// quotient and remainder may be NULL; -1 for a zero divisor.
int bnDivMod(BigNum* quotient, BigNum* remainder, const BigNum* a, const BigNum* divisor);
int bnModMul(BigNum* result, const BigNum* a, const BigNum* b, const BigNum* modulus);
// a^-1 mod m; the result is 0 when gcd(a, m) != 1. -1 for a zero or oversized modulus.
int bnModInv(BigNum* result, const BigNum* a, const BigNum* modulus);
// Montgomery exponentiation; -1 unless the modulus is odd and at most 32 words.
int bnModExp(BigNum* result, const BigNum* base, const BigNum* exponent, const BigNum* modulus);
// b1^e1 * b2^e2 mod m in Montgomery form, both exponents in sliding windows
// under shared squarings; -1 as for bnModExp.
int bnModExpProduct(BigNum* result, const BigNum* b1, const BigNum* e1, const BigNum* b2, const BigNum* e2,
                    const BigNum* modulus);

// ---- DSA --------------------------------------------------------------------

// Little-endian magnitudes of at most 128 bytes.
struct DsaKey {
  Blob p, q, g, y;
};
struct DsaKeyStorage {
  unsigned char p[128], q[128], g[128], y[128];
  DsaKey key;
};
int dsaVerify(Blob message, Blob r, Blob s, const DsaKey* key);

// ---- DER --------------------------------------------------------------------

enum { kDerMaxDepth = 32, kDerIntegerCapacity = 128 };

struct DerElement {
  const unsigned char* tag;      // where the tag starts
  uint32_t length;               // content length
  const unsigned char* content;  // where the content starts
  const unsigned char* end;      // first byte after the element (EOC pair included)
};

// The position after the element, or NULL when it does not parse or does not fit.
const unsigned char* derNext(const unsigned char* position, uint64_t available, DerElement* element);
// Tag, length and content together; 0 when it does not parse inside `available`.
uint64_t derTotalLength(const unsigned char* position, uint64_t available);
// Complete elements in the run (a pair of zero bytes ends it); 0 when one runs past the end.
uint32_t derCount(const unsigned char* position, uint64_t length);
uint32_t derLengthOfLength(uint32_t length);
uint32_t derWriteLength(uint32_t length, unsigned char* out);  // bytes written
// n views in order (empty past the end of the run) and n; the number read before
// an element that does not parse.
uint32_t derSplit(const unsigned char* position, uint64_t length, uint32_t n, DerElement* out);
inline Blob derWhole(const DerElement& e) {
  return makeBlob(e.tag, static_cast<size_t>(e.end - e.tag));
}
inline Blob derContent(const DerElement& e) { return makeBlob(e.content, e.length); }
// The next element inside [*p, end), and *p moved past it; false when there is
// none or it does not parse.
inline bool derNextInside(const unsigned char** p, const unsigned char* end, DerElement* e) {
  if (*p == nullptr || *p >= end) return false;
  const unsigned char* next = derNext(*p, static_cast<uint64_t>(end - *p), e);
  if (next == nullptr) return false;
  *p = next;
  return true;
}

// Little-endian magnitude without leading zeros (at least one byte) into out
// (capacity at most 128): its length, or 0.
uint32_t decodeInteger(const DerElement* element, unsigned char* out, uint32_t capacity);
// INTEGERs of a SEQUENCE into out[i] (each data a 128-byte buffer): the number decoded (at
// most n), or 0 when the element is not a SEQUENCE or an INTEGER fails. *total gets the
// number of elements in the SEQUENCE when not NULL.
uint32_t decodeIntegerSequence(const unsigned char* position, uint64_t length, Blob* out, uint32_t n,
                               uint32_t* total);
int parseSubjectPublicKeyInfo(Blob key, Blob* algorithm, Blob* parameters, Blob* publicKeyBits);
int decodeDsaKey(Blob publicKeyBits, Blob parameters, DsaKeyStorage* key);

struct CertificateExtension {
  Blob id;     // extnID TLV
  Blob value;  // extnValue content
};

struct Certificate {
  Blob der;  // copied
  Blob tbsCertificate;
  Blob serialNumber;
  Blob issuer;
  Blob subject;
  Blob subjectPublicKeyInfo;
  Blob keyAlgorithm;
  Blob keyParameters;
  uint32_t extensionCount;
  CertificateExtension* extensions;
  Blob issuerAndSerialNumber;
  AllocList allocations;
  Certificate* next;  // in a block's list
};

int parseCertificate(Certificate* certificate, Blob der);
void releaseCertificate(Certificate* certificate);
int verifyCertificate(const Certificate* certificate, Blob issuerKey);
int verifyCertificateWithRoot(const Certificate* certificate, Blob rootKey);
int getCertificateId(const Certificate* certificate, Blob* out);
int getCertificateKey(const Certificate* certificate, Blob* out);

struct SignatureBlock;

struct SignerInfoSection {
  SignatureBlock* block;
  ManifestSection* manifestSection;
  SectionFields fields;
  SignerInfoSection* next;
};

struct SignerInfoText {
  SignatureBlock* block;
  uint32_t headerAttributeCount;
  AttributeNode* headerAttributes;
  Blob baseName;
  uint32_t sectionCount;
  SignerInfoSection* sections;
  Blob text;  // the exact bytes the DSA signature covers
};

struct SignerInfo {
  SignatureBlock* block;
  Blob issuerAndSerialNumber;
  Blob digestParameters;
  Blob encryptionParameters;
  Blob encryptedDigest;
  Blob content;
  SignerInfo* next;
};

struct SignatureBlock {
  ArchiveContext* archive;
  Blob baseName;
  Blob data;
  SignerInfoText signerInfoText;
  SignerInfo* signerInfos;    // the last of the SET first
  Certificate* certificates;  // the last first
};

int parseSignatureBlock(SignatureBlock* block, ArchiveContext* context, Blob baseName, Blob data);
int parseSignerInfoText(SignerInfoText* text, SignatureBlock* block, Blob baseName, Blob content);
int checkSectionDigest(const SignerInfoSection* section);
int verifySigner(const SignerInfo* signerInfo, Blob rootKey);

struct CertificateNode {
  Certificate* certificate;
  Blob baseName;
  CertificateNode* next;
};

struct SignatureBlockNode {
  SignatureBlock* block;
  Blob baseName;
  SignatureBlockNode* next;
};

struct ArchiveContext {
  Blob directory;
  Blob data;
  uint32_t headerAttributeCount;
  AttributeNode* headerAttributes;
  // Every section the manifest holds, in text order, for the signer-info checks.
  uint32_t parsedSectionCount;
  ManifestSection* parsedSections;
  // What callers reach: once a signer is chosen, only the sections it covers.
  uint32_t sectionCount;
  ManifestSection* sections;
  Blob manifest;
  CertificateNode* certificates;
  SignatureBlockNode* signatureBlocks;
  AllocList allocations;
};

struct CertificatePathNode {
  Certificate* certificate;
  CertificatePathNode* next;
};

int buildCertificatePath(CertificatePathNode** path, ArchiveContext* context, Blob signerId, Blob rootSubject,
                         Blob rootKey);
uint32_t copyCertificatePath(const CertificatePathNode* path, Certificate** out, uint32_t capacity);
SignerInfo* selectSignerByCertificate(ArchiveContext* context, const Certificate* certificate);
// The steps of loadSignedArchive after the ZIP runs, each 0 / -1 (NULL).
int parseArchiveManifest(ArchiveContext* context);                  // context->manifest set
int parseArchiveEntries(ArchiveContext* context, ZipEntry* entries);  // "DSA" and "CER" entries
SignerInfo* selectArchiveSigner(ArchiveContext* context, Blob wantedSigner, Blob rootKey);
// Drops every signature block but the one that holds `keep` (their certificates are freed).
void dropOtherSignatureBlocks(ArchiveContext* context, const SignatureBlock* keep);
// Chains the manifest sections that the block's signer-info text covers (in
// text order) as the archive's sections; the others are no longer reachable.
void markSignedSections(ArchiveContext* context, const SignatureBlock* block);
void releaseArchiveContext(ArchiveContext* context);
