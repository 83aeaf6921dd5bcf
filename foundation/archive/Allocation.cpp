// Allocation lists and the byte-string helpers of the signed manifest library.
#include "foundation/archive/ArchiveInternal.h"

#include <cstdlib>
#include <cstring>

namespace {
// The header keeps the payload 16-byte aligned.
struct alignas(16) BlockHeader {
  AllocBlock link;
};
}  // namespace

void* arcAlloc(AllocList* list, size_t size) {
  if (list == nullptr || size > (static_cast<size_t>(1) << 40)) return nullptr;
  auto* header = static_cast<BlockHeader*>(std::calloc(1, sizeof(BlockHeader) + size));
  if (header == nullptr) return nullptr;
  header->link.prev = nullptr;
  header->link.next = list->head;
  if (list->head != nullptr) list->head->prev = &header->link;
  list->head = &header->link;
  return header + 1;
}

void arcFree(AllocList* list, void* block) {
  if (list == nullptr || block == nullptr) return;
  auto* header = static_cast<BlockHeader*>(block) - 1;
  AllocBlock* link = &header->link;
  if (link->prev != nullptr) link->prev->next = link->next;
  else list->head = link->next;
  if (link->next != nullptr) link->next->prev = link->prev;
  std::free(header);
}

void arcFreeAll(AllocList* list) {
  if (list == nullptr) return;
  AllocBlock* link = list->head;
  while (link != nullptr) {
    AllocBlock* next = link->next;
    std::free(reinterpret_cast<BlockHeader*>(link));
    link = next;
  }
  list->head = nullptr;
}

int arcCopy(AllocList* list, Blob source, Blob* out) {
  auto* copy = static_cast<unsigned char*>(arcAlloc(list, static_cast<size_t>(source.length) + 1));
  if (copy == nullptr) return -1;
  if (source.length != 0) std::memcpy(copy, source.data, source.length);
  out->data = copy;
  out->length = source.length;
  return 0;
}

bool blobNamesEqual(const unsigned char* a, uint32_t aLength, const unsigned char* b, uint32_t bLength) {
  if (aLength == bLength) return aLength == 0 || std::memcmp(a, b, aLength) == 0;
  if (aLength == bLength + 1) return a[bLength] == 0 && (bLength == 0 || std::memcmp(a, b, bLength) == 0);
  if (bLength == aLength + 1) return b[aLength] == 0 && (aLength == 0 || std::memcmp(a, b, aLength) == 0);
  return false;
}
