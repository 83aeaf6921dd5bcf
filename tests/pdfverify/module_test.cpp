// The module Tolmira.api: its only export and its version information, read by file
// name as start-up reads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <cstring>

#include "windows.h"

namespace {

std::string versionText(const char* file, const char* block) {
  DWORD handle = 1;
  DWORD size = GetFileVersionInfoSizeA(file, &handle);
  EXPECT_EQ(handle, 0u);
  if (size == 0) return "<none>";
  std::vector<char> info(size);
  if (!GetFileVersionInfoA(file, 0, size, info.data())) return "<unreadable>";
  void* text = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), block, &text, &length)) return "<missing>";
  EXPECT_EQ(length, std::strlen(static_cast<char*>(text)) + 1);
  return static_cast<char*>(text);
}

TEST(TolmiraModule, ExportsOnlyItsEntry) {
  HMODULE module = LoadLibraryA(TOLMIRA_PATH);
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(module, "PlugInMain"), nullptr);
  for (const char* hidden : {"languageFlag", "hostMainWindow", "getErrorMessage", "gCoreHFT", "resumeFrame"}) {
    EXPECT_EQ(GetProcAddress(module, hidden), nullptr) << hidden;
  }
  FreeLibrary(module);
}

TEST(TolmiraModule, VersionInformationByFileName) {
  // Not loaded: the file is read for its resources.
  EXPECT_EQ(versionText(TOLMIRA_PATH, "\\StringFileInfo\\000004b0\\FileVersion"), "2.21.0000");
  HMODULE module = LoadLibraryA(TOLMIRA_PATH);
  ASSERT_NE(module, nullptr);
  // Loaded: the bare name finds the module, as start-up asks for it.
  EXPECT_EQ(versionText("Tolmira.api", "\\StringFileInfo\\000004b0\\FileVersion"), "2.21.0000");
  EXPECT_EQ(versionText("Tolmira.api", "\\stringfileinfo\\000004B0\\productname"), "Tolmira");
  EXPECT_EQ(versionText("Tolmira.api", "\\StringFileInfo\\000004b0\\Comments"), "<missing>");
  EXPECT_EQ(versionText("Tolmira.api", "\\StringFileInfo\\040704b0\\FileVersion"), "<missing>");

  DWORD size = GetFileVersionInfoSizeA("Tolmira.api", nullptr);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA("Tolmira.api", 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, static_cast<DWORD>(VS_FFI_SIGNATURE));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020015u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  DWORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(*translation, 0x04b00000u);
  EXPECT_FALSE(GetFileVersionInfoA("Tolmira.api", 0, size - 1, info.data()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  FreeLibrary(module);
}

TEST(TolmiraModule, AFileWithoutVersionInformation) {
  EXPECT_EQ(GetFileVersionInfoSizeA("NoSuchModule.api", nullptr), 0u);
  EXPECT_NE(GetLastError(), 0u);
}

}  // namespace
