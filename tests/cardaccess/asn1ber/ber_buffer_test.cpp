// Message buffer classes over the reference-counted context.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <type_traits>

#include "ber_test_util.h"
#include "cardaccess/rtsrc/asn1ber/BerMessageBuffer.h"

using bertest::Bytes;
using bertest::hex;
using bertest::toHex;

namespace {

static_assert(!std::has_virtual_destructor<BerMessageBuffer>::value, "no destructor slot");
static_assert(!std::has_virtual_destructor<BerEncodeBuffer>::value, "no destructor slot");
static_assert(!std::is_destructible<BerMessageBuffer>::value, "deleted only as its final type");

// The card layer's hash data object: [0] primitive around a block of at most 64 bytes.
TEST(BerEncodeBufferTest, HashDataObjectInEightyBytes) {
  for (uint32_t count : {0u, 1u, 20u, 64u}) {
    uint8_t storage[80];
    BerEncodeBuffer buffer(storage, sizeof(storage));
    Bytes data(count);
    for (uint32_t i = 0; i < count; ++i) data[i] = static_cast<uint8_t>(0xFF - i);  // any values
    BerContext* ctx = buffer.context();
    ASSERT_EQ(berEncodeOctetString(ctx, data.data(), count, 0), static_cast<int>(count));
    int total = berEncodeTagLength(ctx, BER_CLASS_CONTEXT, static_cast<int>(count));
    ASSERT_EQ(total, static_cast<int>(count) + 2);
    const uint8_t* message = buffer.getMsgPtr();
    EXPECT_EQ(message, storage + 77 - count);
    EXPECT_EQ(message[0], 0x80);
    EXPECT_EQ(message[1], count);
    EXPECT_TRUE(count == 0 || std::memcmp(message + 2, data.data(), count) == 0);
  }
}

TEST(BerEncodeBufferTest, CopyInitAndType) {
  uint8_t storage[16];
  BerEncodeBuffer buffer(storage, sizeof(storage));
  EXPECT_TRUE(buffer.isA(BerMessageBuffer::kEncode));
  EXPECT_FALSE(buffer.isA(BerMessageBuffer::kDecode));
  int32_t five = 5;
  ASSERT_EQ(berEncodeInteger(buffer.context(), &five, 1), 3);
  storage[15] = 0xEE;  // the last byte, never written by the encoder
  std::unique_ptr<uint8_t[]> copy(buffer.getMsgCopy());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(toHex(copy.get(), 4), "02 01 05 EE");  // the message and the unused last byte

  buffer.init();
  EXPECT_EQ(buffer.getMsgPtr(), storage + 15);
  int32_t six = 6;
  ASSERT_EQ(berEncodeInteger(buffer.context(), &six, 1), 3);
  EXPECT_EQ(toHex(buffer.getMsgPtr(), 3), "02 01 06");
}

TEST(BerEncodeBufferTest, DynamicBufferAndContextReferences) {
  BerCodecContext* held = nullptr;
  {
    BerEncodeBuffer buffer;
    BerContext* ctx = buffer.context();
    EXPECT_EQ(ctx->size, 16384u);
    EXPECT_EQ(ctx->dynamic, 1);
    Bytes big(20000, 0x42);
    ASSERT_EQ(berEncodeOctetString(ctx, big.data(), 20000, 1), 20004);
    EXPECT_EQ(toHex(buffer.getMsgPtr(), 4), "04 82 4E 20");
    std::unique_ptr<uint8_t[]> copy(buffer.getMsgCopy());
    EXPECT_EQ(copy[20004], 0);  // the unused last byte shows no old heap contents
    held = buffer.getContext();
    EXPECT_EQ(held->referenceCount(), 2);
  }
  // The context outlives the buffer while a reference is held.
  EXPECT_EQ(held->referenceCount(), 1);
  EXPECT_EQ(held->size, 16384u + 20000u);  // grown by what was needed
  held->release();
}

TEST(BerDecodeBufferTest, FindElementInAnnexA) {
  Bytes record = hex(bertest::kAnnexA);
  BerDecodeBuffer buffer(record.data(), static_cast<uint32_t>(record.size()));
  EXPECT_TRUE(buffer.isA(BerMessageBuffer::kDecode));
  EXPECT_EQ(buffer.getMsgPtr(), record.data());
  EXPECT_EQ(buffer.getMsgCopy(), nullptr);
  int length = 0;
  // [APPLICATION 2] employee number, found from the start.
  const uint8_t* number = buffer.findElement(0x4002, length, true);
  ASSERT_NE(number, nullptr);
  EXPECT_EQ(number - record.data(), 33);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(number[2], 51);
  // [3] children, then the first child's [0] date of birth after it.
  const uint8_t* children = buffer.findElement(0xA003, length, false);
  ASSERT_NE(children, nullptr);
  EXPECT_EQ(length, 0x42);
  const uint8_t* birth = buffer.findElement(0xA000, length, false);
  ASSERT_NE(birth, nullptr);
  EXPECT_EQ(toHex(birth + 4, 8), toHex(reinterpret_cast<const uint8_t*>("19571111"), 8));
  // The outer element itself, from the start again.
  EXPECT_EQ(buffer.findElement(0x6000, length, true), record.data());
  EXPECT_EQ(length, 0x85);
  EXPECT_EQ(buffer.findElement(0x4009, length, true), nullptr);
}

TEST(BerDecodeBufferTest, BadMessageFindsNothing) {
  Bytes bad = hex("30 7F 02 01 05");
  BerDecodeBuffer buffer(bad.data(), static_cast<uint32_t>(bad.size()));
  int length = 0;
  EXPECT_EQ(buffer.findElement(BER_TAG_INTEGER, length, true), nullptr);
}

TEST(BerObjectIdValueTest, EncodeRestartsTheMessageAndDecodeReadsIt) {
  BerEncodeBuffer buffer;
  BerObjectIdValue oid(buffer);
  int32_t junk = 7;
  berEncodeInteger(buffer.context(), &junk, 1);
  oid.value.count = 4;
  const uint32_t arcs[] = {1, 2, 840, 113549};
  std::memcpy(oid.value.arcs, arcs, sizeof(arcs));
  ASSERT_EQ(oid.encode(), 8);
  EXPECT_EQ(toHex(buffer.getMsgPtr(), 8), "06 06 2A 86 48 86 F7 0D");

  Bytes bytes(buffer.getMsgPtr(), buffer.getMsgPtr() + 8);
  BerDecodeBuffer input(bytes.data(), 8);
  BerObjectIdValue decoded(input);
  ASSERT_EQ(decoded.decode(), BER_OK);
  ASSERT_EQ(decoded.value.count, 4u);
  EXPECT_EQ(decoded.value.arcs[3], 113549u);
  EXPECT_EQ(decoded.decode(), BER_UNEXPECTED_TAG);  // nothing left to match
}

}  // namespace
