// Decoder: headers, hostile input, typed values and walking.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "ber_test_util.h"

using bertest::Bytes;
using bertest::Decoder;
using bertest::hex;
using bertest::toHex;

namespace {

TEST(BerDecodeInit, OuterElement) {
  const struct {
    const char* bytes;
    int status;
    BerTag tag;
    int length;  // total for a definite element
  } cases[] = {
      {"30 03 02 01 05", BER_OK, 0x2010, 5},
      {"02 01 05 FF FF", BER_OK, 0x0002, 3},  // bytes after the element are not part of it
      {"30 80 02 01 05 00 00", BER_OK, 0x2010, BER_INDEFINITE},
      {"BF 81 48 00", BER_OK, 0xA000 | 200, 4},
      {"30 05 02 01 05", BER_INVALID_LENGTH, 0, 0},  // longer than the bytes given
      {"", BER_END_OF_BUFFER, 0, 0},
      {"30", BER_END_OF_BUFFER, 0, 0},
      {"00 00", BER_INVALID_LENGTH, 0, 0},  // an end-of-contents ends nothing here
      {"04 80 00 00", BER_INVALID_LENGTH, 0, 0},  // primitive with indefinite length
  };
  for (const auto& c : cases) {
    Decoder dec(hex(c.bytes));
    EXPECT_EQ(dec.initStatus(), c.status) << c.bytes;
    if (c.status != BER_OK) {
      // Nothing of a failed message can be read afterwards.
      EXPECT_EQ(berDecodeTagLength(dec.ctx(), nullptr, nullptr, BER_MATCH_ADVANCE), BER_END_OF_BUFFER);
      continue;
    }
    EXPECT_EQ(dec.tag(), c.tag) << c.bytes;
    EXPECT_EQ(dec.length(), c.length) << c.bytes;
    EXPECT_EQ(dec.ctx()->position, 0u);
    EXPECT_EQ(dec.ctx()->depth, 0);
  }
}

TEST(BerDecodeInit, IndefiniteMessageEndsAtItsEndOfContents) {
  Decoder dec(hex("30 80 02 01 05 00 00 02 01 06"));
  ASSERT_EQ(dec.initStatus(), BER_OK);
  EXPECT_TRUE(dec.ctx()->flags & BER_FLAG_INDEFINITE_MESSAGE);
  EXPECT_EQ(dec.ctx()->size, 10u);  // the real size stays the bound
  BerTag tag;
  int length;
  ASSERT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(dec.ctx()->depth, 1);
  int32_t value = 0;
  ASSERT_EQ(berDecodeInteger(dec.ctx(), &value, 1, 0), BER_OK);
  EXPECT_EQ(value, 5);
  ASSERT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(tag, 0);
  EXPECT_EQ(dec.ctx()->depth, 0);
  EXPECT_TRUE(dec.ctx()->flags & BER_FLAG_MESSAGE_ENDED);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_END_OF_BUFFER);
  }
  EXPECT_EQ(berDecodeInteger(dec.ctx(), &value, 1, 0), BER_UNEXPECTED_TAG);  // nothing left to match
}

// Headers that must fail with a status instead of reading past the bytes,
// wrapping a length or an accumulator.
TEST(BerDecodeHostile, Headers) {
  const struct {
    const char* bytes;
    int status;  // of the second header read (the first is the outer one)
  } cases[] = {
      {"30 80 04 84 7F FF FF FF", BER_INVALID_LENGTH},     // far beyond the bytes
      {"30 80 04 85 00 00 00 00 01 00", BER_INVALID_LENGTH},  // 5 length octets
      {"30 80 04 FF 00 00", BER_INVALID_LENGTH},            // reserved length octet
      {"30 80 04 84 80 00 00 00 00 00", BER_INVALID_LENGTH},  // above INT_MAX
      {"30 80 04 82 01", BER_END_OF_BUFFER},                // length octets cut off
      {"30 80 1F C0 00 00", BER_INVALID_TAG},               // tag number 8192
      {"30 80 1F FF FF FF FF FF FF FF FF 7F 00", BER_INVALID_TAG},
      {"30 80 1F 80 01 00", BER_INVALID_TAG},               // padded tag number
      {"30 80 1F", BER_END_OF_BUFFER},
      {"30 80 1F 81", BER_END_OF_BUFFER},
      {"30 80 04 80 00 00 00 00", BER_INVALID_LENGTH},      // primitive, indefinite
      {"30 04 00 00 00 00", BER_INVALID_LENGTH},            // end-of-contents at depth 0
      {"30 05 04 04 01 02 03", BER_INVALID_LENGTH},
  };
  for (const auto& c : cases) {
    Bytes bytes = hex(c.bytes);
    Decoder dec(bytes);
    if (dec.initStatus() != BER_OK) {
      // The outer length itself already exceeds the bytes.
      EXPECT_EQ(dec.initStatus(), BER_INVALID_LENGTH) << c.bytes;
      continue;
    }
    BerTag tag;
    int length;
    ASSERT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_OK) << c.bytes;
    uint32_t before = dec.ctx()->position;
    EXPECT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, BER_MATCH_ADVANCE), c.status) << c.bytes;
    EXPECT_EQ(dec.ctx()->position, before) << c.bytes;
    // Every walker over the same bytes fails as cleanly.
    EXPECT_LT(berCheckLengths(bytes.data(), static_cast<uint32_t>(bytes.size())), 0) << c.bytes;
  }
  Decoder highest(hex("30 80 1F BF 7F 00 00 00"));
  BerTag tag;
  int length;
  ASSERT_EQ(berDecodeTagLength(highest.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_OK);
  ASSERT_EQ(berDecodeTagLength(highest.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(tag, 8191);
}

// An indefinite outer length does not lift the bound of the bytes given.
TEST(BerDecodeHostile, IndefiniteMessagesStayBounded) {
  Decoder dec(hex("30 80 04 84 7F FF FF FF 00 00"));
  BerTag tag;
  int length;
  ASSERT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_OK);
  uint8_t bytes[16];
  EXPECT_EQ(berRead(dec.ctx(), bytes, 9), BER_END_OF_BUFFER);
  EXPECT_EQ(dec.ctx()->position, 2u);
  const uint8_t* data = nullptr;
  uint32_t count = 0;
  EXPECT_EQ(berDecodeOctetStringAlloc(dec.ctx(), &data, &count, 1, 0), BER_INVALID_LENGTH);
  EXPECT_EQ(dec.ctx()->heap, nullptr);  // nothing was allocated for the claimed length
  const char* text = nullptr;
  EXPECT_EQ(berDecodeCharString(dec.ctx(), &text, 1, BER_TAG_OCTET_STRING, 0), BER_INVALID_LENGTH);
  EXPECT_EQ(berDecodeOctetStringAlloc(dec.ctx(), &data, &count, 0, 0x7FFFFFFF), BER_END_OF_BUFFER);
  EXPECT_EQ(berSkipElement(dec.ctx()), BER_INVALID_LENGTH);
  EXPECT_EQ(dec.ctx()->heap, nullptr);
}

TEST(BerDecodeHostile, TagLengthOnlyLooksWithoutAdvance) {
  Decoder dec(hex("30 80 30 80 00 00 00 00"));
  BerTag tag;
  int length;
  ASSERT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, 0), BER_OK);
  EXPECT_EQ(dec.ctx()->position, 0u);
  EXPECT_EQ(dec.ctx()->depth, 0);
  EXPECT_EQ(length, BER_INDEFINITE);
}

// One typed decode over a whole message: the value is read from the outer element.
struct TypedCase {
  const char* bytes;
  int status;
  std::string value;  // expected value as text, when status is 0
};

void runTyped(const char* name, const std::vector<TypedCase>& cases,
              const std::function<int(BerContext*, std::string&)>& decode) {
  for (const auto& c : cases) {
    Decoder dec(hex(c.bytes));
    ASSERT_EQ(dec.initStatus(), BER_OK) << name << " " << c.bytes;
    std::string value;
    EXPECT_EQ(decode(dec.ctx(), value), c.status) << name << " " << c.bytes;
    if (c.status == BER_OK) {
      EXPECT_EQ(value, c.value) << name << " " << c.bytes;
    }
  }
}

TEST(BerDecodeTyped, BooleanIntegerEnumeratedUnsigned) {
  runTyped("boolean",
           {{"01 01 FF", BER_OK, "255"},
            {"01 01 00", BER_OK, "0"},
            {"01 00", BER_INVALID_LENGTH, ""},
            {"01 02 FF FF", BER_INVALID_LENGTH, ""},
            {"02 01 01", BER_UNEXPECTED_TAG, ""}},
           [](BerContext* ctx, std::string& out) {
             uint8_t v = 0x5A;
             int s = berDecodeBoolean(ctx, &v, 1, 0);
             out = std::to_string(v);
             return s;
           });
  runTyped("integer",
           {{"02 01 00", BER_OK, "0"},
            {"02 01 7F", BER_OK, "127"},
            {"02 02 00 80", BER_OK, "128"},
            {"02 01 FF", BER_OK, "-1"},
            {"02 02 FF 7F", BER_OK, "-129"},
            {"02 04 80 00 00 00", BER_OK, "-2147483648"},
            {"02 04 7F FF FF FF", BER_OK, "2147483647"},
            {"02 00", BER_INVALID_LENGTH, ""},
            {"02 05 00 80 00 00 00", BER_INVALID_LENGTH, ""},
            {"02 08 FF FF FF FF FF FF FF FF", BER_INVALID_LENGTH, ""},
            {"0A 01 05", BER_UNEXPECTED_TAG, ""}},
           [](BerContext* ctx, std::string& out) {
             int32_t v = 0;
             int s = berDecodeInteger(ctx, &v, 1, 0);
             out = std::to_string(v);
             return s;
           });
  runTyped("enumerated",
           {{"0A 01 05", BER_OK, "5"}, {"0A 01 80", BER_OK, "-128"}, {"02 01 05", BER_UNEXPECTED_TAG, ""}},
           [](BerContext* ctx, std::string& out) {
             int32_t v = 0;
             int s = berDecodeEnumerated(ctx, &v, 1, 0);
             out = std::to_string(v);
             return s;
           });
  runTyped("unsigned",
           {{"02 01 FF", BER_OK, "255"},
            {"02 05 00 FF FF FF FF", BER_OK, "4294967295"},
            {"02 05 00 80 00 00 00", BER_OK, "2147483648"},
            {"02 05 01 00 00 00 00", BER_INVALID_LENGTH, ""},
            {"02 06 00 00 00 00 00 01", BER_INVALID_LENGTH, ""},
            {"02 00", BER_INVALID_LENGTH, ""}},
           [](BerContext* ctx, std::string& out) {
             uint32_t v = 0;
             int s = berDecodeUnsigned(ctx, &v, 1, 0);
             out = std::to_string(v);
             return s;
           });
  runTyped("big integer",
           {{"02 03 00 AB CD", BER_OK, "0x00abcd"}, {"02 00", BER_OK, "0x"}, {"02 01 80", BER_OK, "0x80"}},
           [](BerContext* ctx, std::string& out) {
             const char* v = nullptr;
             int s = berDecodeBigInteger(ctx, &v, 1, 0);
             out = v != nullptr ? v : "";
             return s;
           });
}

TEST(BerDecodeTyped, BigIntegerBeyondTheMessageIsRecorded) {
  Decoder dec(hex("80 02 01 02"));
  int length = 0;
  ASSERT_EQ(berMatchTag(dec.ctx(), BER_CLASS_CONTEXT, &length, BER_MATCH_ADVANCE), BER_OK);
  const char* text = nullptr;
  EXPECT_EQ(berDecodeBigInteger(dec.ctx(), &text, 0, 3), BER_END_OF_BUFFER);
  ASSERT_EQ(dec.ctx()->errorInfo.stackCount, 1);
  EXPECT_EQ(dec.ctx()->errorInfo.stack[0].line, 1900);
  EXPECT_EQ(berDecodeBigInteger(dec.ctx(), &text, 0, 2), BER_OK);
  EXPECT_STREQ(text, "0x0102");
}

TEST(BerDecodeTyped, BitAndOctetStrings) {
  runTyped("bit string",
           {{"03 00", BER_OK, "0:"},
            {"03 01 00", BER_OK, "0:"},
            {"03 02 07 80", BER_OK, "1:80"},
            {"03 03 07 FF 80", BER_OK, "9:FF 80"},
            {"03 03 00 FF FF", BER_OK, "16:FF FF"},
            {"03 01 05", BER_INVALID_LENGTH, ""},      // unused bits without data
            {"03 02 08 FF", BER_INVALID_LENGTH, ""},   // more than 7 unused bits
            {"03 04 00 01 02 03", BER_TOO_MANY_ITEMS, ""}},  // 24 bits into 16
           [](BerContext* ctx, std::string& out) {
             uint8_t buffer[2] = {0, 0};
             uint32_t bits = 16;
             int s = berDecodeBitString(ctx, buffer, &bits, 1, 0);
             out = std::to_string(bits) + ":" + toHex(buffer, (bits + 7) / 8);
             return s;
           });
  runTyped("bit string alloc",
           {{"03 00", BER_OK, "0:null"},
            {"03 01 00", BER_OK, "0:null"},
            {"03 03 07 FF 80", BER_OK, "9:FF 80"},
            {"03 01 01", BER_INVALID_LENGTH, ""},
            {"03 02 09 00", BER_INVALID_LENGTH, ""}},
           [](BerContext* ctx, std::string& out) {
             const uint8_t* data = nullptr;
             uint32_t bits = 99;
             int s = berDecodeBitStringAlloc(ctx, &data, &bits, 1, 0);
             out = std::to_string(bits) + ":" + (data ? toHex(data, (bits + 7) / 8) : "null");
             return s;
           });
  runTyped("octet string",
           {{"04 00", BER_OK, ""},
            {"04 03 01 02 03", BER_OK, "01 02 03"},
            {"04 04 01 02 03 04", BER_TOO_MANY_ITEMS, ""},
            {"03 01 00", BER_UNEXPECTED_TAG, ""}},
           [](BerContext* ctx, std::string& out) {
             uint8_t buffer[3];
             uint32_t count = 3;
             int s = berDecodeOctetString(ctx, buffer, &count, 1, 0);
             out = toHex(buffer, s == BER_OK ? count : 0);
             return s;
           });
  runTyped("octet string alloc",
           {{"04 00", BER_OK, "0:null"}, {"04 03 01 02 03", BER_OK, "3:01 02 03"}},
           [](BerContext* ctx, std::string& out) {
             const uint8_t* data = nullptr;
             uint32_t count = 99;
             int s = berDecodeOctetStringAlloc(ctx, &data, &count, 1, 0);
             out = std::to_string(count) + ":" + (data ? toHex(data, count) : "null");
             return s;
           });
}

TEST(BerDecodeTyped, CharacterStrings) {
  runTyped("char string",
           {{"16 03 61 62 63", BER_OK, "abc"}, {"16 00", BER_OK, ""}},
           [](BerContext* ctx, std::string& out) {
             const char* text = nullptr;
             int s = berDecodeCharString(ctx, &text, 1, BER_TAG_IA5_STRING, 0);
             out = text ? text : "null";
             return s;
           });
  Decoder wrongTag(hex("0C 01 61"));
  const char* text = nullptr;
  EXPECT_EQ(berDecodeCharString(wrongTag.ctx(), &text, 1, BER_TAG_IA5_STRING, 0), BER_UNEXPECTED_TAG);
  EXPECT_EQ(wrongTag.ctx()->errorInfo.stack[0].line, 2248);
  ASSERT_EQ(wrongTag.ctx()->errorInfo.parameterCount, 2);
  EXPECT_STREQ(wrongTag.ctx()->errorInfo.parameters[0], "0016");
  EXPECT_STREQ(wrongTag.ctx()->errorInfo.parameters[1], "000c");

  runTyped("bmp string",
           {{"1E 04 00 41 20 AC", BER_OK, "00 41 20 AC"}, {"1E 00", BER_OK, ""}},
           [](BerContext* ctx, std::string& out) {
             BerBMPString value{99, nullptr};
             int s = berDecodeBMPString(ctx, &value, 1, BER_TAG_BMP_STRING, 0);
             Bytes bytes;
             for (uint32_t i = 0; i < value.count; ++i) {
               bytes.push_back(static_cast<uint8_t>(value.chars[i] >> 8));
               bytes.push_back(static_cast<uint8_t>(value.chars[i]));
             }
             out = toHex(bytes);
             return s;
           });
  const struct {
    const char* bytes;
    int status;
    int line;
  } failures[] = {{"1E 03 00 41 20", BER_INVALID_LENGTH, 2285}, {"0C 02 00 41", BER_UNEXPECTED_TAG, 2271}};
  for (const auto& f : failures) {
    Decoder dec(hex(f.bytes));
    BerBMPString value{};
    EXPECT_EQ(berDecodeBMPString(dec.ctx(), &value, 1, BER_TAG_BMP_STRING, 0), f.status);
    ASSERT_EQ(dec.ctx()->errorInfo.stackCount, 1);
    EXPECT_EQ(dec.ctx()->errorInfo.stack[0].line, f.line);
  }
}

TEST(BerDecodeTyped, NullAndObjectIdentifiers) {
  runTyped("null", {{"05 00", BER_OK, ""}, {"05 01 00", BER_INVALID_LENGTH, ""}, {"04 00", BER_UNEXPECTED_TAG, ""}},
           [](BerContext* ctx, std::string&) { return berDecodeNull(ctx, 1, 0); });

  std::string arcs129 = "06 81 80 2B";
  for (int i = 0; i < 127; ++i) arcs129 += " 01";
  std::string arcs128 = "06 7F 2B";
  for (int i = 0; i < 126; ++i) arcs128 += " 01";
  runTyped("object identifier",
           {{"06 06 2A 86 48 86 F7 0D", BER_OK, "1.2.840.113549"},
            {"06 03 81 34 03", BER_OK, "2.100.3"},
            {"06 01 27", BER_OK, "0.39"},
            {"06 01 7F", BER_OK, "2.47"},
            {"06 05 90 80 80 80 4F", BER_OK, "2.4294967295"},
            {"06 06 2B 8F FF FF FF 7F", BER_OK, "1.3.4294967295"},
            {"06 06 2B 90 80 80 80 00", BER_INVALID_OID, ""},   // 2^32: above 32 bits
            {"06 05 90 80 80 80 50", BER_INVALID_OID, ""},      // first arc pair too large
            {"06 02 2A 86", BER_INVALID_OID, ""},               // last octet says "more"
            {"06 03 2A 80 01", BER_INVALID_OID, ""},            // padded subidentifier
            {"06 00", BER_INVALID_OID, ""},
            {arcs128.c_str(), BER_OK, "1.3" + [] {
               std::string s;
               for (int i = 0; i < 126; ++i) s += ".1";
               return s;
             }()},
            {arcs129.c_str(), BER_INVALID_OID, ""}},
           [](BerContext* ctx, std::string& out) {
             BerObjectId oid{};
             int s = berDecodeObjectId(ctx, &oid, 1, 0);
             for (uint32_t i = 0; i < oid.count; ++i) out += (i ? "." : "") + std::to_string(oid.arcs[i]);
             return s;
           });
}

TEST(BerDecodeTyped, Real) {
  runTyped("real",
           {{"09 00", BER_OK, "0"},
            {"09 03 80 F9 80", BER_OK, "1"},
            {"09 03 C0 F9 80", BER_OK, "-1"},
            {"09 03 80 FA C0", BER_OK, "3"},
            {"09 01 40", BER_OK, "inf"},
            {"09 01 41", BER_OK, "-inf"},
            {"09 01 42", BER_OK, "nan"},
            {"09 01 43", BER_OK, "-0"},
            {"09 03 90 01 01", BER_OK, "8"},    // base 8
            {"09 03 A0 01 01", BER_OK, "16"},   // base 16
            {"09 03 A0 FF 01", BER_OK, "0.0625"},
            {"09 03 84 00 01", BER_OK, "2"},    // scale factor 1
            {"09 04 83 01 02 01", BER_OK, "4"},  // exponent length in its own octet
            {"09 04 81 FB FB 80", BER_OK, "2.22507e-308"},
            {"09 01 44", BER_INVALID_REAL, ""},
            {"09 03 01 31 30", BER_REAL_NOT_BINARY, ""},  // decimal form
            {"09 03 B0 00 01", BER_INVALID_REAL, ""},     // fourth base code
            {"09 03 83 FF 00", BER_INVALID_REAL, ""},     // 255 exponent octets claimed
            {"09 09 83 05 00 00 00 00 01 01 01", BER_INVALID_REAL, ""},  // wider than an int
            {"09 03 83 00 01", BER_INVALID_REAL, ""},
            {"09 02 82 01", BER_INVALID_REAL, ""},        // 3 exponent octets, 1 present
            {"09 02 80 01", BER_INVALID_REAL, ""}},       // no mantissa
           [](BerContext* ctx, std::string& out) {
             double v = 12345;
             int s = berDecodeReal(ctx, &v, 1, 0);
             char text[32];
             std::snprintf(text, sizeof(text), "%g", v);
             out = text;
             return s;
           });
}

TEST(BerDecodeTyped, ImplicitTagsPassTheLength) {
  Decoder dec(hex("A0 08 80 01 05 81 03 61 62 63"));
  int length = 0;
  ASSERT_EQ(berMatchTag(dec.ctx(), 0xA000, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(length, 8);
  ASSERT_EQ(berMatchTag(dec.ctx(), 0x8000, &length, BER_MATCH_ADVANCE), BER_OK);
  int32_t value = 0;
  EXPECT_EQ(berDecodeInteger(dec.ctx(), &value, 0, length), BER_OK);
  EXPECT_EQ(value, 5);
  ASSERT_EQ(berMatchTag(dec.ctx(), 0x8001, &length, BER_MATCH_ADVANCE), BER_OK);
  const char* text = nullptr;
  EXPECT_EQ(berDecodeCharString(dec.ctx(), &text, 0, 0, length), BER_OK);
  EXPECT_STREQ(text, "abc");
  // A length the caller gives must still lie inside the message.
  Decoder beyond(hex("80 01 05"));
  ASSERT_EQ(berMatchTag(beyond.ctx(), 0x8000, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(berDecodeInteger(beyond.ctx(), &value, 0, 4), BER_END_OF_BUFFER);
  EXPECT_EQ(berDecodeInteger(beyond.ctx(), &value, 0, -1), BER_INVALID_LENGTH);
  EXPECT_EQ(berDecodeInteger(beyond.ctx(), &value, 0, BER_INDEFINITE), BER_INVALID_LENGTH);
}

// SEQUENCE { INTEGER 1, SEQUENCE (indefinite) { INTEGER 2 }, NULL }
const char* const kNested = "30 0C 02 01 01 30 80 02 01 02 00 00 05 00";

TEST(BerDecodeWalk, MatchTagSearchesAndRestores) {
  Decoder dec(hex(kNested));
  int length = 0;
  // Searching goes into constructed elements and over primitive ones.
  ASSERT_EQ(berMatchTag(dec.ctx(), BER_TAG_NULL, &length, BER_MATCH_SEARCH), BER_OK);
  EXPECT_EQ(dec.ctx()->position, 12u);  // before the header
  ASSERT_EQ(berMatchTag(dec.ctx(), BER_TAG_NULL, &length, BER_MATCH_SEARCH | BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(dec.ctx()->position, 14u);

  Decoder missing(hex(kNested));
  EXPECT_EQ(berMatchTag(missing.ctx(), BER_TAG_BOOLEAN, &length, BER_MATCH_SEARCH), BER_UNEXPECTED_TAG);
  EXPECT_EQ(missing.ctx()->position, 0u);
  EXPECT_EQ(missing.ctx()->depth, 0);
  ASSERT_EQ(missing.ctx()->errorInfo.parameterCount, 2);
  EXPECT_STREQ(missing.ctx()->errorInfo.parameters[0], "0001");

  // Without the search only the first header is looked at.
  Decoder first(hex(kNested));
  EXPECT_EQ(berMatchTag(first.ctx(), BER_TAG_INTEGER, &length, 0), BER_UNEXPECTED_TAG);
  EXPECT_EQ(first.ctx()->position, 0u);

  // Stepping over the current element first: from the outer SEQUENCE into it.
  Decoder step(hex(kNested));
  ASSERT_EQ(berMatchTag(step.ctx(), BER_TAG_INTEGER, &length, BER_MATCH_STEP_OVER), BER_OK);
  EXPECT_EQ(step.ctx()->position, 2u);
  ASSERT_EQ(berMatchTag(step.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_STEP_OVER), BER_OK);
  EXPECT_EQ(step.ctx()->position, 5u);
  EXPECT_EQ(length, BER_INDEFINITE);
}

TEST(BerDecodeWalk, SkipCountAndEndOfElement) {
  Decoder dec(hex(kNested));
  int length = 0;
  ASSERT_EQ(berMatchTag(dec.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(berCountElements(dec.ctx(), length), 3);
  EXPECT_EQ(dec.ctx()->position, 2u);  // counting leaves the context as it was
  uint32_t start = dec.ctx()->position;
  int seen = 0;
  while (!berEndOfElement(dec.ctx(), start, length)) {
    ASSERT_EQ(berSkipElement(dec.ctx()), BER_OK);
    ++seen;
  }
  EXPECT_EQ(seen, 3);
  EXPECT_EQ(dec.ctx()->position, 14u);
  EXPECT_EQ(dec.ctx()->depth, 0);

  Decoder indefinite(hex("30 80 02 01 01 30 80 05 00 00 00 05 00 00 00"));
  ASSERT_EQ(berMatchTag(indefinite.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  ASSERT_EQ(length, BER_INDEFINITE);
  EXPECT_EQ(berCountElements(indefinite.ctx(), length), 3);
  start = indefinite.ctx()->position;
  seen = 0;
  while (!berEndOfElement(indefinite.ctx(), start, length)) {
    ASSERT_EQ(berSkipElement(indefinite.ctx()), BER_OK);
    ++seen;
  }
  EXPECT_EQ(seen, 3);
  EXPECT_TRUE(indefinite.ctx()->flags & BER_FLAG_MESSAGE_ENDED);

  // Elements that overrun their parent are not counted as if they fitted.
  Decoder overrun(hex("30 0A 30 03 02 01 01 02 04 00 00 00 01"));
  ASSERT_EQ(overrun.initStatus(), BER_OK);
  ASSERT_EQ(berMatchTag(overrun.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  ASSERT_EQ(berMatchTag(overrun.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(berCountElements(overrun.ctx(), 2), BER_INVALID_LENGTH);
}

TEST(BerDecodeWalk, SaveAndRestorePosition) {
  Decoder dec(hex("30 80 02 01 05 00 00"));
  berSavePosition(dec.ctx());
  ASSERT_EQ(berSkipElement(dec.ctx()), BER_OK);
  EXPECT_TRUE(dec.ctx()->flags & BER_FLAG_MESSAGE_ENDED);
  berRestorePosition(dec.ctx());
  EXPECT_EQ(dec.ctx()->position, 0u);
  EXPECT_FALSE(dec.ctx()->flags & BER_FLAG_MESSAGE_ENDED);
  EXPECT_EQ(berSkipElement(dec.ctx()), BER_OK);
}

TEST(BerDecodeWalk, OpenTypes) {
  Decoder dec(hex(kNested));
  int length = 0;
  ASSERT_EQ(berMatchTag(dec.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  const char* expected[] = {"02 01 01", "30 80 02 01 02 00 00", "05 00"};
  for (const char* e : expected) {
    const uint8_t* element = nullptr;
    uint32_t n = 0;
    ASSERT_EQ(berDecodeOpenType(dec.ctx(), &element, &n), BER_OK);
    EXPECT_EQ(toHex(element, n), toHex(hex(e)));
  }
  const uint8_t* element = reinterpret_cast<const uint8_t*>(1);
  uint32_t n = 99;
  EXPECT_EQ(berDecodeOpenType(dec.ctx(), &element, &n), BER_OK);  // the end counts as success
  EXPECT_EQ(element, nullptr);
  EXPECT_EQ(n, 0u);

  Decoder copy(hex(kNested));
  copy.ctx()->flags |= BER_FLAG_COPY_OPEN_TYPES;
  ASSERT_EQ(berDecodeOpenType(copy.ctx(), &element, &n), BER_OK);
  EXPECT_EQ(n, 14u);
  EXPECT_TRUE(element < copy.ctx()->buffer || element >= copy.ctx()->buffer + 14);
  EXPECT_EQ(toHex(element, n), toHex(hex(kNested)));

  const struct {
    BerTag upTo;
    const char* expected;
  } upTo[] = {{BER_TAG_NULL, "02 01 01 30 80 02 01 02 00 00"},
              {BER_TAG_INTEGER, ""},
              {BER_TAG_BOOLEAN, "02 01 01 30 80 02 01 02 00 00 05 00"}};
  for (const auto& u : upTo) {
    Decoder d(hex(kNested));
    ASSERT_EQ(berMatchTag(d.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
    ASSERT_EQ(berDecodeOpenTypeUpTo(d.ctx(), &element, &n, u.upTo), BER_OK);
    EXPECT_EQ(toHex(element, n), toHex(hex(u.expected)));
    if (n == 0) {
      EXPECT_EQ(element, nullptr);
    }
  }
  // A definite enclosing element ends the open type at its own end, not the message's.
  Decoder enclosed(hex("30 0A 30 03 02 01 01 05 00 02 01 02"));
  ASSERT_EQ(berMatchTag(enclosed.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  ASSERT_EQ(berMatchTag(enclosed.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  uint32_t contentsStart = enclosed.ctx()->position;
  ASSERT_EQ(berDecodeOpenTypeUpTo(enclosed.ctx(), &element, &n, BER_TAG_BOOLEAN, contentsStart, length), BER_OK);
  EXPECT_EQ(toHex(element, n), "02 01 01");
  EXPECT_EQ(enclosed.ctx()->position, 7u);
  // Inside an indefinite element the end-of-contents ends the open type.
  Decoder inner(hex("30 80 02 01 01 05 00 00 00"));
  ASSERT_EQ(berMatchTag(inner.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  ASSERT_EQ(berDecodeOpenTypeUpTo(inner.ctx(), &element, &n, BER_TAG_BOOLEAN), BER_OK);
  EXPECT_EQ(toHex(element, n), "02 01 01 05 00");
}

TEST(BerDecodeWalk, IndefiniteMessageLength) {
  const struct {
    const char* bytes;
    int result;
  } cases[] = {
      {"30 80 02 01 05 00 00 FF", 7},
      {"30 80 30 80 00 00 24 80 04 01 AA 00 00 00 00", 15},
      {"30 03 02 01 05", BER_INVALID_LENGTH},
      {"30 80 02 01 05", BER_END_OF_BUFFER},
      {"30 80 02 01 05 00", BER_END_OF_BUFFER},
      {"30 80 04 84 7F FF FF FF", BER_INVALID_LENGTH},
  };
  for (const auto& c : cases) {
    Bytes bytes = hex(c.bytes);
    EXPECT_EQ(berIndefiniteMessageLength(bytes.data(), static_cast<uint32_t>(bytes.size())), c.result) << c.bytes;
  }
}

std::string nested(int depth, bool indefinite) {
  std::string s;
  if (indefinite) {
    for (int i = 0; i < depth; ++i) s += "30 80 ";
    s += "05 00 ";
    for (int i = 0; i < depth; ++i) s += "00 00 ";
    return s;
  }
  Bytes inner = hex("05 00");
  for (int i = 0; i < depth; ++i) {
    Bytes outer{0x30, static_cast<uint8_t>(inner.size())};
    outer.insert(outer.end(), inner.begin(), inner.end());
    inner = outer;
  }
  return toHex(inner);
}

TEST(BerDecodeWalk, CheckLengths) {
  const struct {
    std::string bytes;
    int result;
  } cases[] = {
      {"30 06 02 01 05 02 01 06", BER_OK},
      {"02 01 05", BER_OK},
      {"30 00", BER_OK},
      {"30 80 30 80 02 01 05 00 00 00 00", BER_OK},
      {"30 80 30 03 02 01 05 00 00", BER_OK},
      {"30 05 02 04 01 02 03 04", BER_INVALID_LENGTH},      // child longer than its parent
      {"30 04 02 01 05 00", BER_INVALID_LENGTH},            // parent longer than its children
      {"30 07 30 03 02 01 05 05 00", BER_OK},
      {"30 06 30 02 02 01 05 05 00", BER_INVALID_LENGTH},
      {"30 80 02 01 05", BER_INVALID_LENGTH},               // no end-of-contents
      {"30 80 30 02 00 00 00 00", BER_INVALID_LENGTH},      // end-of-contents inside a definite parent
      {"30 80 30 03 30 80 00 00 00 00", BER_INVALID_LENGTH},  // indefinite child runs past its parent
      {nested(BER_STACK_SIZE, false), BER_OK},
      {nested(BER_STACK_SIZE, true), BER_OK},
      {nested(BER_STACK_SIZE + 1, false), BER_NESTING_TOO_DEEP},
      {nested(BER_STACK_SIZE + 1, true), BER_NESTING_TOO_DEEP},
      {nested(20000, true), BER_NESTING_TOO_DEEP},
  };
  for (const auto& c : cases) {
    Bytes bytes = hex(c.bytes);
    EXPECT_EQ(berCheckLengths(bytes.data(), static_cast<uint32_t>(bytes.size())), c.result) << c.bytes.substr(0, 60);
  }
}

}  // namespace
