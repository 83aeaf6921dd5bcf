// Cross-checks against OpenSSL's independent ASN.1 code and the openssl tool.
#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ber_test_util.h"
#include "quarvel_test.h"

using bertest::Bytes;
using bertest::Decoder;
using bertest::Encoder;
using bertest::hex;
using bertest::toHex;

namespace {

Bytes derOfInteger(int64_t value) {
  ASN1_INTEGER* integer = ASN1_INTEGER_new();
  ASN1_INTEGER_set_int64(integer, value);
  unsigned char* out = nullptr;
  int n = i2d_ASN1_INTEGER(integer, &out);
  Bytes bytes(out, out + n);
  OPENSSL_free(out);
  ASN1_INTEGER_free(integer);
  return bytes;
}

bool integerValue(const Bytes& bytes, int64_t* value) {
  const unsigned char* p = bytes.data();
  ASN1_INTEGER* integer = d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(bytes.size()));
  if (integer == nullptr) return false;
  bool ok = ASN1_INTEGER_get_int64(value, integer) == 1 && p == bytes.data() + bytes.size();
  ASN1_INTEGER_free(integer);
  return ok;
}

std::vector<int64_t> integerSamples() {
  std::vector<int64_t> values = {0, 1, -1, 127, 128, -128, -129, 255, 256, -256, 32767, 32768, -32768, -32769,
                                 8388607, 8388608, -8388608, -8388609, INT_MAX, INT_MIN};
  std::mt19937 random(12345);
  for (int i = 0; i < 500; ++i) {
    auto v = static_cast<int32_t>(random());
    values.push_back(v >> (random() % 32));
  }
  return values;
}

TEST(BerOracle, IntegersMatchOpenSsl) {
  for (int64_t v : integerSamples()) {
    auto value = static_cast<int32_t>(v);
    Encoder enc;
    berEncodeInteger(enc.ctx(), &value, 1);
    // The shortest form is also the DER form, so the bytes must agree exactly.
    EXPECT_EQ(toHex(enc.message()), toHex(derOfInteger(value))) << value;
    int64_t back = 0;
    ASSERT_TRUE(integerValue(enc.message(), &back)) << value;
    EXPECT_EQ(back, value);

    Decoder dec(derOfInteger(value));
    int32_t decoded = 0;
    ASSERT_EQ(berDecodeInteger(dec.ctx(), &decoded, 1, 0), BER_OK);
    EXPECT_EQ(decoded, value);
  }
  std::mt19937 random(777);
  std::vector<uint32_t> unsignedValues = {0, 127, 128, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
  for (int i = 0; i < 300; ++i) unsignedValues.push_back(static_cast<uint32_t>(random()) >> (random() % 32));
  for (uint32_t value : unsignedValues) {
    Encoder enc;
    berEncodeUnsigned(enc.ctx(), &value, 1);
    EXPECT_EQ(toHex(enc.message()), toHex(derOfInteger(value))) << value;
    Decoder dec(derOfInteger(value));
    uint32_t decoded = 0;
    ASSERT_EQ(berDecodeUnsigned(dec.ctx(), &decoded, 1, 0), BER_OK);
    EXPECT_EQ(decoded, value);
  }
}

std::string oidText(const BerObjectId& oid) {
  std::string text;
  for (uint32_t i = 0; i < oid.count; ++i) text += (i ? "." : "") + std::to_string(oid.arcs[i]);
  return text;
}

Bytes derOfOid(const std::string& text) {
  ASN1_OBJECT* object = OBJ_txt2obj(text.c_str(), 1);
  if (object == nullptr) return {};
  unsigned char* out = nullptr;
  int n = i2d_ASN1_OBJECT(object, &out);
  Bytes bytes(out, out + n);
  OPENSSL_free(out);
  ASN1_OBJECT_free(object);
  return bytes;
}

std::string oidOfDer(const Bytes& bytes) {
  const unsigned char* p = bytes.data();
  ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(bytes.size()));
  if (object == nullptr) return "invalid";
  char text[512];
  OBJ_obj2txt(text, sizeof(text), object, 1);
  ASN1_OBJECT_free(object);
  return text;
}

TEST(BerOracle, ObjectIdentifiersMatchOpenSsl) {
  std::vector<std::vector<uint32_t>> samples = {
      {1, 2, 840, 113549},         {1, 2, 840, 113549, 1, 1, 11}, {2, 5, 4, 3},       {0, 39},
      {2, 100, 3},                 {1, 3, 6, 1, 4, 1, 311, 21, 20}, {2, 999, 1},      {1, 39, 4294967295u},
      {2, 4294967295u},            {2, 4294967215u, 128, 16383, 16384, 2097151, 2097152},
  };
  std::mt19937 random(4242);
  for (int i = 0; i < 300; ++i) {
    std::vector<uint32_t> arcs;
    arcs.push_back(random() % 3);
    arcs.push_back(arcs[0] < 2 ? random() % 40 : static_cast<uint32_t>(random()) >> (random() % 32));
    int more = static_cast<int>(random() % 12);
    for (int j = 0; j < more; ++j) arcs.push_back(static_cast<uint32_t>(random()) >> (random() % 32));
    samples.push_back(arcs);
  }
  for (const auto& arcs : samples) {
    BerObjectId oid{};
    oid.count = static_cast<uint32_t>(arcs.size());
    std::copy(arcs.begin(), arcs.end(), oid.arcs);
    std::string text = oidText(oid);
    Encoder enc;
    ASSERT_GT(berEncodeObjectId(enc.ctx(), oid.count, oid.arcs, 1), 0) << text;
    EXPECT_EQ(toHex(enc.message()), toHex(derOfOid(text))) << text;
    EXPECT_EQ(oidOfDer(enc.message()), text);

    Decoder dec(derOfOid(text));
    BerObjectId decoded{};
    ASSERT_EQ(berDecodeObjectId(dec.ctx(), &decoded, 1, 0), BER_OK) << text;
    EXPECT_EQ(oidText(decoded), text);
  }
}

TEST(BerOracle, HeadersMatchAsn1GetObject) {
  const int lengths[] = {0, 1, 127, 128, 200, 255, 256, 300, 4000, 65535, 65536, 70000};
  const BerTag tags[] = {0x0004, 0x2010, 0x4000 | 30, 0x6000 | 31, 0x8000 | 200, 0xA000 | 8191, 0xC000 | 1234};
  for (BerTag tag : tags) {
    for (int length : lengths) {
      Bytes message(static_cast<size_t>(length), 0x5A);
      Encoder enc(static_cast<uint32_t>(length) + 16);
      ASSERT_EQ(berEncodeOctetString(enc.ctx(), message.data(), static_cast<uint32_t>(length), 0), length);
      int total = berEncodeTagLength(enc.ctx(), tag, length);
      Bytes encoded = enc.message();
      ASSERT_EQ(total, static_cast<int>(encoded.size()));
      const unsigned char* p = encoded.data();
      long parsedLength = 0;
      int parsedTag = 0;
      int parsedClass = 0;
      int flags = ASN1_get_object(&p, &parsedLength, &parsedTag, &parsedClass, static_cast<long>(encoded.size()));
      EXPECT_EQ(flags & 0x80, 0) << std::hex << tag << " " << std::dec << length;
      EXPECT_EQ((flags & V_ASN1_CONSTRUCTED) != 0, (tag & BER_CONSTRUCTED) != 0);
      EXPECT_EQ(parsedTag, tag & BER_TAG_NUMBER_MASK);
      EXPECT_EQ(parsedClass, (tag >> 8) & 0xC0);
      EXPECT_EQ(parsedLength, length);
      EXPECT_EQ(p + length, encoded.data() + encoded.size());
    }
  }
  Encoder indefinite;
  berEncodeTagLength(indefinite.ctx(), BER_TAG_EOC, 0);
  berEncodeTagLength(indefinite.ctx(), BER_TAG_SEQUENCE, BER_INDEFINITE);
  Bytes encoded = indefinite.message();
  const unsigned char* p = encoded.data();
  long length = 0;
  int tag = 0;
  int cls = 0;
  EXPECT_EQ(ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(encoded.size())), 0x21);  // indefinite
}

TEST(BerOracle, StringsAndSimpleTypesMatchOpenSsl) {
  auto parse = [](const Bytes& bytes) {
    const unsigned char* p = bytes.data();
    return d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(bytes.size()));
  };
  {
    Encoder enc;
    const uint8_t data[] = {0x00, 0xFF, 0x10, 0x80};
    berEncodeOctetString(enc.ctx(), data, 4, 1);
    ASN1_TYPE* type = parse(enc.message());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->type, V_ASN1_OCTET_STRING);
    EXPECT_EQ(toHex(ASN1_STRING_get0_data(type->value.octet_string), 4), "00 FF 10 80");
    ASN1_TYPE_free(type);
  }
  {
    Encoder enc;
    const uint16_t chars[] = {0x00C4, 0x20AC, 0x0041};
    berEncodeBMPString(enc.ctx(), 3, chars, 1, BER_TAG_BMP_STRING);
    ASN1_TYPE* type = parse(enc.message());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->type, V_ASN1_BMPSTRING);
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, type->value.bmpstring);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(utf8), n), "\xC3\x84\xE2\x82\xAC" "A");
    OPENSSL_free(utf8);
    ASN1_TYPE_free(type);
  }
  {
    Encoder enc;
    const uint8_t bits[] = {0xA5, 0xC0};
    berEncodeBitString(enc.ctx(), bits, 10, 1);
    ASN1_TYPE* type = parse(enc.message());
    ASSERT_NE(type, nullptr);
    ASSERT_EQ(type->type, V_ASN1_BIT_STRING);
    EXPECT_TRUE(ASN1_BIT_STRING_get_bit(type->value.bit_string, 0));
    EXPECT_FALSE(ASN1_BIT_STRING_get_bit(type->value.bit_string, 1));
    EXPECT_TRUE(ASN1_BIT_STRING_get_bit(type->value.bit_string, 9));
    EXPECT_FALSE(ASN1_BIT_STRING_get_bit(type->value.bit_string, 10));
    ASN1_TYPE_free(type);
  }
  for (uint8_t flag : {0, 1}) {
    Encoder enc;
    berEncodeBoolean(enc.ctx(), &flag, 1);
    ASN1_TYPE* type = parse(enc.message());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->type, V_ASN1_BOOLEAN);
    EXPECT_EQ(type->value.boolean != 0, flag != 0);
    ASN1_TYPE_free(type);
  }
  {
    Encoder enc;
    berEncodeNull(enc.ctx(), 1);
    ASN1_TYPE* type = parse(enc.message());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->type, V_ASN1_NULL);
    ASN1_TYPE_free(type);
  }
  {
    Encoder enc;
    int32_t value = -300;
    berEncodeEnumerated(enc.ctx(), &value, 1);
    ASN1_TYPE* type = parse(enc.message());
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->type, V_ASN1_ENUMERATED);
    EXPECT_EQ(ASN1_ENUMERATED_get(type->value.enumerated), -300);
    ASN1_TYPE_free(type);
  }
}

// --- A certificate made by the openssl tool -------------------------------------

std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0) output.append(chunk, n);
  pclose(pipe);
  return output;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class BerCertificate : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string dir = quarveltest::makeTempDirectory("cert");
    path_ = new std::string(dir + "/cert.der");
    run("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + dir + "/key.pem -outform DER -out " + *path_ +
        " -days 30 -subj '/C=AT/O=Quarvel Test/CN=BER walk' -addext 'keyUsage=critical,digitalSignature'"
        " -addext 'extendedKeyUsage=clientAuth,emailProtection' 2>/dev/null");
  }
  static void TearDownTestSuite() {
    delete path_;
    path_ = nullptr;
  }
  static std::string* path_;
};

std::string* BerCertificate::path_ = nullptr;

TEST_F(BerCertificate, WalksCleanAndItsObjectIdentifiersMatchAsn1parse) {
  Bytes der = readFile(*path_);
  ASSERT_GT(der.size(), 500u) << "openssl req did not make a certificate";
  auto size = static_cast<uint32_t>(der.size());
  EXPECT_EQ(berCheckLengths(der.data(), size), BER_OK);
  EXPECT_EQ(berIndefiniteMessageLength(der.data(), size), BER_INVALID_LENGTH);

  // The tool's view: one line per element, OBJECT lines name the identifier.
  std::string parsed = run("openssl asn1parse -inform DER -in " + *path_);
  std::vector<std::string> expectedOids;
  int expectedElements = 0;
  std::istringstream lines(parsed);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("hl=") != std::string::npos) ++expectedElements;
    size_t object = line.find("OBJECT");
    if (object == std::string::npos) continue;
    std::string name = line.substr(line.find(':', object) + 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    ASN1_OBJECT* obj = OBJ_txt2obj(name.c_str(), 0);
    ASSERT_NE(obj, nullptr) << name;
    char text[256];
    OBJ_obj2txt(text, sizeof(text), obj, 1);
    ASN1_OBJECT_free(obj);
    expectedOids.push_back(text);
  }
  ASSERT_GE(expectedOids.size(), 5u);

  // Ours: walk every header, into constructed elements, decoding each OID.
  Decoder dec(der);
  ASSERT_EQ(dec.initStatus(), BER_OK);
  std::vector<std::string> oids;
  int elements = 0;
  for (;;) {
    BerTag tag = 0;
    int length = 0;
    int status = berDecodeTagLength(dec.ctx(), &tag, &length, 0);
    if (status == BER_END_OF_BUFFER) break;
    ASSERT_EQ(status, BER_OK);
    ++elements;
    if (tag == BER_TAG_OBJECT_ID) {
      BerObjectId oid{};
      ASSERT_EQ(berDecodeObjectId(dec.ctx(), &oid, 1, 0), BER_OK);
      oids.push_back(oidText(oid));
    } else {
      ASSERT_EQ(berDecodeTagLength(dec.ctx(), &tag, &length, BER_MATCH_ADVANCE), BER_OK);
      if (!(tag & BER_CONSTRUCTED)) dec.ctx()->position += static_cast<uint32_t>(length);
    }
  }
  EXPECT_EQ(oids, expectedOids);
  EXPECT_EQ(elements, expectedElements);

  int dumped = 0;
  EXPECT_EQ(berDumpMessage(der.data(), size, [](const char*, void* n) { ++*static_cast<int*>(n); }, &dumped),
            BER_OK);
  EXPECT_GT(dumped, elements);

  // The certificate's outer SEQUENCE holds three elements.
  Decoder outer(der);
  int length = 0;
  ASSERT_EQ(berMatchTag(outer.ctx(), BER_TAG_SEQUENCE, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(berCountElements(outer.ctx(), length), 3);

  // The first INTEGER found is the version inside [0]: v3 is 2.
  ASSERT_EQ(berMatchTag(outer.ctx(), BER_TAG_INTEGER, &length, BER_MATCH_SEARCH), BER_OK);
  const char* version = nullptr;
  ASSERT_EQ(berDecodeBigInteger(outer.ctx(), &version, 1, 0), BER_OK);
  EXPECT_STREQ(version, "0x02");

  // A cut or damaged certificate fails cleanly.
  EXPECT_EQ(berCheckLengths(der.data(), size - 1), BER_INVALID_LENGTH);
  Bytes damaged = der;
  damaged[7] ^= 0x01;  // the low length octet of the TBS part
  EXPECT_LT(berCheckLengths(damaged.data(), size), 0);
}

// --- X.690 Annex A --------------------------------------------------------------------

int visible(BerContext* ctx, BerTag tag, const char* text) {
  return berEncodeTagLength(ctx, tag, berEncodeCharString(ctx, text, 0, 0));
}

int name(BerContext* ctx, const char* given, const char* initial, const char* family) {
  int n = visible(ctx, 0x1A, family);
  n += visible(ctx, 0x1A, initial);
  n += visible(ctx, 0x1A, given);
  return berEncodeTagLength(ctx, 0x6001, n);
}

int child(BerContext* ctx, const char* given, const char* initial, const char* family, const char* birth) {
  int n = berEncodeTagLength(ctx, 0xA000, visible(ctx, 0x4003, birth));
  n += name(ctx, given, initial, family);
  return berEncodeTagLength(ctx, BER_TAG_SET, n);
}

TEST(BerAnnexA, PersonnelRecordReencodesByteForByte) {
  Encoder enc;
  BerContext* ctx = enc.ctx();
  int children = child(ctx, "Susan", "B", "Jones", "19590717");
  children += child(ctx, "Ralph", "T", "Smith", "19571111");
  int n = berEncodeTagLength(ctx, 0xA003, children);
  n += berEncodeTagLength(ctx, 0xA002, name(ctx, "Mary", "T", "Smith"));
  n += berEncodeTagLength(ctx, 0xA001, visible(ctx, 0x4003, "19710917"));
  int32_t number = 51;
  n += berEncodeTagLength(ctx, 0x4002, berEncodeInteger(ctx, &number, 0));
  n += berEncodeTagLength(ctx, 0xA000, visible(ctx, 0x1A, "Director"));
  n += name(ctx, "John", "P", "Smith");
  int total = berEncodeTagLength(ctx, 0x6000, n);
  EXPECT_EQ(total, 136);
  EXPECT_EQ(toHex(enc.message()), toHex(hex(bertest::kAnnexA)));

  // OpenSSL reads the same outer header.
  Bytes record = enc.message();
  const unsigned char* p = record.data();
  long length = 0;
  int tag = 0;
  int cls = 0;
  EXPECT_EQ(ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(record.size())), V_ASN1_CONSTRUCTED);
  EXPECT_EQ(cls, V_ASN1_APPLICATION);
  EXPECT_EQ(length, 133);
}

TEST(BerAnnexA, PersonnelRecordDecodes) {
  Bytes record = hex(bertest::kAnnexA);
  EXPECT_EQ(berCheckLengths(record.data(), static_cast<uint32_t>(record.size())), BER_OK);
  Decoder dec(record);
  int length = 0;
  ASSERT_EQ(berMatchTag(dec.ctx(), 0x6000, &length, BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(berCountElements(dec.ctx(), length), 6);
  ASSERT_EQ(berMatchTag(dec.ctx(), 0x6001, &length, BER_MATCH_ADVANCE), BER_OK);
  const char* parts[3];
  for (const char*& part : parts) ASSERT_EQ(berDecodeCharString(dec.ctx(), &part, 1, 0x1A, 0), BER_OK);
  EXPECT_EQ(std::string(parts[0]) + " " + parts[1] + " " + parts[2], "John P Smith");
  ASSERT_EQ(berMatchTag(dec.ctx(), 0xA000, &length, BER_MATCH_ADVANCE), BER_OK);
  const char* title = nullptr;
  ASSERT_EQ(berDecodeCharString(dec.ctx(), &title, 1, 0x1A, 0), BER_OK);
  EXPECT_STREQ(title, "Director");
  ASSERT_EQ(berMatchTag(dec.ctx(), 0x4002, &length, BER_MATCH_ADVANCE), BER_OK);
  int32_t number = 0;
  ASSERT_EQ(berDecodeInteger(dec.ctx(), &number, 0, length), BER_OK);
  EXPECT_EQ(number, 51);
  ASSERT_EQ(berMatchTag(dec.ctx(), 0xA003, &length, BER_MATCH_SEARCH | BER_MATCH_ADVANCE), BER_OK);
  EXPECT_EQ(berCountElements(dec.ctx(), length), 2);
}

}  // namespace
