// Reading messages from a stream, and the text helpers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ber_test_util.h"

using bertest::Bytes;
using bertest::hex;
using bertest::toHex;

namespace {

// A stream over a copy of the bytes.
class Stream {
 public:
  explicit Stream(const Bytes& bytes) : data_(bytes) {
    file_ = data_.empty() ? std::tmpfile() : fmemopen(data_.data(), data_.size(), "rb");
  }
  ~Stream() { std::fclose(file_); }
  FILE* get() { return file_; }

 private:
  Bytes data_;
  FILE* file_;
};

// The capacity is an exact-size heap block, so the sanitizers see any write past it.
struct Read {
  int status;
  std::string message;
};

Read readMessage(FILE* file, uint32_t capacity) {
  auto* buffer = static_cast<uint8_t*>(std::malloc(capacity == 0 ? 1 : capacity));
  uint32_t used = 0;
  int status = berReadMessage(file, buffer, capacity, &used);
  Read r{status, toHex(buffer, status == BER_OK ? used : 0)};
  std::free(buffer);
  return r;
}

TEST(BerReadMessage, Messages) {
  const struct {
    const char* bytes;
    uint32_t capacity;
    int status;
    const char* message;
  } cases[] = {
      {"02 01 05 FF", 16, BER_OK, "02 01 05"},
      {"30 80 02 01 05 30 80 00 00 00 00 01", 16, BER_OK, "30 80 02 01 05 30 80 00 00 00 00"},
      {"BF 81 48 01 00", 16, BER_OK, "BF 81 48 01 00"},
      {"04 03 01 02 03", 5, BER_OK, "04 03 01 02 03"},
      {"04 03 01 02 03", 4, BER_END_OF_BUFFER, ""},   // contents beyond the capacity
      {"1F 81 48 00", 2, BER_END_OF_BUFFER, ""},      // identifier octets beyond it
      {"04 84 00 00 01 00", 3, BER_END_OF_BUFFER, ""},  // length octets beyond it
      {"30 80 02 01 05 00 00", 6, BER_END_OF_BUFFER, ""},
      {"04 05 01 02", 16, BER_FILE_ENDED, ""},
      {"30 80 02 01 05", 16, BER_FILE_ENDED, ""},
      {"", 16, BER_FILE_ENDED, ""},
      {"1F C0 00 00", 16, BER_INVALID_TAG, ""},
      {"1F 80 01 00", 16, BER_INVALID_TAG, ""},
      {"1F FF FF FF FF FF 7F 00", 16, BER_INVALID_TAG, ""},
      {"04 85 00 00 00 00 01", 16, BER_INVALID_LENGTH, ""},
      {"04 84 80 00 00 00", 16, BER_INVALID_LENGTH, ""},
      {"04 80 00 00", 16, BER_INVALID_LENGTH, ""},
      {"00 00", 16, BER_INVALID_LENGTH, ""},
  };
  for (const auto& c : cases) {
    Stream stream(hex(c.bytes));
    Read r = readMessage(stream.get(), c.capacity);
    EXPECT_EQ(r.status, c.status) << c.bytes << " / " << c.capacity;
    EXPECT_EQ(r.message, toHex(hex(c.message))) << c.bytes;
  }
}

TEST(BerReadMessage, ConsecutiveMessages) {
  Stream stream(hex("02 01 05 30 80 05 00 00 00 04 00"));
  EXPECT_EQ(readMessage(stream.get(), 32).message, "02 01 05");
  EXPECT_EQ(readMessage(stream.get(), 32).message, "30 80 05 00 00 00");
  EXPECT_EQ(readMessage(stream.get(), 32).message, "04 00");
  EXPECT_EQ(readMessage(stream.get(), 32).status, BER_FILE_ENDED);
}

TEST(BerReadMessage, HeaderFirst) {
  Bytes big = hex("04 82 01 2C");
  big.resize(4 + 300, 0x77);
  const struct {
    Bytes bytes;
    uint32_t capacity;
    int result;
  } cases[] = {
      {hex("02 01 05"), 6, 3},
      {hex("02 01 05 FF FF FF FF"), 6, 3},
      {big, 304, 304},
      {big, 303, BER_ENCODE_OVERFLOW},
      {hex("02 01 05"), 5, BER_ENCODE_OVERFLOW},
      {hex("04 08 01 02 03 04"), 16, BER_END_OF_BUFFER},
      {hex("04 84"), 16, BER_END_OF_BUFFER},
      {hex("30 80 00 00 00 00"), 16, BER_INVALID_LENGTH},
      {hex("1F C0 00 00 00 00"), 16, BER_INVALID_TAG},
      {{}, 16, 0},
  };
  for (const auto& c : cases) {
    Stream stream(c.bytes);
    auto* buffer = static_cast<uint8_t*>(std::malloc(c.capacity));
    int result = berReadMessageHeaderFirst(stream.get(), buffer, c.capacity);
    EXPECT_EQ(result, c.result) << toHex(c.bytes).substr(0, 20) << " / " << c.capacity;
    if (result > 0) {
      EXPECT_EQ(toHex(buffer, result), toHex(c.bytes.data(), result));
    }
    std::free(buffer);
  }
}

TEST(BerTextHelpers, HexAndBinaryTexts) {
  const struct {
    const char* text;
    int result;
    const char* bytes;
  } hexCases[] = {{"0102ff", 3, "01 02 FF"}, {"abc", 2, "0A BC"}, {"", 0, ""}, {"F", 1, "0F"},
                  {"12g4", BER_INVALID_HEX, ""}, {"0x12", BER_INVALID_HEX, ""}, {"0102030405", BER_ENCODE_OVERFLOW, ""}};
  for (const auto& c : hexCases) {
    uint8_t out[4] = {};
    int n = berHexTextToBytes(c.text, out, 4);
    EXPECT_EQ(n, c.result) << c.text;
    if (n >= 0) {
      EXPECT_EQ(toHex(out, n), toHex(hex(c.bytes))) << c.text;
    }
  }
  const struct {
    const char* text;
    int result;
    const char* bytes;
  } binaryCases[] = {{"10000001", 1, "81"}, {"1", 1, "80"}, {"111111111", 2, "FF 80"}, {"", 0, ""},
                     {"1012", BER_INVALID_BINARY, ""}, {"000000000000000000000000000000001", BER_ENCODE_OVERFLOW, ""}};
  for (const auto& c : binaryCases) {
    uint8_t out[4] = {};
    int n = berBinaryTextToBytes(c.text, out, 4);
    EXPECT_EQ(n, c.result) << c.text;
    if (n >= 0) {
      EXPECT_EQ(toHex(out, n), toHex(hex(c.bytes))) << c.text;
    }
  }
}

TEST(BerTextHelpers, RecordsStaticTextListAndStack) {
  BerContext ctx;
  ASSERT_EQ(berInitContext(&ctx, nullptr, 0), BER_OK);
  BerOctets record;
  const uint8_t bytes[] = {1, 2, 3};
  ASSERT_EQ(berCopyOctets(&ctx, &record, bytes, 3), BER_OK);
  EXPECT_EQ(record.count, 3u);
  EXPECT_NE(record.data, bytes);
  EXPECT_EQ(toHex(record.data, 3), "01 02 03");
  ASSERT_EQ(berCopyText(&ctx, &record, "text"), BER_OK);
  EXPECT_EQ(record.count, 4u);
  EXPECT_STREQ(reinterpret_cast<const char*>(record.data), "text");
  berFreeContext(&ctx);

  uint8_t fixed[2];
  uint32_t count = 0;
  EXPECT_EQ(berCopyOctetsFixed(fixed, 2, &count, bytes, 2), BER_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(berCopyOctetsFixed(fixed, 2, &count, bytes, 3), BER_TOO_MANY_ITEMS);

  std::string eighty(80, 'e');
  EXPECT_EQ(berStaticText(eighty.c_str()), eighty);
  EXPECT_EQ(berStaticText((eighty + "!").c_str()), nullptr);

  BerStack stack;
  berStackInit(&stack);
  for (long i = 1; i <= BER_STACK_SIZE; ++i) EXPECT_EQ(berStackPush(&stack, i), BER_OK);
  EXPECT_EQ(berStackPush(&stack, 99), BER_NESTING_TOO_DEEP);
  EXPECT_EQ(berStackPush(nullptr, 1), BER_NESTING_TOO_DEEP);
  BerStack copy;
  berStackCopy(&copy, &stack);
  EXPECT_EQ(berStackPop(&copy), BER_STACK_SIZE);
  for (int i = 0; i < BER_STACK_SIZE; ++i) berStackPop(&stack);
  EXPECT_EQ(berStackPop(&stack), 0);

  BerList list;
  berListInit(&list);
  int items[3];
  for (int& item : items) ASSERT_NE(berListAppend(&list, &item), nullptr);
  EXPECT_EQ(list.count, 3u);
  EXPECT_EQ(list.head->item, &items[0]);
  EXPECT_EQ(list.tail->item, &items[2]);
  berListFreeNodes(&list);
  EXPECT_EQ(list.count, 0u);
}

TEST(BerTextHelpers, DiagnosticsSwitch) {
  testing::internal::CaptureStdout();
  berDiagnosticPrint("hidden %d\n", 1);
  berSetDiagnostics(true);
  EXPECT_TRUE(berDiagnostics());
  berDiagnosticPrint("shown %d\n", 2);
  berSetDiagnostics(false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "shown 2\n");
}

}  // namespace
