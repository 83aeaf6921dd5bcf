// Streams on global memory, and the resizing of global memory under them.
#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

LARGE_INTEGER offset(LONGLONG value) {
  LARGE_INTEGER v;
  v.QuadPart = value;
  return v;
}

ULARGE_INTEGER size(ULONGLONG value) {
  ULARGE_INTEGER v;
  v.QuadPart = value;
  return v;
}

ULONGLONG position(IStream* stream) {
  ULARGE_INTEGER now{};
  EXPECT_EQ(stream->Seek(offset(0), STREAM_SEEK_CUR, &now), S_OK);
  return now.QuadPart;
}

ULONGLONG streamSize(IStream* stream) {
  STATSTG stat{};
  EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  return stat.cbSize.QuadPart;
}

// Everything from the start, leaving the seek pointer at the end.
std::string contents(IStream* stream) {
  EXPECT_EQ(stream->Seek(offset(0), STREAM_SEEK_SET, nullptr), S_OK);
  std::string out;
  char chunk[100];
  for (ULONG got = 1; got > 0;) {
    EXPECT_EQ(stream->Read(chunk, sizeof chunk, &got), S_OK);
    out.append(chunk, got);
  }
  return out;
}

void write(IStream* stream, const std::string& bytes) {
  ULONG written = 0;
  EXPECT_EQ(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), S_OK);
  EXPECT_EQ(written, bytes.size());
}

bool handleValid(HGLOBAL block) {
  SetLastError(NO_ERROR);
  return GlobalSize(block) != 0 || GetLastError() != ERROR_INVALID_HANDLE;
}

TEST(GlobalMemory, ReAllocationKeepsTheBytesAndTheRules) {
  // An unlocked moveable block grows under its handle, zeroed with GMEM_ZEROINIT.
  HGLOBAL moveable = GlobalAlloc(GMEM_MOVEABLE, 3);
  std::memcpy(GlobalLock(moveable), "abc", 3);
  EXPECT_EQ(GlobalReAlloc(moveable, 10, GMEM_ZEROINIT), nullptr);  // locked: it may not move
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  GlobalUnlock(moveable);
  EXPECT_EQ(GlobalReAlloc(moveable, 10, GMEM_ZEROINIT), moveable);
  EXPECT_EQ(GlobalSize(moveable), 10u);
  const char* bytes = static_cast<const char*>(GlobalLock(moveable));
  EXPECT_EQ(std::string(bytes, 10), std::string("abc\0\0\0\0\0\0\0", 10));
  GlobalUnlock(moveable);
  EXPECT_EQ(GlobalReAlloc(moveable, 2, 0), moveable);  // shrinking always works
  EXPECT_EQ(GlobalSize(moveable), 2u);
  EXPECT_EQ(GlobalFree(moveable), nullptr);
  EXPECT_EQ(GlobalReAlloc(moveable, 4, 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A fixed block is its address: it grows only when allowed to move, and then its old
  // handle is gone.
  HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 4);
  std::memcpy(fixed, "wxyz", 4);
  EXPECT_EQ(GlobalReAlloc(fixed, 4000, 0), nullptr);
  EXPECT_EQ(GlobalSize(fixed), 4u);
  HGLOBAL moved = GlobalReAlloc(fixed, 4000, GMEM_MOVEABLE);
  ASSERT_NE(moved, nullptr);
  EXPECT_EQ(std::string(static_cast<const char*>(moved), 4), "wxyz");
  EXPECT_EQ(GlobalSize(moved), 4000u);
  if (moved != fixed) {
    EXPECT_FALSE(handleValid(fixed));
  }
  EXPECT_EQ(GlobalReAlloc(moved, 8, 0x80 /* GMEM_MODIFY: not offered */), nullptr);
  EXPECT_EQ(GlobalFree(moved), nullptr);
}

TEST(HGlobalStream, WritesReadsAndSeeks) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  std::string expected = "abc";
  write(stream, expected);
  const std::string longer(300, 'x');  // past the block's first size
  write(stream, longer);
  expected += longer;
  EXPECT_EQ(position(stream), expected.size());
  EXPECT_EQ(contents(stream), expected);
  char byte = 0;
  ULONG got = 7;
  EXPECT_EQ(stream->Read(&byte, 1, &got), S_OK);  // at the end: nothing, and no failure
  EXPECT_EQ(got, 0u);

  STATSTG stat{};
  stat.pwcsName = reinterpret_cast<LPOLESTR>(&stat);
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
  EXPECT_EQ(stat.pwcsName, nullptr);  // a memory stream has no name
  EXPECT_EQ(stat.type, static_cast<DWORD>(STGTY_STREAM));
  EXPECT_EQ(stat.cbSize.QuadPart, expected.size());
  EXPECT_EQ(stream->Stat(&stat, 8), STG_E_INVALIDFLAG);
  EXPECT_EQ(stream->Stat(nullptr, STATFLAG_NONAME), STG_E_INVALIDPOINTER);

  // The handle holds the bytes; the block may be larger than the stream.
  HGLOBAL block = nullptr;
  ASSERT_EQ(GetHGlobalFromStream(stream, &block), S_OK);
  EXPECT_GE(GlobalSize(block), expected.size());
  EXPECT_EQ(std::string(static_cast<const char*>(GlobalLock(block)), expected.size()), expected);
  GlobalUnlock(block);
  EXPECT_EQ(GetHGlobalFromStream(nullptr, &block), E_INVALIDARG);

  struct SeekRow {
    LONGLONG move;
    DWORD origin;
    HRESULT result;
    ULONGLONG at;  // the pointer afterwards
  } rows[] = {
      {2, STREAM_SEEK_SET, S_OK, 2},
      {5, STREAM_SEEK_CUR, S_OK, 7},
      {-8, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 7},  // before the start: refused, the pointer stays
      {-3, STREAM_SEEK_END, S_OK, 300},
      {10, STREAM_SEEK_END, S_OK, 313},  // beyond the end is a place to write
      {0, 3, STG_E_INVALIDFUNCTION, 313},
      {INT64_MAX, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 313},
  };
  for (const SeekRow& row : rows) {
    SCOPED_TRACE(row.move);
    ULARGE_INTEGER now{};
    EXPECT_EQ(stream->Seek(offset(row.move), row.origin, &now), row.result);
    EXPECT_EQ(position(stream), row.at);
  }
  // A write beyond the end leaves zeros between.
  write(stream, "!");
  expected += std::string(10, '\0') + "!";
  EXPECT_EQ(contents(stream), expected);
  EXPECT_EQ(stream->LockRegion(size(0), size(1), LOCK_WRITE), STG_E_INVALIDFUNCTION);
  EXPECT_EQ(stream->Read(nullptr, 1, &got), STG_E_INVALIDPOINTER);
  EXPECT_EQ(stream->Release(), 0u);
  EXPECT_FALSE(handleValid(block));  // deleted on release
}

TEST(HGlobalStream, SetSizeShowsNoStaleBytes) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  write(stream, "secret");
  ASSERT_EQ(stream->SetSize(size(2)), S_OK);
  EXPECT_EQ(position(stream), 6u);  // the pointer is not moved
  EXPECT_EQ(contents(stream), "se");
  ASSERT_EQ(stream->SetSize(size(6)), S_OK);
  EXPECT_EQ(contents(stream), std::string("se\0\0\0\0", 6));
  EXPECT_EQ(stream->SetSize(size(~0ull)), STG_E_MEDIUMFULL);
  EXPECT_EQ(streamSize(stream), 6u);
  stream->Release();
}

TEST(HGlobalStream, ClonesShareTheBlockWithTheirOwnPointer) {
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
  write(stream, "0123456789");
  ASSERT_EQ(stream->Seek(offset(4), STREAM_SEEK_SET, nullptr), S_OK);
  IStream* clone = nullptr;
  ASSERT_EQ(stream->Clone(&clone), S_OK);
  EXPECT_EQ(position(clone), 4u);
  write(clone, "ab");
  EXPECT_EQ(position(stream), 4u);
  EXPECT_EQ(contents(stream), "0123ab6789");

  // CopyTo takes from the pointer on, as far as the stream goes.
  IStream* copy = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &copy), S_OK);
  ASSERT_EQ(clone->Seek(offset(8), STREAM_SEEK_SET, nullptr), S_OK);
  ULARGE_INTEGER read{}, written{};
  EXPECT_EQ(clone->CopyTo(copy, size(100), &read, &written), S_OK);
  EXPECT_EQ(read.QuadPart, 2u);
  EXPECT_EQ(written.QuadPart, 2u);
  EXPECT_EQ(contents(copy), "89");
  copy->Release();

  HGLOBAL block = nullptr;
  ASSERT_EQ(GetHGlobalFromStream(clone, &block), S_OK);
  stream->Release();
  EXPECT_TRUE(handleValid(block));  // the clone still reads it
  EXPECT_EQ(contents(clone), "0123ab6789");
  clone->Release();
  EXPECT_FALSE(handleValid(block));
}

// A caller's block: the stream starts at its size, and a block that cannot grow says so.
TEST(HGlobalStream, OnACallersBlock) {
  HGLOBAL fixed = GlobalAlloc(GMEM_FIXED, 5);
  std::memcpy(fixed, "hello", 5);
  IStream* stream = nullptr;
  ASSERT_EQ(CreateStreamOnHGlobal(fixed, FALSE, &stream), S_OK);
  EXPECT_EQ(contents(stream), "hello");
  ASSERT_EQ(stream->Seek(offset(0), STREAM_SEEK_SET, nullptr), S_OK);
  write(stream, "J");
  ULONG written = 9;
  EXPECT_EQ(stream->Seek(offset(0), STREAM_SEEK_END, nullptr), S_OK);
  EXPECT_EQ(stream->Write("!", 1, &written), STG_E_MEDIUMFULL);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(contents(stream), "Jello");
  EXPECT_EQ(stream->Release(), 0u);
  EXPECT_EQ(std::string(static_cast<const char*>(fixed), 5), "Jello");  // kept, and written through
  EXPECT_EQ(GlobalFree(fixed), nullptr);

  EXPECT_EQ(CreateStreamOnHGlobal(fixed, FALSE, &stream), E_INVALIDARG);  // freed
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, nullptr), E_INVALIDARG);
}

}  // namespace
