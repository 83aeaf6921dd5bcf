// Encoder vectors, buffer limits and error information.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "ber_test_util.h"

using bertest::Bytes;
using bertest::Encoder;
using bertest::hex;
using bertest::toHex;

namespace {

struct IntCase {
  int32_t value;
  const char* expected;
};

TEST(BerEncode, IntegerIsShortestTwosComplement) {
  const IntCase cases[] = {
      {0, "02 01 00"},          {127, "02 01 7F"},          {128, "02 02 00 80"},
      {256, "02 02 01 00"},     {-1, "02 01 FF"},           {-128, "02 01 80"},
      {-129, "02 02 FF 7F"},    {-256, "02 02 FF 00"},      {32768, "02 03 00 80 00"},
      {INT_MIN, "02 04 80 00 00 00"}, {INT_MAX, "02 04 7F FF FF FF"},
  };
  for (const auto& c : cases) {
    Encoder enc;
    int n = berEncodeInteger(enc.ctx(), &c.value, 1);
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.expected))) << c.value;
    EXPECT_EQ(n, static_cast<int>(enc.message().size())) << c.value;

    Encoder enumerated;
    berEncodeEnumerated(enumerated.ctx(), &c.value, 1);
    Bytes expected = hex(c.expected);
    expected[0] = 0x0A;
    EXPECT_EQ(toHex(enumerated.message()), toHex(expected)) << c.value;
  }
}

TEST(BerEncode, TaggingZeroWritesContentsOnly) {
  Encoder enc;
  int32_t value = 128;
  EXPECT_EQ(berEncodeInteger(enc.ctx(), &value, 0), 2);
  EXPECT_EQ(toHex(enc.message()), "00 80");
  // Any value other than 1 behaves like 0.
  EXPECT_EQ(berEncodeInteger(enc.ctx(), &value, 7), 2);
  EXPECT_EQ(toHex(enc.message()), "00 80 00 80");
}

TEST(BerEncode, UnsignedGetsLeadingZeroForTopBit) {
  const struct {
    uint32_t value;
    const char* expected;
  } cases[] = {
      {0, "02 01 00"},
      {127, "02 01 7F"},
      {128, "02 02 00 80"},
      {0x7FFFFFFF, "02 04 7F FF FF FF"},
      {0x80000000, "02 05 00 80 00 00 00"},
      {0xFFFFFFFF, "02 05 00 FF FF FF FF"},
  };
  for (const auto& c : cases) {
    Encoder enc;
    berEncodeUnsigned(enc.ctx(), &c.value, 1);
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.expected))) << c.value;
  }
}

TEST(BerEncode, LengthForms) {
  const struct {
    int length;
    const char* expected;
  } cases[] = {
      {0, "00"},          {127, "7F"},           {128, "81 80"},          {200, "81 C8"},
      {255, "81 FF"},     {256, "82 01 00"},     {300, "82 01 2C"},       {65535, "82 FF FF"},
      {65536, "83 01 00 00"}, {INT_MAX, "84 7F FF FF FF"}, {BER_INDEFINITE, "80"}, {-5, ""},
  };
  for (const auto& c : cases) {
    Encoder enc;
    int n = berEncodeLength(enc.ctx(), c.length);
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.expected))) << c.length;
    EXPECT_EQ(n, static_cast<int>(hex(c.expected).size())) << c.length;
  }
}

TEST(BerEncode, TagsInAllClassesAndForms) {
  const struct {
    unsigned number;
    const char* following;  // octets after the first one
  } numbers[] = {{0, ""}, {30, ""}, {31, "1F"}, {127, "7F"}, {128, "81 00"}, {200, "81 48"}, {8191, "BF 7F"}};
  for (BerTag cls : {BER_CLASS_UNIVERSAL, BER_CLASS_APPLICATION, BER_CLASS_CONTEXT, BER_CLASS_PRIVATE}) {
    for (BerTag form : {BerTag{0}, BER_CONSTRUCTED}) {
      for (const auto& n : numbers) {
        auto tag = static_cast<BerTag>(cls | form | n.number);
        uint8_t first = static_cast<uint8_t>((cls | form) >> 8) | (n.number < 31 ? n.number : 0x1F);
        Bytes expected{first};
        Bytes rest = hex(n.following);
        expected.insert(expected.end(), rest.begin(), rest.end());
        Encoder enc;
        EXPECT_EQ(berEncodeTag(enc.ctx(), tag), static_cast<int>(expected.size()));
        EXPECT_EQ(toHex(enc.message()), toHex(expected)) << std::hex << tag;
      }
    }
  }
}

TEST(BerEncode, TagLengthAddsHeaderInFront) {
  Encoder enc;
  uint8_t contents[200] = {};
  ASSERT_EQ(berEncodeOctetString(enc.ctx(), contents, 200, 0), 200);
  EXPECT_EQ(berEncodeTagLength(enc.ctx(), BER_TAG_OCTET_STRING, 200), 203);
  EXPECT_EQ(toHex(enc.message()).substr(0, 8), "04 81 C8");

  Encoder indefinite;
  EXPECT_EQ(berEncodeTagLength(indefinite.ctx(), BER_TAG_SEQUENCE, BER_INDEFINITE), 2);
  EXPECT_EQ(toHex(indefinite.message()), "30 80");

  Encoder high;
  EXPECT_EQ(berEncodeTagLength(high.ctx(), BER_CLASS_CONTEXT | 200, BER_INDEFINITE), 4);
  EXPECT_EQ(toHex(high.message()), "9F 81 48 80");

  // A failed contents status passes through and nothing is written.
  Encoder failed;
  EXPECT_EQ(berEncodeTagLength(failed.ctx(), BER_TAG_SEQUENCE, BER_ENCODE_OVERFLOW), BER_ENCODE_OVERFLOW);
  EXPECT_TRUE(failed.message().empty());
}

// Contents of 200 bytes in a fixed buffer with 2 bytes left: the length needs
// 2 octets and the identifier 1. The header must fail as a whole instead of
// leaving a message without its length octets.
TEST(BerEncode, TagLengthFailsWholeWhenLengthDoesNotFit) {
  Encoder enc(203);
  uint8_t contents[200] = {};
  ASSERT_EQ(berEncodeOctetString(enc.ctx(), contents, 200, 0), 200);
  ASSERT_EQ(enc.ctx()->position, 2u);
  EXPECT_EQ(berEncodeTagLength(enc.ctx(), BER_TAG_OCTET_STRING, 200), BER_ENCODE_OVERFLOW);
  EXPECT_EQ(enc.ctx()->position, 2u);
}

TEST(BerEncode, BooleanNullAndStrings) {
  for (uint8_t v : {0, 1, 0x42, 0xFF}) {
    Encoder enc;
    EXPECT_EQ(berEncodeBoolean(enc.ctx(), &v, 1), 3);
    EXPECT_EQ(toHex(enc.message()), v ? "01 01 FF" : "01 01 00");
  }
  Encoder null0;
  EXPECT_EQ(berEncodeNull(null0.ctx(), 0), 0);
  EXPECT_TRUE(null0.message().empty());
  Encoder null1;
  EXPECT_EQ(berEncodeNull(null1.ctx(), 1), 2);
  EXPECT_EQ(toHex(null1.message()), "05 00");

  Encoder octets;
  const uint8_t data[] = {0x01, 0x02, 0x03};
  EXPECT_EQ(berEncodeOctetString(octets.ctx(), data, 3, 1), 5);
  EXPECT_EQ(toHex(octets.message()), "04 03 01 02 03");

  Encoder chars;
  EXPECT_EQ(berEncodeCharString(chars.ctx(), "abc", 1, BER_TAG_IA5_STRING), 5);
  EXPECT_EQ(toHex(chars.message()), "16 03 61 62 63");
  Encoder empty;
  EXPECT_EQ(berEncodeCharString(empty.ctx(), "", 1, BER_CLASS_CONTEXT | 1), 2);
  EXPECT_EQ(toHex(empty.message()), "81 00");

  Encoder bmp;
  const uint16_t text[] = {0x0041, 0x20AC};
  EXPECT_EQ(berEncodeBMPString(bmp.ctx(), 2, text, 1, BER_TAG_BMP_STRING), 6);
  EXPECT_EQ(toHex(bmp.message()), "1E 04 00 41 20 AC");
}

TEST(BerEncode, StringFailuresAreRecordedWithTheirLine) {
  Encoder chars(4);  // room for 3 bytes
  EXPECT_EQ(berEncodeCharString(chars.ctx(), "abcd", 0, BER_TAG_IA5_STRING), BER_ENCODE_OVERFLOW);
  EXPECT_EQ(chars.ctx()->errorInfo.status, BER_ENCODE_OVERFLOW);
  ASSERT_EQ(chars.ctx()->errorInfo.stackCount, 1);
  EXPECT_STREQ(chars.ctx()->errorInfo.stack[0].module, "../rtsrc/asn1ber");
  EXPECT_EQ(chars.ctx()->errorInfo.stack[0].line, 514);

  Encoder bmp(4);
  const uint16_t text[] = {1, 2};
  EXPECT_EQ(berEncodeBMPString(bmp.ctx(), 2, text, 1, BER_TAG_BMP_STRING), BER_ENCODE_OVERFLOW);
  EXPECT_EQ(bmp.ctx()->errorInfo.stack[0].line, 533);
  EXPECT_EQ(bmp.ctx()->position, 3u);  // nothing of the failed element stays
}

TEST(BerEncode, BitString) {
  const struct {
    Bytes data;
    uint32_t bits;
    const char* expected;
  } cases[] = {
      {{}, 0, "03 01 00"},
      {{0x80}, 1, "03 02 07 80"},
      {{0xA5}, 8, "03 02 00 A5"},
      {{0xFF, 0x80}, 9, "03 03 07 FF 80"},
      {{0x12, 0x34}, 16, "03 03 00 12 34"},
  };
  for (const auto& c : cases) {
    Encoder enc;
    int n = berEncodeBitString(enc.ctx(), c.data.data(), c.bits, 1);
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.expected))) << c.bits;
    EXPECT_EQ(n, static_cast<int>(hex(c.expected).size()));
  }
}

TEST(BerEncode, ObjectIdentifiers) {
  const struct {
    std::vector<uint32_t> arcs;
    const char* expected;
  } valid[] = {
      {{1, 2, 840, 113549}, "06 06 2A 86 48 86 F7 0D"},
      {{2, 100, 3}, "06 03 81 34 03"},
      {{0, 39}, "06 01 27"},
      {{1, 0}, "06 01 28"},
      {{2, 5, 4, 3}, "06 03 55 04 03"},
      {{1, 3, 0xFFFFFFFF}, "06 06 2B 8F FF FF FF 7F"},
      // arc0 * 40 + arc1 above 32 bits must not wrap.
      {{2, 0xFFFFFFFF}, "06 05 90 80 80 80 4F"},
  };
  for (const auto& c : valid) {
    Encoder enc;
    int n = berEncodeObjectId(enc.ctx(), static_cast<uint32_t>(c.arcs.size()), c.arcs.data(), 1);
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.expected)));
    EXPECT_EQ(n, static_cast<int>(hex(c.expected).size()));
  }
  const std::vector<uint32_t> invalid[] = {{}, {1}, {3, 1}, {0, 40}, {1, 40}, {7, 7, 7}};
  for (const auto& arcs : invalid) {
    Encoder enc;
    EXPECT_EQ(berEncodeObjectId(enc.ctx(), static_cast<uint32_t>(arcs.size()), arcs.data(), 1), BER_INVALID_OID);
    EXPECT_TRUE(enc.message().empty());
  }
}

TEST(BerEncode, RealBinaryBaseTwo) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {
      {1.0, "09 03 80 F9 80"},
      {-1.0, "09 03 C0 F9 80"},
      {0.5, "09 03 80 F8 80"},
      {3.0, "09 03 80 FA C0"},
      {HUGE_VAL, "09 01 40"},
      {-HUGE_VAL, "09 01 41"},
      {0.0, "09 00"},
      {-0.0, "09 00"},
      {DBL_MIN, "09 04 81 FB FB 80"},
      {std::ldexp(1.0, -1074), "09 04 81 FB C7 80"},
      {DBL_MAX, "09 0A 81 03 C8 FF FF FF FF FF FF F8"},
      // NaN is X.690's NOT-A-NUMBER, never a zero.
      {std::nan(""), "09 01 42"},
  };
  for (const auto& c : cases) {
    Encoder enc;
    int n = berEncodeReal(enc.ctx(), &c.value, 1);
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.expected))) << c.value;
    EXPECT_EQ(n, static_cast<int>(hex(c.expected).size()));
  }
}

TEST(BerEncode, HexBigInteger) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"0x1", "02 01 01"},
      {"0xABC", "02 02 0A BC"},
      {"0xabcdef", "02 03 AB CD EF"},
      {"0x", "02 00"},         // an empty INTEGER, as written
      {"0x80", "02 01 80"},    // no sign octet: reads as -128
      {"0x00ff", "02 02 00 FF"},
  };
  for (const auto& c : cases) {
    Encoder enc;
    int n = berEncodeBigInteger(enc.ctx(), c.text, 1);
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.expected))) << c.text;
    EXPECT_EQ(n, static_cast<int>(hex(c.expected).size()));
  }
  const struct {
    const char* text;
    int line;
  } invalid[] = {{"1234", 353}, {"0X12", 353}, {"0xG1", 371}, {"0x1G", 366}, {"0xG", 366}, {"0x1G345", 371}};
  for (const auto& c : invalid) {
    Encoder enc;
    EXPECT_EQ(berEncodeBigInteger(enc.ctx(), c.text, 1), BER_INVALID_HEX) << c.text;
    EXPECT_TRUE(enc.message().empty()) << c.text;
    ASSERT_EQ(enc.ctx()->errorInfo.stackCount, 1);
    EXPECT_EQ(enc.ctx()->errorInfo.stack[0].line, c.line) << c.text;
    EXPECT_EQ(enc.ctx()->errorInfo.status, BER_INVALID_HEX);
  }
  Encoder full(3);  // room for two bytes
  EXPECT_EQ(berEncodeBigInteger(full.ctx(), "0x010203", 0), BER_ENCODE_OVERFLOW);
  EXPECT_EQ(full.ctx()->errorInfo.stack[0].line, 360);
  EXPECT_EQ(full.ctx()->position, 2u);
}

TEST(BerEncode, OpenType) {
  Encoder enc;
  const Bytes element = hex("02 01 05");
  EXPECT_EQ(berEncodeOpenType(enc.ctx(), element.data(), 3), 3);
  EXPECT_EQ(toHex(enc.message()), "02 01 05");

  // The element's own length counts, not the size around it.
  Encoder indefinite;
  const Bytes withTail = hex("30 80 02 01 05 00 00 FF FF");
  EXPECT_EQ(berEncodeOpenType(indefinite.ctx(), withTail.data(), 9), 7);
  EXPECT_EQ(toHex(indefinite.message()), "30 80 02 01 05 00 00");

  // An element standing at the position is not copied again.
  Encoder inPlace;
  int32_t five = 5;
  ASSERT_EQ(berEncodeInteger(inPlace.ctx(), &five, 1), 3);
  const uint8_t* at = inPlace.ctx()->buffer + inPlace.ctx()->position;
  EXPECT_EQ(berEncodeOpenType(inPlace.ctx(), at, 3), 3);
  EXPECT_EQ(toHex(inPlace.message()), "02 01 05");

  Encoder bad;
  const Bytes truncated = hex("04 05 01 02");
  EXPECT_EQ(berEncodeOpenType(bad.ctx(), truncated.data(), 4), BER_INVALID_LENGTH);
  const Bytes open = hex("30 80 02 01 05");
  EXPECT_EQ(berEncodeOpenType(bad.ctx(), open.data(), 5), BER_END_OF_BUFFER);
  EXPECT_EQ(berEncodeOpenType(bad.ctx(), nullptr, 5), 0);
  EXPECT_EQ(berEncodeOpenType(bad.ctx(), element.data(), 0), 0);
  EXPECT_TRUE(bad.message().empty());
}

TEST(BerEncode, IndefiniteTag) {
  Encoder enc;
  int32_t five = 5;
  int n = berEncodeTagLength(enc.ctx(), BER_TAG_EOC, 0);
  n += berEncodeInteger(enc.ctx(), &five, 1);
  EXPECT_EQ(berEncodeIndefiniteTag(enc.ctx(), BER_TAG_SEQUENCE, n), 7);
  EXPECT_EQ(toHex(enc.message()), "30 80 02 01 05 00 00");

  Encoder none;
  EXPECT_EQ(berEncodeIndefiniteTag(none.ctx(), BER_TAG_SEQUENCE, 0), 0);
  // A failure of the contents is passed on, not turned into success.
  EXPECT_EQ(berEncodeIndefiniteTag(none.ctx(), BER_TAG_SEQUENCE, BER_ENCODE_OVERFLOW), BER_ENCODE_OVERFLOW);
  EXPECT_TRUE(none.message().empty());
}

TEST(BerEncode, SortSetOf) {
  const struct {
    std::vector<const char*> elements;  // in message order
    const char* sorted;
  } cases[] = {
      {{"02 01 03", "02 01 01", "02 01 02"}, "02 01 01 02 01 02 02 01 03"},
      {{"02 01 01", "02 01 02"}, "02 01 01 02 01 02"},
      // Equal over the shorter length: the longer goes last.
      {{"04 02 AA BB", "04 01 AA"}, "04 01 AA 04 02 AA BB"},
      {{"04 01 AA 00", "04 01 AA"}, "04 01 AA 04 01 AA 00"},
      {{}, ""},
  };
  for (const auto& c : cases) {
    Encoder enc;
    for (auto it = c.elements.rbegin(); it != c.elements.rend(); ++it) {
      Bytes e = hex(*it);
      ASSERT_GT(berWrite(enc.ctx(), e.data(), static_cast<uint32_t>(e.size())), 0);
    }
    BerList list;
    berListInit(&list);
    const uint8_t* at = enc.ctx()->buffer + enc.ctx()->position;
    for (const char* e : c.elements) {
      uint32_t n = static_cast<uint32_t>(hex(e).size());
      ASSERT_EQ(berSetOfAppend(&list, at, n), BER_OK);
      at += n;
    }
    EXPECT_EQ(berSortSetOf(enc.ctx(), &list), static_cast<int>(hex(c.sorted).size()));
    EXPECT_EQ(toHex(enc.message()), toHex(hex(c.sorted)));
    EXPECT_EQ(list.count, 0u);  // the list is consumed either way
    EXPECT_EQ(list.head, nullptr);
  }
}

TEST(BerEncode, SortSetOfRefusesElementsOutsideTheMessage) {
  Encoder enc;
  BerList list;
  berListInit(&list);
  const uint8_t outside[] = {2, 1, 1};
  ASSERT_EQ(berSetOfAppend(&list, outside, 3), BER_OK);
  EXPECT_EQ(berSortSetOf(enc.ctx(), &list), BER_INVALID_LENGTH);
  EXPECT_EQ(list.head, nullptr);
}

// The card layer's use: an 80-byte caller buffer holds messages of 79 bytes.
TEST(BerEncodeLimits, FixedBufferOfEightyBytes) {
  const struct {
    uint32_t contents;
    int result;
    const char* start;
  } cases[] = {{64, 66, "80 40"}, {77, 79, "80 4D"}, {78, BER_ENCODE_OVERFLOW, nullptr}, {0, 2, "80 00"}};
  for (const auto& c : cases) {
    Encoder enc(80);
    Bytes data(c.contents);
    for (uint32_t i = 0; i < c.contents; ++i) data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(berEncodeOctetString(enc.ctx(), data.data(), c.contents, 0), static_cast<int>(c.contents));
    uint32_t before = enc.ctx()->position;
    EXPECT_EQ(berEncodeTagLength(enc.ctx(), BER_CLASS_CONTEXT, static_cast<int>(c.contents)), c.result);
    if (c.start == nullptr) {
      EXPECT_EQ(enc.ctx()->position, before);
      continue;
    }
    Bytes message = enc.message();
    ASSERT_EQ(message.size(), static_cast<size_t>(c.result));
    EXPECT_EQ(toHex(Bytes(message.begin(), message.begin() + 2)), c.start);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), message.begin() + 2));
  }
  Encoder tooBig(80);
  Bytes data(80);
  EXPECT_EQ(berEncodeOctetString(tooBig.ctx(), data.data(), 80, 0), BER_ENCODE_OVERFLOW);
  EXPECT_EQ(tooBig.ctx()->position, 79u);
}

TEST(BerEncodeLimits, DynamicBufferGrowsTo65536AndNoFurther) {
  Encoder enc;
  ASSERT_EQ(enc.ctx()->size, 16384u);
  ASSERT_EQ(enc.ctx()->dynamic, 1);
  Bytes chunk(16383);
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i);
  const uint32_t sizes[] = {16384, 32768, 49152, 65536};
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(berWrite(enc.ctx(), chunk.data(), 16383), 16383) << i;
    EXPECT_EQ(enc.ctx()->size, sizes[i]) << i;
  }
  // 65532 bytes in a 65536 buffer: 3 more fit, the fourth would need growth.
  ASSERT_EQ(enc.ctx()->position, 3u);
  uint8_t three[3] = {0xAA, 0xBB, 0xCC};
  ASSERT_EQ(berWrite(enc.ctx(), three, 3), 3);
  uint8_t one = 0xDD;
  EXPECT_EQ(berWrite(enc.ctx(), &one, 1), BER_ENCODE_OVERFLOW);
  EXPECT_EQ(enc.ctx()->size, 65536u);
  Bytes message = enc.message();
  ASSERT_EQ(message.size(), 65535u);
  EXPECT_EQ(toHex(Bytes(message.begin(), message.begin() + 4)), "AA BB CC 00");
  EXPECT_EQ(message.back(), chunk.back());  // the content kept its place at the end
}

TEST(BerEncodeLimits, GrowthIsAtLeastWhatIsNeeded) {
  Encoder enc;
  Bytes big(40000, 0x11);
  ASSERT_EQ(berWrite(enc.ctx(), big.data(), 40000), 40000);
  EXPECT_EQ(enc.ctx()->size, 16384u + 40000u);
  EXPECT_EQ(berExpandBuffer(enc.ctx(), 20000), BER_ENCODE_OVERFLOW);

  Encoder fixed(100);
  EXPECT_EQ(berExpandBuffer(fixed.ctx(), 1), BER_ENCODE_OVERFLOW);
}

TEST(BerContextErrors, FirstStatusStaysAndEightEntriesAreKept) {
  BerContext ctx;
  ASSERT_EQ(berInitContext(&ctx, nullptr, 0), BER_OK);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(berSetError(&ctx, -(i + 1), BER_MODULE, 100 + i), -(i + 1));
  }
  EXPECT_EQ(ctx.errorInfo.status, -1);
  ASSERT_EQ(ctx.errorInfo.stackCount, 8);
  EXPECT_EQ(ctx.errorInfo.stack[7].line, 107);
  {
    std::string temporary = "gone";
    berErrorAddText(&ctx, temporary.c_str());
  }
  berErrorAddInt(&ctx, -7);
  berErrorAddUnsigned(&ctx, 4000000000u);
  berErrorAddTag(&ctx, 0x2010);
  berErrorAddText(&ctx, "five");
  berErrorAddText(&ctx, "six is ignored");
  ASSERT_EQ(ctx.errorInfo.parameterCount, 5);
  EXPECT_STREQ(ctx.errorInfo.parameters[0], "gone");
  EXPECT_STREQ(ctx.errorInfo.parameters[1], "-7");
  EXPECT_STREQ(ctx.errorInfo.parameters[2], "4000000000");
  EXPECT_STREQ(ctx.errorInfo.parameters[3], "2010");
  EXPECT_STREQ(ctx.errorInfo.parameters[4], "five");
  berFreeContext(&ctx);  // frees the parameters (the leak checker watches)
}

TEST(BerContext, InitAndNewContext) {
  uint8_t buffer[10];
  BerContext ctx;
  ASSERT_EQ(berInitContext(&ctx, buffer, sizeof(buffer)), BER_OK);
  EXPECT_EQ(ctx.buffer, buffer);
  EXPECT_EQ(ctx.size, 10u);
  EXPECT_EQ(ctx.dynamic, 0);
  berFreeContext(&ctx);

  // A buffer without a size counts as missing.
  ASSERT_EQ(berInitContext(&ctx, buffer, 0), BER_OK);
  EXPECT_NE(ctx.buffer, buffer);
  EXPECT_EQ(ctx.size, 16384u);
  EXPECT_EQ(ctx.dynamic, 1);
  berFreeContext(&ctx);

  BerContext* made = berNewContext(nullptr, 0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->flags & BER_FLAG_CONTEXT_ALLOCATED, BER_FLAG_CONTEXT_ALLOCATED);
  berFreeContext(made);  // frees the context itself too
}

TEST(BerContext, HeapServesSmallRequestsFromBlocks) {
  BerContext ctx;
  ASSERT_EQ(berInitContext(&ctx, nullptr, 0), BER_OK);
  auto* a = static_cast<uint8_t*>(berHeapAlloc(&ctx, 1));
  auto* b = static_cast<uint8_t*>(berHeapAlloc(&ctx, 10));
  auto* c = static_cast<uint8_t*>(berHeapAlloc(&ctx, 8));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(b - a, 8);   // rounded up to 8
  EXPECT_EQ(c - b, 16);
  auto* big = static_cast<uint8_t*>(berHeapAlloc(&ctx, 5000));
  ASSERT_NE(big, nullptr);
  std::memset(big, 0x5A, 5000);
  auto* d = static_cast<uint8_t*>(berHeapAlloc(&ctx, 8));
  EXPECT_EQ(d - c, 8);  // the large block did not take the room of the small one
  // A block holds 4088 bytes: 40 are used, the rest fills it, the next request opens a new block.
  auto* rest = static_cast<uint8_t*>(berHeapAlloc(&ctx, 4088 - 40));
  EXPECT_EQ(rest - d, 8);
  auto* next = static_cast<uint8_t*>(berHeapAlloc(&ctx, 8));
  ASSERT_NE(next, nullptr);
  EXPECT_TRUE(next < a || next >= a + 4096);
  EXPECT_EQ(berHeapAlloc(&ctx, SIZE_MAX - 4), nullptr);
  berFreeContext(&ctx);
}

}  // namespace
