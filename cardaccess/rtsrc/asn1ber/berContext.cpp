// Codec context, error information, small-object heap and helper records.
#include "cardaccess/rtsrc/asn1ber/asn1ber.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

const char* const BER_MODULE = "../rtsrc/asn1ber";

// --- Context ------------------------------------------------------------------

int berInitContext(BerContext* ctx, uint8_t* buffer, uint32_t size) {
  if (ctx == nullptr) return BER_NO_MEMORY;
  std::memset(ctx, 0, sizeof(*ctx));
  if (buffer != nullptr && size > 0) {
    ctx->buffer = buffer;
    ctx->size = size;
    return BER_OK;
  }
  ctx->buffer = static_cast<uint8_t*>(std::malloc(BER_DEFAULT_BUFFER_SIZE));
  if (ctx->buffer == nullptr) return BER_NO_MEMORY;
  // The last byte is never written; keep it from showing old heap contents.
  ctx->buffer[BER_DEFAULT_BUFFER_SIZE - 1] = 0;
  ctx->size = BER_DEFAULT_BUFFER_SIZE;
  ctx->dynamic = 1;
  return BER_OK;
}

BerContext* berNewContext(uint8_t* buffer, uint32_t size) {
  auto* ctx = static_cast<BerContext*>(std::malloc(sizeof(BerContext)));
  if (ctx == nullptr) return nullptr;
  if (berInitContext(ctx, buffer, size) != BER_OK) {
    std::free(ctx);
    return nullptr;
  }
  ctx->flags |= BER_FLAG_CONTEXT_ALLOCATED;
  return ctx;
}

// A block header; the room follows it in the same allocation.
struct BerHeapBlock {
  BerHeapBlock* next;
  size_t used;
};

namespace {
constexpr size_t kBlockRoom = 4088;
constexpr size_t kBlockHeader = (sizeof(BerHeapBlock) + 7) & ~static_cast<size_t>(7);

uint8_t* roomOf(BerHeapBlock* block) { return reinterpret_cast<uint8_t*>(block) + kBlockHeader; }
}  // namespace

void berFreeContext(BerContext* ctx) {
  if (ctx == nullptr) return;
  if (ctx->dynamic && ctx->buffer != nullptr) std::free(ctx->buffer);
  ctx->buffer = nullptr;
  ctx->dynamic = 0;
  for (BerHeapBlock* block = ctx->heap; block != nullptr;) {
    BerHeapBlock* next = block->next;
    std::free(block);
    block = next;
  }
  ctx->heap = nullptr;
  berErrorReset(ctx);
  if (ctx->flags & BER_FLAG_CONTEXT_ALLOCATED) std::free(ctx);
}

// --- Error information -----------------------------------------------------------

int berSetError(BerContext* ctx, int status, const char* module, int line) {
  if (ctx == nullptr) return status;
  BerErrorInfo& info = ctx->errorInfo;
  if (info.status == 0) info.status = status;
  if (info.stackCount < BER_MAX_ERROR_ENTRIES) {
    info.stack[info.stackCount].module = module;
    info.stack[info.stackCount].line = line;
    ++info.stackCount;
  }
  return status;
}

void berErrorAddText(BerContext* ctx, const char* text) {
  if (ctx == nullptr || text == nullptr) return;
  BerErrorInfo& info = ctx->errorInfo;
  if (info.parameterCount >= BER_MAX_ERROR_PARAMETERS) return;
  size_t n = std::strlen(text);
  char* copy = static_cast<char*>(std::malloc(n + 1));
  if (copy == nullptr) return;
  std::memcpy(copy, text, n + 1);
  info.parameters[info.parameterCount++] = copy;
}

void berErrorAddInt(BerContext* ctx, int value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", value);
  berErrorAddText(ctx, text);
}

void berErrorAddUnsigned(BerContext* ctx, unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u", value);
  berErrorAddText(ctx, text);
}

void berErrorAddTag(BerContext* ctx, BerTag tag) {
  char text[8];
  std::snprintf(text, sizeof(text), "%04x", static_cast<unsigned>(tag));
  berErrorAddText(ctx, text);
}

void berErrorReset(BerContext* ctx) {
  if (ctx == nullptr) return;
  BerErrorInfo& info = ctx->errorInfo;
  for (int i = 0; i < info.parameterCount; ++i) std::free(info.parameters[i]);
  std::memset(&info, 0, sizeof(info));
}

// --- Heap -------------------------------------------------------------------------

void* berHeapAlloc(BerContext* ctx, size_t size) {
  if (ctx == nullptr) return nullptr;
  if (size == 0) size = 1;
  if (size > SIZE_MAX - 16 - kBlockHeader) return nullptr;
  size = (size + 7) & ~static_cast<size_t>(7);
  if (size > kBlockRoom) {
    // A block of its own that counts as full, kept behind the first block so
    // that small requests still find the room of the front block.
    auto* block = static_cast<BerHeapBlock*>(std::malloc(kBlockHeader + size));
    if (block == nullptr) return nullptr;
    block->used = kBlockRoom;
    if (ctx->heap != nullptr) {
      block->next = ctx->heap->next;
      ctx->heap->next = block;
    } else {
      block->next = nullptr;
      ctx->heap = block;
    }
    return roomOf(block);
  }
  for (BerHeapBlock* block = ctx->heap; block != nullptr; block = block->next) {
    if (kBlockRoom - block->used >= size) {
      void* result = roomOf(block) + block->used;
      block->used += size;
      return result;
    }
  }
  auto* block = static_cast<BerHeapBlock*>(std::malloc(kBlockHeader + kBlockRoom));
  if (block == nullptr) return nullptr;
  block->next = ctx->heap;
  block->used = size;
  ctx->heap = block;
  return roomOf(block);
}

// --- List and stack ------------------------------------------------------------------

void berListInit(BerList* list) {
  if (list == nullptr) return;
  list->count = 0;
  list->head = nullptr;
  list->tail = nullptr;
}

BerListNode* berListAppend(BerList* list, void* item) {
  if (list == nullptr) return nullptr;
  auto* node = static_cast<BerListNode*>(std::malloc(sizeof(BerListNode)));
  if (node == nullptr) return nullptr;
  node->item = item;
  node->next = nullptr;
  if (list->tail != nullptr) {
    list->tail->next = node;
  } else {
    list->head = node;
  }
  list->tail = node;
  ++list->count;
  return node;
}

void berListFreeNodes(BerList* list) {
  if (list == nullptr) return;
  for (BerListNode* node = list->head; node != nullptr;) {
    BerListNode* next = node->next;
    std::free(node);
    node = next;
  }
  berListInit(list);
}

void berStackInit(BerStack* stack) {
  if (stack != nullptr) stack->count = 0;
}

int berStackPush(BerStack* stack, long value) {
  if (stack == nullptr || stack->count >= BER_STACK_SIZE) return BER_NESTING_TOO_DEEP;
  stack->values[stack->count++] = value;
  return BER_OK;
}

long berStackPop(BerStack* stack) {
  if (stack == nullptr || stack->count <= 0) return 0;
  return stack->values[--stack->count];
}

void berStackCopy(BerStack* dest, const BerStack* src) {
  if (dest == nullptr || src == nullptr) return;
  std::memcpy(dest, src, sizeof(*dest));
}

// --- Text helpers ------------------------------------------------------------------------

namespace {
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

int berHexTextToBytes(const char* text, uint8_t* bytes, uint32_t capacity) {
  if (text == nullptr) return BER_INVALID_HEX;
  size_t digits = std::strlen(text);
  for (size_t i = 0; i < digits; ++i) {
    if (hexValue(text[i]) < 0) return BER_INVALID_HEX;
  }
  size_t count = (digits + 1) / 2;
  if (count > capacity || count > INT32_MAX) return BER_ENCODE_OVERFLOW;
  // An odd number of digits reads as if a 0 stood in front.
  size_t i = 0;
  size_t out = 0;
  if (digits % 2 == 1) {
    bytes[out++] = static_cast<uint8_t>(hexValue(text[0]));
    i = 1;
  }
  for (; i < digits; i += 2) {
    bytes[out++] = static_cast<uint8_t>(hexValue(text[i]) << 4 | hexValue(text[i + 1]));
  }
  return static_cast<int>(count);
}

int berBinaryTextToBytes(const char* text, uint8_t* bytes, uint32_t capacity) {
  if (text == nullptr) return BER_INVALID_BINARY;
  size_t digits = std::strlen(text);
  for (size_t i = 0; i < digits; ++i) {
    if (text[i] != '0' && text[i] != '1') return BER_INVALID_BINARY;
  }
  size_t count = (digits + 7) / 8;
  if (count > capacity || count > INT32_MAX) return BER_ENCODE_OVERFLOW;
  std::memset(bytes, 0, count);
  for (size_t i = 0; i < digits; ++i) {
    if (text[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  return static_cast<int>(count);
}

int berCopyOctets(BerContext* ctx, BerOctets* record, const uint8_t* bytes, uint32_t n) {
  if (record == nullptr) return BER_NO_MEMORY;
  record->count = 0;
  record->data = nullptr;
  if (n == 0) return BER_OK;
  auto* copy = static_cast<uint8_t*>(berHeapAlloc(ctx, n));
  if (copy == nullptr) return BER_NO_MEMORY;
  std::memcpy(copy, bytes, n);
  record->count = n;
  record->data = copy;
  return BER_OK;
}

int berCopyText(BerContext* ctx, BerOctets* record, const char* text) {
  if (record == nullptr || text == nullptr) return BER_NO_MEMORY;
  size_t n = std::strlen(text);
  if (n >= UINT32_MAX) return BER_NO_MEMORY;
  auto* copy = static_cast<uint8_t*>(berHeapAlloc(ctx, n + 1));
  if (copy == nullptr) return BER_NO_MEMORY;
  std::memcpy(copy, text, n + 1);
  record->count = static_cast<uint32_t>(n);
  record->data = copy;
  return BER_OK;
}

int berCopyOctetsFixed(uint8_t* dest, uint32_t capacity, uint32_t* count, const uint8_t* bytes, uint32_t n) {
  if (n > capacity) return BER_TOO_MANY_ITEMS;
  if (n > 0) std::memcpy(dest, bytes, n);
  if (count != nullptr) *count = n;
  return BER_OK;
}

const char* berStaticText(const char* text) {
  static char buffer[81];
  if (text == nullptr) return nullptr;
  size_t n = std::strlen(text);
  if (n > 80) return nullptr;
  std::memcpy(buffer, text, n + 1);
  return buffer;
}

// --- Diagnostics ------------------------------------------------------------------------------

namespace {
bool gDiagnostics = false;
}

void berSetDiagnostics(bool on) { gDiagnostics = on; }

bool berDiagnostics() { return gDiagnostics; }

void berDiagnosticPrint(const char* format, ...) {
  if (!gDiagnostics) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
}
