// Loading modules: paths, search order, reference counts, exports and errors.
#include <windows.h>

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine.h"
#include "quarvel_test.h"

namespace {

namespace fs = std::filesystem;

using AddFunction = int (*)(int, int);
using CounterFunction = int (*)();
using SelfFunction = HMODULE (*)();

template <typename F>
F function(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

bool hostHasLoaded(const std::string& path) {
  void* dl = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (dl) dlclose(dl);
  return dl != nullptr;
}

// Copies the test module to a Windows path of the machine; returns the host path.
std::string installModule(const char* windowsPath, const char* source = MODTEST_PATH) {
  const std::string target = platform::mapPath(windowsPath);
  fs::create_directories(fs::path(target).parent_path());
  fs::copy_file(source, target, fs::copy_options::overwrite_existing);
  return target;
}

TEST(Loading, WindowsPathAndHostPathGiveTheSameModule) {
  const std::string host = installModule("C:\\Program Files\\Quarvel\\ModTest.dll");
  HMODULE byWindowsPath = LoadLibraryA("C:\\Program Files\\Quarvel\\ModTest.dll");
  ASSERT_NE(byWindowsPath, nullptr) << GetLastError();
  EXPECT_LE(reinterpret_cast<uintptr_t>(byWindowsPath), 0xFFFFFFFFu) << "handles are small numbers";
  EXPECT_EQ(LoadLibraryA(host.c_str()), byWindowsPath);
  EXPECT_EQ(LoadLibraryA("C:/Program Files/Quarvel/ModTest"), byWindowsPath) << ".dll is appended";
  EXPECT_EQ(LoadLibraryA("C:\\Program Files\\Quarvel\\MODTEST.DLL"), byWindowsPath) << "file names ignore case";

  char name[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(byWindowsPath, name, sizeof name), 0u);
  EXPECT_EQ(std::string(name), realPath(host));

  auto add = function<AddFunction>(byWindowsPath, "ModTest_Add");
  ASSERT_NE(add, nullptr);
  EXPECT_EQ(add(2, 40), 42);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(FreeLibrary(byWindowsPath));
  EXPECT_FALSE(hostHasLoaded(host));
}

TEST(Loading, ReferenceCountKeepsTheModuleUntilTheLastFree) {
  HMODULE first = LoadLibraryA(MODTEST_PATH);
  ASSERT_NE(first, nullptr);
  HMODULE second = LoadLibraryA(MODTEST_PATH);
  EXPECT_EQ(second, first);
  auto counter = function<CounterFunction>(first, "ModTest_Counter");
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(counter(), 1);
  EXPECT_EQ(counter(), 2);

  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_TRUE(hostHasLoaded(MODTEST_PATH)) << "one reference is left";
  EXPECT_EQ(counter(), 3);
  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_FALSE(hostHasLoaded(MODTEST_PATH));

  // The stale handle fails cleanly.
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetProcAddress(first, "ModTest_Add"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  char name[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameA(first, name, sizeof name), 0u);

  // A new load is a fresh module with a new handle.
  HMODULE again = LoadLibraryA(MODTEST_PATH);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, first);
  EXPECT_EQ(function<CounterFunction>(again, "ModTest_Counter")(), 1);
  EXPECT_TRUE(FreeLibrary(again));
}

TEST(Loading, ConcurrentLoadsAndFreesKeepTheCount) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  // Loads and unloads race: the module comes and goes while other threads load it.
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures, t] {
      for (int i = 0; i < kRounds; ++i) {
        HMODULE module = (i + t) % 2 ? LoadLibraryA(MODTEST_PATH) : LoadLibraryA("ModTest.dll");
        auto add = function<AddFunction>(module, "ModTest_Add");
        char text[16];
        if (!module || !add || add(i, t) != i + t || LoadStringA(module, 1, text, sizeof text) != 7 ||
            !FreeLibrary(module)) {
          ++failures;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_FALSE(hostHasLoaded(MODTEST_PATH)) << "every load was matched by its free";
}

TEST(Loading, FailuresSetTheirErrors) {
  const std::string root = platform::machineRoot();
  fs::create_directories(root + "/c/bad");
  std::ofstream(root + "/c/bad/Text.dll") << "this is not a module\n";
  const char* const unresolved = UNRESOLVED_PATH;
  struct Case {
    const char* name;
    DWORD flags;
    DWORD error;
  } cases[] = {
      {"C:\\nowhere\\Missing.dll", 0, ERROR_MOD_NOT_FOUND},
      {"Missing-Module.dll", 0, ERROR_MOD_NOT_FOUND},
      {"", 0, ERROR_MOD_NOT_FOUND},
      {"C:\\bad\\Text.dll", 0, ERROR_BAD_EXE_FORMAT},
      {unresolved, 0, ERROR_PROC_NOT_FOUND},
      {MODTEST_PATH, 0x80000000u, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryExA(c.name, nullptr, c.flags), nullptr) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
  }
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  int file = 0;
  EXPECT_EQ(LoadLibraryExA(MODTEST_PATH, &file, 0), nullptr) << "no file handle";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Loading, DeferredResolutionLoadsAModuleWithAMissingSymbol) {
  HMODULE module = LoadLibraryExA(UNRESOLVED_PATH, nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(module, "Unresolved_Call"), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(Loading, AsDataFileServesResourcesButNoFunctions) {
  HMODULE data = LoadLibraryExA(MODTEST_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(data, nullptr) << GetLastError();
  char text[32];
  EXPECT_EQ(LoadStringA(data, 1, text, sizeof text), 7);
  EXPECT_STREQ(text, "ModTest");
  EXPECT_EQ(GetProcAddress(data, "ModTest_Add"), nullptr);
  HMODULE code = LoadLibraryA(MODTEST_PATH);
  EXPECT_NE(code, data) << "a data-file load is its own module";
  EXPECT_NE(GetProcAddress(code, "ModTest_Add"), nullptr);
  EXPECT_TRUE(FreeLibrary(data));
  EXPECT_TRUE(FreeLibrary(code));
}

TEST(Exports, FindsOnlyTheModulesOwnExports) {
  HMODULE module = LoadLibraryA(MODTEST_PATH);
  ASSERT_NE(module, nullptr);
  struct Case {
    const char* name;
    bool found;
  } cases[] = {
      {"ModTest_Add", true},
      {"ModTest_Counter", true},
      {"ModTest_Missing", false},
      {"modtest_add", false},  // export names keep their case
      {"malloc", false},       // a function of a library the module uses
      {"", false},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    FARPROC f = GetProcAddress(module, c.name);
    EXPECT_EQ(f != nullptr, c.found) << c.name;
    if (!c.found) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << c.name;
    }
  }
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(1)), nullptr) << "no exports by ordinal";
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7777)), "ModTest_Add"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(ModuleHandles, NamesLoadedModulesWithoutTakingAReference) {
  SetLastError(0);
  EXPECT_EQ(GetModuleHandleA("ModTest.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  HMODULE module = LoadLibraryA(MODTEST_PATH);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(GetModuleHandleA("ModTest.dll"), module);
  EXPECT_EQ(GetModuleHandleA("modtest"), module);
  EXPECT_EQ(GetModuleHandleA(MODTEST_PATH), module);
  EXPECT_EQ(LoadLibraryA("MODTEST.dll"), module) << "a bare name finds the loaded module first";
  EXPECT_TRUE(FreeLibrary(module));

  // The module holding an address.
  auto self = function<SelfFunction>(module, "ModTest_Self");
  ASSERT_NE(self, nullptr);
  HMODULE byAddress = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                 reinterpret_cast<LPCSTR>(self), &byAddress));
  EXPECT_EQ(byAddress, module);
#ifdef MODTEST_ONE_LAYER
  EXPECT_EQ(self(), module) << "the module sees the program's module table";
#endif
  HMODULE program = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&realPath), &program));
  EXPECT_EQ(program, GetModuleHandleA(nullptr));

  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_FALSE(hostHasLoaded(MODTEST_PATH)) << "GetModuleHandleA took no reference";
  EXPECT_EQ(GetModuleHandleA("ModTest.dll"), nullptr);
}

TEST(ModuleHandles, ReferencesTakenAndPinnedByGetModuleHandleEx) {
  HMODULE module = LoadLibraryA(MODTEST_PATH);
  ASSERT_NE(module, nullptr);
  HMODULE again = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(0, "ModTest.dll", &again));
  EXPECT_EQ(again, module);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(hostHasLoaded(MODTEST_PATH)) << "GetModuleHandleExA took a reference";

  HMODULE pinned = nullptr;
  ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "ModTest.dll", &pinned));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(hostHasLoaded(MODTEST_PATH)) << "a pinned module stays";

  struct Case {
    DWORD flags;
    LPCSTR name;
    DWORD error;
  } faults[] = {
      {GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, "ModTest.dll", ERROR_INVALID_PARAMETER},
      {0x100, "ModTest.dll", ERROR_INVALID_PARAMETER},
      {0, "NotLoaded.dll", ERROR_MOD_NOT_FOUND},
      {GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, nullptr, ERROR_MOD_NOT_FOUND},
  };
  for (const Case& c : faults) {
    HMODULE out = module;
    SetLastError(0);
    EXPECT_FALSE(GetModuleHandleExA(c.flags, c.name, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_FALSE(GetModuleHandleExA(0, nullptr, nullptr));
}

TEST(ModuleHandles, TheProgramTheSystemAndHostLibraries) {
  HMODULE program = GetModuleHandleA(nullptr);
  ASSERT_NE(program, nullptr);
  EXPECT_TRUE(FreeLibrary(program)) << "the program stays";
  EXPECT_EQ(GetModuleHandleA(nullptr), program);
  const std::string exe = realPath("/proc/self/exe");
  EXPECT_EQ(GetModuleHandleA(fs::path(exe).filename().c_str()), program);
  EXPECT_EQ(GetModuleHandleA((fs::path(exe).filename().string() + ".exe").c_str()), program);
  EXPECT_EQ(LoadLibraryA((fs::path(exe).filename().string() + ".EXE").c_str()), program);
  EXPECT_EQ(LoadLibraryA(exe.c_str()), program);

  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(kernel, program);
  EXPECT_EQ(GetModuleHandleA("KERNEL32"), kernel);
  EXPECT_EQ(LoadLibraryA("Kernel32.dll"), kernel);

  EXPECT_NE(GetModuleHandleA("libc.so.6"), nullptr) << "a library the host loaded";
}

TEST(ModuleFileNames, TruncatesAsWindowsDoes) {
  const std::string exe = realPath("/proc/self/exe");
  const DWORD length = static_cast<DWORD>(exe.size());
  struct Case {
    DWORD size;
    DWORD result;
    std::string text;
    DWORD error;  // 0: untouched
  } cases[] = {
      {length + 10, length, exe, 0},
      {length + 1, length, exe, 0},
      {length, length, exe.substr(0, length - 1), ERROR_INSUFFICIENT_BUFFER},
      {5, 5, exe.substr(0, 4), ERROR_INSUFFICIENT_BUFFER},
      {1, 1, "", ERROR_INSUFFICIENT_BUFFER},
  };
  for (const Case& c : cases) {
    std::string buffer(c.size + 4, 'x');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, &buffer[0], c.size), c.result) << c.size;
    EXPECT_STREQ(buffer.c_str(), c.text.c_str()) << c.size;
    EXPECT_EQ(buffer[c.size], 'x') << "nothing written past the buffer, size " << c.size;
    EXPECT_EQ(GetLastError(), c.error) << c.size;
  }
  char none[4] = "abc";
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, none, 0), 0u);
  EXPECT_STREQ(none, "abc");
}

TEST(DllDirectory, ExtendsTheSearchForBareNames) {
  installModule("C:\\Program Files\\Quarvel\\jre\\bin\\JreTest.dll");
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("JreTest.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  // As the Java VM host does it: through kernel32's export.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  using SetDirectory = BOOL (*)(LPCSTR);
  auto setDllDirectory = reinterpret_cast<SetDirectory>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDllDirectoryA")));
  ASSERT_NE(setDllDirectory, nullptr);
  EXPECT_EQ(setDllDirectory, &SetDllDirectoryA);
  ASSERT_TRUE(setDllDirectory("C:\\Program Files\\Quarvel\\jre\\bin"));

  char directory[MAX_PATH];
  EXPECT_EQ(GetDllDirectoryA(sizeof directory, directory), 32u);
  EXPECT_STREQ(directory, "C:\\Program Files\\Quarvel\\jre\\bin");
  EXPECT_EQ(GetDllDirectoryA(10, directory), 33u) << "the size needed";

  HMODULE module = LoadLibraryA("JreTest.dll");
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_EQ(LoadLibraryA("jretest"), module);
  EXPECT_NE(GetProcAddress(module, "ModTest_Add"), nullptr);
  EXPECT_TRUE(FreeLibrary(module));
  EXPECT_TRUE(FreeLibrary(module));

  ASSERT_TRUE(SetDllDirectoryA(nullptr));
  EXPECT_EQ(GetDllDirectoryA(sizeof directory, directory), 0u);
  EXPECT_EQ(LoadLibraryA("JreTest.dll"), nullptr);
}

TEST(DllDirectory, BareNamesAreFoundBesideTheProgram) {
  const fs::path beside = fs::path(realPath("/proc/self/exe")).parent_path() / "ModTest.dll";
  if (!fs::exists(beside)) GTEST_SKIP() << "the test module is not built beside the program";
  HMODULE module = LoadLibraryA("ModTest.dll");
  ASSERT_NE(module, nullptr) << GetLastError();
  char name[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(module, name, sizeof name), 0u);
  EXPECT_EQ(std::string(name), realPath(beside.string()));
  EXPECT_TRUE(FreeLibrary(module));
}

TEST(SystemModule, ExportsTheLayersFunctions) {
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "LoadLibraryA")),
            reinterpret_cast<void (*)()>(&LoadLibraryA));
  EXPECT_EQ(reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetLastError")),
            reinterpret_cast<void (*)()>(&GetLastError));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(kernel, "NoSuchFunctionAnywhere"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_TRUE(FreeLibrary(kernel));
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), kernel) << "system modules stay";
}

}  // namespace
