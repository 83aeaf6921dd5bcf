// Encode, then decode, random values of every primitive type.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "ber_test_util.h"

using bertest::Bytes;
using bertest::Decoder;
using bertest::Encoder;
using bertest::toHex;

namespace {

constexpr int kRounds = 1000;

class BerRoundTrip : public testing::Test {
 protected:
  // Values of every width, not only the wide ones a uniform draw would give.
  uint32_t anyWidth() { return static_cast<uint32_t>(random_()) >> (random_() % 33 % 32); }
  Bytes anyBytes(size_t maxLength) {
    Bytes bytes(random_() % (maxLength + 1));
    for (auto& b : bytes) b = static_cast<uint8_t>(random_());
    return bytes;
  }
  std::mt19937 random_{20261210};
};

TEST_F(BerRoundTrip, IntegersEnumeratedAndBooleans) {
  for (int i = 0; i < kRounds; ++i) {
    auto value = static_cast<int32_t>(anyWidth());
    if (random_() % 2) value = -value;
    Encoder enc;
    ASSERT_GT(berEncodeInteger(enc.ctx(), &value, 1), 0);
    int32_t decoded = ~value;
    Decoder dec(enc.message());
    ASSERT_EQ(berDecodeInteger(dec.ctx(), &decoded, 1, 0), BER_OK);
    EXPECT_EQ(decoded, value);

    Encoder enumerated;
    berEncodeEnumerated(enumerated.ctx(), &value, 1);
    Decoder enumDec(enumerated.message());
    ASSERT_EQ(berDecodeEnumerated(enumDec.ctx(), &decoded, 1, 0), BER_OK);
    EXPECT_EQ(decoded, value);

    uint32_t u = anyWidth();
    Encoder unsignedEnc;
    berEncodeUnsigned(unsignedEnc.ctx(), &u, 1);
    uint32_t uDecoded = ~u;
    Decoder uDec(unsignedEnc.message());
    ASSERT_EQ(berDecodeUnsigned(uDec.ctx(), &uDecoded, 1, 0), BER_OK);
    EXPECT_EQ(uDecoded, u);

    auto flag = static_cast<uint8_t>(random_() % 3);
    Encoder boolEnc;
    berEncodeBoolean(boolEnc.ctx(), &flag, 1);
    uint8_t back = 0x5A;
    Decoder boolDec(boolEnc.message());
    ASSERT_EQ(berDecodeBoolean(boolDec.ctx(), &back, 1, 0), BER_OK);
    EXPECT_EQ(back != 0, flag != 0);
  }
}

TEST_F(BerRoundTrip, Strings) {
  for (int i = 0; i < kRounds; ++i) {
    Bytes data = anyBytes(300);
    Encoder octets;
    berEncodeOctetString(octets.ctx(), data.data(), static_cast<uint32_t>(data.size()), 1);
    Decoder octDec(octets.message());
    const uint8_t* out = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(berDecodeOctetStringAlloc(octDec.ctx(), &out, &count, 1, 0), BER_OK);
    EXPECT_EQ(toHex(out, count), toHex(data));

    auto bits = static_cast<uint32_t>(data.size() * 8 - (data.empty() ? 0 : random_() % 8));
    Encoder bitEnc;
    berEncodeBitString(bitEnc.ctx(), data.data(), bits, 1);
    Decoder bitDec(bitEnc.message());
    Bytes buffer(data.size() + 1);
    uint32_t bitCount = static_cast<uint32_t>(buffer.size() * 8);
    ASSERT_EQ(berDecodeBitString(bitDec.ctx(), buffer.data(), &bitCount, 1, 0), BER_OK);
    EXPECT_EQ(bitCount, bits);
    EXPECT_EQ(toHex(buffer.data(), data.size()), toHex(data));

    std::string text;
    for (size_t j = random_() % 200; j > 0; --j) text += static_cast<char>(' ' + random_() % 95);
    Encoder chars;
    berEncodeCharString(chars.ctx(), text.c_str(), 1, BER_TAG_UTF8_STRING);
    Decoder charDec(chars.message());
    const char* back = nullptr;
    ASSERT_EQ(berDecodeCharString(charDec.ctx(), &back, 1, BER_TAG_UTF8_STRING, 0), BER_OK);
    EXPECT_EQ(back, text);

    std::vector<uint16_t> wide(random_() % 100);
    for (auto& c : wide) c = static_cast<uint16_t>(random_());
    Encoder bmp;
    berEncodeBMPString(bmp.ctx(), static_cast<uint32_t>(wide.size()), wide.data(), 1, BER_TAG_BMP_STRING);
    Decoder bmpDec(bmp.message());
    BerBMPString value{};
    ASSERT_EQ(berDecodeBMPString(bmpDec.ctx(), &value, 1, BER_TAG_BMP_STRING, 0), BER_OK);
    ASSERT_EQ(value.count, wide.size());
    EXPECT_TRUE(wide.empty() || std::memcmp(value.chars, wide.data(), wide.size() * 2) == 0);

    Bytes big = anyBytes(40);
    std::string hexText = "0x";
    for (uint8_t b : big) {
      char two[3];
      std::snprintf(two, sizeof(two), "%02x", b);
      hexText += two;
    }
    Encoder bigEnc;
    berEncodeBigInteger(bigEnc.ctx(), hexText.c_str(), 1);
    Decoder bigDec(bigEnc.message());
    const char* bigBack = nullptr;
    ASSERT_EQ(berDecodeBigInteger(bigDec.ctx(), &bigBack, 1, 0), BER_OK);
    EXPECT_EQ(bigBack, hexText);
  }
}

TEST_F(BerRoundTrip, ObjectIdentifiersAndNull) {
  for (int i = 0; i < kRounds; ++i) {
    BerObjectId oid{};
    oid.count = 2 + random_() % 30;
    oid.arcs[0] = random_() % 3;
    oid.arcs[1] = oid.arcs[0] < 2 ? random_() % 40 : anyWidth();
    for (uint32_t j = 2; j < oid.count; ++j) oid.arcs[j] = anyWidth();
    Encoder enc;
    ASSERT_GT(berEncodeObjectId(enc.ctx(), oid.count, oid.arcs, 1), 0);
    Decoder dec(enc.message());
    BerObjectId back{};
    ASSERT_EQ(berDecodeObjectId(dec.ctx(), &back, 1, 0), BER_OK);
    ASSERT_EQ(back.count, oid.count);
    EXPECT_EQ(std::memcmp(back.arcs, oid.arcs, oid.count * sizeof(uint32_t)), 0);
  }
  Encoder enc;
  berEncodeNull(enc.ctx(), 1);
  Decoder dec(enc.message());
  EXPECT_EQ(berDecodeNull(dec.ctx(), 1, 0), BER_OK);
}

TEST_F(BerRoundTrip, Reals) {
  std::vector<double> values = {0.0, 1.0, -1.0, 0.1, -2.5e-300, 1e308, DBL_MIN, DBL_MAX, std::ldexp(1.0, -1074),
                                HUGE_VAL, -HUGE_VAL, std::nan("")};
  for (int i = 0; i < kRounds; ++i) {
    uint64_t bits = (static_cast<uint64_t>(random_()) << 32) | random_();
    double v;
    std::memcpy(&v, &bits, sizeof(v));
    values.push_back(v);
    values.push_back(static_cast<double>(static_cast<int32_t>(anyWidth())) / (1 + random_() % 1000));
  }
  for (double v : values) {
    Encoder enc;
    ASSERT_GT(berEncodeReal(enc.ctx(), &v, 1), 0) << v;
    Decoder dec(enc.message());
    double back = 12345;
    ASSERT_EQ(berDecodeReal(dec.ctx(), &back, 1, 0), BER_OK) << v;
    if (std::isnan(v)) {
      EXPECT_TRUE(std::isnan(back));
    } else {
      EXPECT_EQ(back, v) << toHex(enc.message());  // -0.0 reads back as 0.0, which compares equal
    }
  }
}

TEST_F(BerRoundTrip, TagsAndLengths) {
  for (int i = 0; i < kRounds; ++i) {
    auto tag = static_cast<BerTag>(random_());
    if ((tag & BER_TAG_NUMBER_MASK) == 0 && !(tag & 0xE000)) tag |= 1;  // not an end-of-contents
    int length = static_cast<int>(random_() % 70000);
    if (random_() % 8 == 0) {
      tag |= BER_CONSTRUCTED;
      length = BER_INDEFINITE;
    }
    Bytes contents(length == BER_INDEFINITE ? 2 : static_cast<size_t>(length));
    Encoder enc(static_cast<uint32_t>(contents.size()) + 16);
    berWrite(enc.ctx(), contents.data(), static_cast<uint32_t>(contents.size()));
    ASSERT_GT(berEncodeTagLength(enc.ctx(), tag, length), 0);
    Decoder dec(enc.message());
    ASSERT_EQ(dec.initStatus(), BER_OK);
    EXPECT_EQ(dec.tag(), tag);
    BerTag back = 0;
    int backLength = 0;
    ASSERT_EQ(berDecodeTagLength(dec.ctx(), &back, &backLength, BER_MATCH_ADVANCE), BER_OK);
    EXPECT_EQ(back, tag);
    EXPECT_EQ(backLength, length);
  }
}

}  // namespace
