// Records built from the grammar's captures: header attributes, sections with
// their attributes and decoded digests.
#include "foundation/archive/ArchiveInternal.h"

#include <cstring>

namespace {

bool isNameChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

int appendAttributes(ArchiveContext* context, const CaptureList& names, const CaptureList& values, uint32_t* count,
                     AttributeNode** head) {
  AttributeNode** tail = head;
  while (*tail != nullptr) tail = &(*tail)->next;
  const uint32_t pairs = names.count < values.count ? names.count : values.count;
  for (uint32_t k = 0; k < pairs; ++k) {
    auto* node = static_cast<AttributeNode*>(arcAlloc(&context->allocations, sizeof(AttributeNode)));
    if (node == nullptr) return -1;
    node->name = names.items[k];
    if (unfoldValue(context, values.items[k], &node->value) != 0) return -1;
    *tail = node;
    tail = &node->next;
    ++*count;
  }
  return 0;
}

int addDigestAlgorithms(ArchiveContext* context, Blob value, SectionFields* fields) {
  DigestAlgorithm** tail = &fields->digestAlgorithms;
  while (*tail != nullptr) tail = &(*tail)->next;
  uint32_t i = 0;
  while (i < value.length) {
    while (i < value.length && !isNameChar(value.data[i])) ++i;
    if (i >= value.length) break;
    const uint32_t start = i;
    while (i < value.length && value.data[i] != ' ') ++i;
    auto* algorithm = static_cast<DigestAlgorithm*>(arcAlloc(&context->allocations, sizeof(DigestAlgorithm)));
    if (algorithm == nullptr) return -1;
    algorithm->name = makeBlob(value.data + start, i - start);
    *tail = algorithm;
    tail = &algorithm->next;
    ++fields->digestAlgorithmCount;
  }
  return 0;
}

int attachDigest(ArchiveContext* context, Blob digestName, Blob value, SectionFields* fields) {
  if (digestName.length < 7) return 0;
  const uint32_t nameLength = digestName.length - 7;
  DigestAlgorithm* algorithm = fields->digestAlgorithms;
  while (algorithm != nullptr &&
         !(algorithm->name.length == nameLength && std::memcmp(algorithm->name.data, digestName.data, nameLength) == 0)) {
    algorithm = algorithm->next;
  }
  if (algorithm == nullptr) return 0;  // not listed in Digest-Algorithms
  Blob unfolded;
  if (unfoldValue(context, value, &unfolded) != 0) return -1;
  Blob* decoded = base64Decode(unfolded);
  if (decoded == nullptr) return -1;
  auto* node = static_cast<DigestNode*>(arcAlloc(&context->allocations, sizeof(DigestNode)));
  const int copied = node != nullptr ? arcCopy(&context->allocations, *decoded, &node->digest) : -1;
  freeBlob(decoded);
  if (copied != 0) return -1;
  node->name = digestName;
  node->next = algorithm->digests;
  algorithm->digests = node;
  ++algorithm->digestCount;
  return 0;
}

}  // namespace

int unfoldValue(ArchiveContext* context, Blob value, Blob* out) {
  bool folded = false;
  for (uint32_t i = 0; i < value.length && !folded; ++i) folded = value.data[i] == '\r' || value.data[i] == '\n';
  if (!folded) {
    *out = value;
    return 0;
  }
  auto* copy = static_cast<unsigned char*>(arcAlloc(&context->allocations, value.length + 1));
  if (copy == nullptr) return -1;
  uint32_t w = 0;
  for (uint32_t i = 0; i < value.length;) {
    const unsigned char c = value.data[i];
    if (c != '\r' && c != '\n') {
      copy[w++] = c;
      ++i;
      continue;
    }
    i += (c == '\r' && i + 1 < value.length && value.data[i + 1] == '\n') ? 2 : 1;
    if (i < value.length && value.data[i] == ' ') ++i;
  }
  *out = makeBlob(copy, w);
  return 0;
}

int parseManifestText(ArchiveContext* context, Blob text, Blob start, ManifestCaptures* result) {
  if (context == nullptr || result == nullptr) return -1;
  unsigned char buffer[2048] = {};
  Blob rules = makeBlob(buffer, sizeof buffer);
  if (loadManifestGrammar(&rules) != 0) return -1;
  CaptureList slots[kGrammarSlots];
  if (parseManifestLines(&context->allocations, text, start, slots, kGrammarSlots) != 1 &&
      matchGrammar(&context->allocations, rules, start, text, slots, kGrammarSlots) != 1) {
    return -1;
  }
  for (int s = 0; s < kManifestSlots; ++s) result->slots[s] = slots[s];
  return 0;
}

int buildHeaderAttributes(ArchiveContext* context, const ManifestCaptures* captures, uint32_t* count,
                          AttributeNode** attributes) {
  *count = 0;
  *attributes = nullptr;
  return appendAttributes(context, captures->slots[1], captures->slots[2], count, attributes);
}

int parseSectionFields(ArchiveContext* context, Blob sectionText, SectionFields* fields) {
  std::memset(fields, 0, sizeof *fields);
  ManifestCaptures captures;
  if (parseManifestText(context, sectionText, makeBlob("<section>", 9), &captures) != 0) return -1;
  fields->text = sectionText;
  if (captures.slots[3].count == 0) return -1;
  if (unfoldValue(context, captures.slots[3].items[0], &fields->name) != 0) return -1;
  fields->sectionName = makeBlob(sectionText.data, 0);
  if (captures.slots[4].count != 0 && unfoldValue(context, captures.slots[4].items[0], &fields->sectionName) != 0) {
    return -1;
  }
  for (uint32_t k = 0; k < captures.slots[5].count; ++k) {
    Blob value;
    if (unfoldValue(context, captures.slots[5].items[k], &value) != 0) return -1;
    if (addDigestAlgorithms(context, value, fields) != 0) return -1;
  }
  const uint32_t digests =
      captures.slots[6].count < captures.slots[7].count ? captures.slots[6].count : captures.slots[7].count;
  for (uint32_t k = 0; k < digests; ++k) {
    if (attachDigest(context, captures.slots[6].items[k], captures.slots[7].items[k], fields) != 0) return -1;
  }
  return appendAttributes(context, captures.slots[8], captures.slots[9], &fields->attributeCount, &fields->attributes);
}
