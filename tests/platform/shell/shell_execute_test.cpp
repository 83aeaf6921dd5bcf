// ShellExecuteA on program files: started as processes of their own, with their
// parameters and working directory; the failures by their codes.
#include "quarvel_test.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

INT_PTR code(HINSTANCE result) { return reinterpret_cast<INT_PTR>(result); }

TEST(ShellExecuteTest, StartsAProgramWithItsParametersInItsDirectory) {
  const std::string dir = quarveltest::makeTempDirectory("shell");
  const std::string out = dir + "/out.txt";
  const std::string program = dir + "/Updater.exe";
  std::ofstream(program) << "#!/bin/sh\necho \"$# $1 $2 $(pwd)\" > " << out << ".part && mv " << out << ".part "
                         << out << "\n";
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  ASSERT_TRUE(CreateDirectoryA("C:\\Work", nullptr));
  ASSERT_GT(code(ShellExecuteA(nullptr, "open", program.c_str(), "one  two", "C:\\Work", SW_SHOWNORMAL)), 32);
  ASSERT_TRUE(quarveltest::eventually([&] { return !readFile(out).empty(); }));
  EXPECT_EQ(readFile(out).substr(0, 8), "2 one tw");
  EXPECT_NE(readFile(out).find(quarveltest::machineRoot() + "/c/Work"), std::string::npos) << readFile(out);
}

TEST(ShellExecuteTest, RefusesWhatItCannotStart) {
  const std::string dir = quarveltest::makeTempDirectory("shell");
  const std::string text = dir + "/notes.txt";
  std::ofstream(text) << "text";
  EXPECT_EQ(code(ShellExecuteA(nullptr, "open", (dir + "/missing.exe").c_str(), nullptr, nullptr, 1)), SE_ERR_FNF);
  EXPECT_EQ(code(ShellExecuteA(nullptr, "open", text.c_str(), nullptr, nullptr, 1)), SE_ERR_NOASSOC);
  EXPECT_EQ(code(ShellExecuteA(nullptr, "print", text.c_str(), nullptr, nullptr, 1)), SE_ERR_NOASSOC);
  EXPECT_EQ(code(ShellExecuteA(nullptr, "open", nullptr, nullptr, nullptr, 1)), SE_ERR_FNF);
}

}  // namespace
