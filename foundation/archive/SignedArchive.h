// Signed manifest library: reads signed settings archives (".esw"), checks their
// ZIP structure, manifest digests and DSA signature against a built-in root key,
// and lets callers look up sections and walk their attributes.
//
// Plain functions over plain records. Results are 0 / -1 or a pointer that is
// NULL on failure; nothing throws and nothing is logged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A byte string: length and bytes, no terminating NUL unless a place says so.
struct Blob {
  uint32_t length;
  unsigned char* data;
};

// A Blob over bytes the caller owns; the library only reads input blobs.
inline Blob makeBlob(const void* data, size_t length) {
  return Blob{static_cast<uint32_t>(length), static_cast<unsigned char*>(const_cast<void*>(data))};
}

struct ArchiveContext;
struct SignerInfo;

// The handle of a loaded archive: the SignerInfo of the signer that verified.
typedef SignerInfo SignedArchive;

struct AttributeNode {
  Blob name;
  Blob value;  // unfolded
  AttributeNode* next;
};

struct DigestNode {
  Blob name;    // algorithm name followed by "-Digest"
  Blob digest;  // Base64-decoded bytes
  DigestNode* next;
};

struct DigestAlgorithm {
  Blob name;
  uint32_t digestCount;
  DigestNode* digests;  // the digest line written last first
  DigestAlgorithm* next;
};

struct ManifestSection {
  ArchiveContext* archive;
  Blob name;         // the Name value
  Blob kind;         // its text before the first ':'
  Blob path;         // its text after the first ':'
  Blob sectionName;  // empty when the section has none
  Blob text;         // from "Name:" through the line end of the closing empty line
  uint32_t attributeCount;
  AttributeNode* attributes;
  uint32_t digestAlgorithmCount;
  DigestAlgorithm* digestAlgorithms;
  // The next section that the chosen signer covers: sections no signer-info
  // section names are never reachable, so none can shadow a signed one.
  ManifestSection* next;
};

struct AttributeIterator {
  uint32_t position;
  uint32_t count;
  ArchiveContext* archive;
  AttributeNode** attributes;
};

// The largest archive that loads. Settings files are a few kilobytes; the cap
// keeps a hostile file from costing more than a bounded amount of memory.
constexpr uint32_t kMaxArchiveSize = 16u * 1024 * 1024;

// archive: the file bytes (may be freed on return), at most kMaxArchiveSize; directory: non-empty;
// wantedSigner: DER IssuerAndSerialNumber or empty; rootKey: DER
// SubjectPublicKeyInfo of a DSA key, or empty for the default root key.
SignedArchive* loadSignedArchive(Blob archive, Blob directory, Blob wantedSigner, Blob rootKey);
ManifestSection* findSection(SignedArchive* handle, uint32_t length, const char* name);
AttributeIterator* getAttributes(ManifestSection* section);
int nextAttribute(AttributeIterator* iterator, Blob* name, Blob* value);
int freeAttributes(AttributeIterator* iterator);
int releaseArchive(SignedArchive* handle);
// name: a settings file in the installation directory (without ".esw"), or NULL
// for the program's own settings file in the system directory.
SignedArchive* loadSignedFile(const char* name);

// Owners of an archive and an attribute walk, for C++ callers.
struct ArchiveRelease {
  void operator()(SignedArchive* archive) const { releaseArchive(archive); }
};
struct AttributesRelease {
  void operator()(AttributeIterator* iterator) const { freeAttributes(iterator); }
};
using ArchivePtr = std::unique_ptr<SignedArchive, ArchiveRelease>;
using AttributesPtr = std::unique_ptr<AttributeIterator, AttributesRelease>;

// The library's Base64: CR LF after every 64 characters (also at the very end),
// a strict decoder. Results are freed with freeBlob.
Blob* base64Encode(Blob input);
Blob* base64Decode(Blob input);
void freeBlob(Blob* blob);

// The built-in root keys (442-byte DER SubjectPublicKeyInfo). out->length holds
// the capacity on entry; 1 and the key, or 0 (length 0) when it is too small.
int getArchiveRootKey(Blob* out);
int getDefaultRootKey(Blob* out);
