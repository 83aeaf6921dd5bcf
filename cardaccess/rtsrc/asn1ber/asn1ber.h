// BER codec runtime (ITU-T X.690): codec context, encoder, decoder, dump and
// error reporting. Every operation reports failure as a negative int status and
// throws nothing. Messages are encoded back to front: each encoder writes in
// front of what the buffer already holds and returns the number of bytes written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Module text recorded with every error entry of this runtime.
extern const char* const BER_MODULE;

// Statuses: 0 or a positive count means success.
constexpr int BER_OK = 0;
constexpr int BER_ENCODE_OVERFLOW = -1;
constexpr int BER_END_OF_BUFFER = -2;
constexpr int BER_UNEXPECTED_TAG = -3;
constexpr int BER_INVALID_OID = -4;
constexpr int BER_INVALID_LENGTH = -5;
constexpr int BER_NO_MEMORY = -12;
constexpr int BER_INVALID_HEX = -14;
constexpr int BER_INVALID_BINARY = -15;
constexpr int BER_INVALID_REAL = -16;
constexpr int BER_TOO_MANY_ITEMS = -17;
constexpr int BER_INVALID_TAG = -21;
constexpr int BER_NESTING_TOO_DEEP = -22;
constexpr int BER_FILE_ENDED = -25;
constexpr int BER_REAL_NOT_BINARY = -99;

// Length value of the indefinite form.
constexpr int BER_INDEFINITE = -9999;

// Tags: bits 15-14 class, bit 13 constructed, bits 12-0 number (0 to 8191).
using BerTag = uint16_t;
constexpr BerTag BER_CLASS_UNIVERSAL = 0x0000;
constexpr BerTag BER_CLASS_APPLICATION = 0x4000;
constexpr BerTag BER_CLASS_CONTEXT = 0x8000;
constexpr BerTag BER_CLASS_PRIVATE = 0xC000;
constexpr BerTag BER_CONSTRUCTED = 0x2000;
constexpr BerTag BER_TAG_NUMBER_MASK = 0x1FFF;
constexpr unsigned BER_MAX_TAG_NUMBER = 8191;

constexpr BerTag BER_TAG_EOC = 0;
constexpr BerTag BER_TAG_BOOLEAN = 1;
constexpr BerTag BER_TAG_INTEGER = 2;
constexpr BerTag BER_TAG_BIT_STRING = 3;
constexpr BerTag BER_TAG_OCTET_STRING = 4;
constexpr BerTag BER_TAG_NULL = 5;
constexpr BerTag BER_TAG_OBJECT_ID = 6;
constexpr BerTag BER_TAG_REAL = 9;
constexpr BerTag BER_TAG_ENUMERATED = 10;
constexpr BerTag BER_TAG_UTF8_STRING = 12;
constexpr BerTag BER_TAG_SEQUENCE = 0x2010;
constexpr BerTag BER_TAG_SET = 0x2011;
constexpr BerTag BER_TAG_PRINTABLE_STRING = 19;
constexpr BerTag BER_TAG_IA5_STRING = 22;
constexpr BerTag BER_TAG_UTC_TIME = 23;
constexpr BerTag BER_TAG_BMP_STRING = 30;

// Context flags.
constexpr uint16_t BER_FLAG_CONTEXT_ALLOCATED = 0x8000;
constexpr uint16_t BER_FLAG_INDEFINITE_MESSAGE = 0x4000;
constexpr uint16_t BER_FLAG_MESSAGE_ENDED = 0x1000;
constexpr uint16_t BER_FLAG_COPY_OPEN_TYPES = 0x0800;

// Flags of berDecodeTagLength and berMatchTag.
constexpr int BER_MATCH_SEARCH = 1;
constexpr int BER_MATCH_ADVANCE = 2;
constexpr int BER_MATCH_STEP_OVER = 8;

constexpr uint32_t BER_DEFAULT_BUFFER_SIZE = 16384;
constexpr uint32_t BER_MAX_BUFFER_SIZE = 65536;
constexpr int BER_MAX_ERROR_ENTRIES = 8;
constexpr int BER_MAX_ERROR_PARAMETERS = 5;
constexpr uint32_t BER_MAX_OID_ARCS = 128;
constexpr int BER_STACK_SIZE = 32;

struct BerErrorEntry {
  const char* module;
  int line;
};

struct BerErrorInfo {
  BerErrorEntry stack[BER_MAX_ERROR_ENTRIES];
  uint8_t stackCount;
  int status;
  uint8_t parameterCount;
  char* parameters[BER_MAX_ERROR_PARAMETERS];
};

struct BerSavedPosition {
  uint32_t position;
  uint16_t depth;
};

struct BerHeapBlock;

// One per message; plain structure, zeroed at initialisation.
struct BerContext {
  uint8_t* buffer;
  uint32_t position;
  uint32_t size;
  uint16_t depth;
  uint8_t dynamic;
  BerSavedPosition saved;
  BerErrorInfo errorInfo;
  BerHeapBlock* heap;
  uint16_t flags;
};

struct BerObjectId {
  uint32_t count;
  uint32_t arcs[BER_MAX_OID_ARCS];
};

struct BerBMPString {
  uint32_t count;
  const uint16_t* chars;
};

// Length-and-pointer record of a text or a byte string.
struct BerOctets {
  uint32_t count;
  const uint8_t* data;
};

// --- Context, errors, heap -------------------------------------------------

int berInitContext(BerContext* ctx, uint8_t* buffer, uint32_t size);
BerContext* berNewContext(uint8_t* buffer, uint32_t size);
// Frees the dynamic buffer, the heap blocks, the error parameters and, when the
// runtime allocated it, the context itself.
void berFreeContext(BerContext* ctx);

int berSetError(BerContext* ctx, int status, const char* module, int line);
void berErrorAddText(BerContext* ctx, const char* text);
void berErrorAddInt(BerContext* ctx, int value);
void berErrorAddUnsigned(BerContext* ctx, unsigned value);
void berErrorAddTag(BerContext* ctx, BerTag tag);
void berErrorReset(BerContext* ctx);

// Small-object heap of the context; everything is freed with the context.
void* berHeapAlloc(BerContext* ctx, size_t size);

// --- Encoder ----------------------------------------------------------------

int berInitEncode(BerContext* ctx, uint8_t* buffer, uint32_t size);
int berWrite(BerContext* ctx, const uint8_t* bytes, uint32_t n);
int berExpandBuffer(BerContext* ctx, uint32_t needed);
int berEncodeLength(BerContext* ctx, int length);
int berEncodeTag(BerContext* ctx, BerTag tag);
int berEncodeIdentifierNumber(BerContext* ctx, uint32_t value);
int berEncodeTagLength(BerContext* ctx, BerTag tag, int length);

int berEncodeBoolean(BerContext* ctx, const uint8_t* value, int tagging);
int berEncodeInteger(BerContext* ctx, const int32_t* value, int tagging);
int berEncodeUnsigned(BerContext* ctx, const uint32_t* value, int tagging);
// "0x" and hex digits as they are: no sign octet is added ("0x80" reads as -128).
int berEncodeBigInteger(BerContext* ctx, const char* text, int tagging);
int berEncodeBitString(BerContext* ctx, const uint8_t* bytes, uint32_t bits, int tagging);
int berEncodeOctetString(BerContext* ctx, const uint8_t* bytes, uint32_t count, int tagging);
int berEncodeCharString(BerContext* ctx, const char* text, int tagging, BerTag tag);
int berEncodeBMPString(BerContext* ctx, uint32_t count, const uint16_t* chars, int tagging, BerTag tag);
int berEncodeNull(BerContext* ctx, int tagging);
int berEncodeObjectId(BerContext* ctx, uint32_t count, const uint32_t* arcs, int tagging);
int berEncodeEnumerated(BerContext* ctx, const int32_t* value, int tagging);
// Binary form, base 2; NaN is the NOT-A-NUMBER octet 0x42.
int berEncodeReal(BerContext* ctx, const double* value, int tagging);
int berEncodeOpenType(BerContext* ctx, const uint8_t* element, uint32_t size);
int berEncodeIndefiniteTag(BerContext* ctx, BerTag tag, int contentsLength);

// --- Helper records -----------------------------------------------------------

struct BerListNode {
  void* item;
  BerListNode* next;
};

struct BerList {
  uint32_t count;
  BerListNode* head;
  BerListNode* tail;
};

void berListInit(BerList* list);
// Null when memory runs out.
BerListNode* berListAppend(BerList* list, void* item);
// Frees the nodes, not the items.
void berListFreeNodes(BerList* list);

struct BerStack {
  int count;
  long values[BER_STACK_SIZE];
};

void berStackInit(BerStack* stack);
int berStackPush(BerStack* stack, long value);
long berStackPop(BerStack* stack);
void berStackCopy(BerStack* dest, const BerStack* src);

// One element of a SET OF: its encoding where it stands in the message.
struct BerSetOfElement {
  uint32_t length;
  const uint8_t* bytes;
};

// Appends an element record (allocated here, freed by berSortSetOf).
int berSetOfAppend(BerList* list, const uint8_t* bytes, uint32_t length);
// Sorts the elements standing at the current position into ascending order,
// consumes the list (records and nodes are always freed) and returns the total.
int berSortSetOf(BerContext* ctx, BerList* list);

// --- Decoder --------------------------------------------------------------------

// Reads the outer header. length receives the element's total length, or
// BER_INDEFINITE. size is always the bound of every read, also for messages
// of indefinite length; 0 means no bytes. A failure leaves nothing to decode.
int berInitDecode(BerContext* ctx, const uint8_t* buffer, uint32_t size, BerTag* tag, int* length);
int berDecodeTag(BerContext* ctx, BerTag* tag);
int berDecodeLength(BerContext* ctx, int* length);
// An end-of-contents outside every indefinite element, and the indefinite form
// on a primitive element, are refused (-5).
int berDecodeTagLength(BerContext* ctx, BerTag* tag, int* length, int flags);
int berMatchTag(BerContext* ctx, BerTag expected, int* length, int flags);
int berRead(BerContext* ctx, uint8_t* bytes, uint32_t n);
int berSkipElement(BerContext* ctx);
int berSkipToEndOfContents(BerContext* ctx);
// For an indefinite element the end-of-contents that ends it is read.
bool berEndOfElement(BerContext* ctx, uint32_t start, int length);
int berCountElements(BerContext* ctx, int length);
void berSavePosition(BerContext* ctx);
void berRestorePosition(BerContext* ctx);
int berIndefiniteMessageLength(const uint8_t* bytes, uint32_t size);
// 0 when every contained element fills its parent's length exactly; nesting
// deeper than BER_STACK_SIZE gives -22.
int berCheckLengths(const uint8_t* bytes, uint32_t size);

int berDecodeBoolean(BerContext* ctx, uint8_t* value, int tagging, int length);
int berDecodeInteger(BerContext* ctx, int32_t* value, int tagging, int length);
int berDecodeUnsigned(BerContext* ctx, uint32_t* value, int tagging, int length);
int berDecodeBigInteger(BerContext* ctx, const char** text, int tagging, int length);
// bits: in the capacity of the buffer in bits, out the number of bits.
int berDecodeBitString(BerContext* ctx, uint8_t* buffer, uint32_t* bits, int tagging, int length);
int berDecodeBitStringAlloc(BerContext* ctx, const uint8_t** data, uint32_t* bits, int tagging, int length);
// count: in the capacity of the buffer, out the number of bytes.
int berDecodeOctetString(BerContext* ctx, uint8_t* buffer, uint32_t* count, int tagging, int length);
int berDecodeOctetStringAlloc(BerContext* ctx, const uint8_t** data, uint32_t* count, int tagging, int length);
int berDecodeCharString(BerContext* ctx, const char** text, int tagging, BerTag tag, int length);
int berDecodeBMPString(BerContext* ctx, BerBMPString* value, int tagging, BerTag tag, int length);
int berDecodeNull(BerContext* ctx, int tagging, int length);
int berDecodeObjectId(BerContext* ctx, BerObjectId* value, int tagging, int length);
int berDecodeEnumerated(BerContext* ctx, int32_t* value, int tagging, int length);
int berDecodeReal(BerContext* ctx, double* value, int tagging, int length);
int berDecodeOpenType(BerContext* ctx, const uint8_t** element, uint32_t* length);
// The elements up to the first with the given tag or the end of the enclosing
// element: its contents start and length (indefinite: up to its end-of-contents
// or the end of the message).
int berDecodeOpenTypeUpTo(BerContext* ctx, const uint8_t** element, uint32_t* length, BerTag tag,
                          uint32_t enclosingStart = 0, int enclosingLength = BER_INDEFINITE);

// --- Output ---------------------------------------------------------------------

using BerPrintCallback = void (*)(const char* text, void* argument);

int berDumpMessage(const uint8_t* bytes, uint32_t size, BerPrintCallback callback, void* argument);
int berDumpMessageToFile(FILE* file, const uint8_t* bytes, uint32_t size);
// "[class form identifier]" into text (capacity bytes, always terminated).
const char* berTagText(BerTag tag, char* text, size_t capacity);
void berHexDump(FILE* file, const uint8_t* bytes, uint32_t n);
void berHexDumpStdout(const uint8_t* bytes, uint32_t n, bool heading);
// The text of a status with its parameters, cut to capacity (always terminated).
const char* berStatusText(int status);
const char* berErrorText(const BerContext* ctx, char* text, size_t capacity);
void berPrintError(BerContext* ctx);
void berPrintErrorTo(BerContext* ctx, BerPrintCallback callback, void* argument);

// --- File input -----------------------------------------------------------------

int berReadMessage(FILE* file, uint8_t* buffer, uint32_t capacity, uint32_t* used);
int berReadMessageHeaderFirst(FILE* file, uint8_t* buffer, uint32_t capacity);

// --- Text helpers ---------------------------------------------------------------

// Byte count, or a negative status (-1 when the bytes do not fit).
int berHexTextToBytes(const char* text, uint8_t* bytes, uint32_t capacity);
int berBinaryTextToBytes(const char* text, uint8_t* bytes, uint32_t capacity);
int berCopyOctets(BerContext* ctx, BerOctets* record, const uint8_t* bytes, uint32_t n);
int berCopyText(BerContext* ctx, BerOctets* record, const char* text);
int berCopyOctetsFixed(uint8_t* dest, uint32_t capacity, uint32_t* count, const uint8_t* bytes, uint32_t n);
// Copies a text of at most 80 characters into one process-wide buffer; null when longer.
const char* berStaticText(const char* text);

// Process-wide diagnostics switch; unguarded.
void berSetDiagnostics(bool on);
bool berDiagnostics();
void berDiagnosticPrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
