// The Application, JUtil and Hash natives called through their Java classes in the
// real VM (checked JNI): the program's own Java VM host in the test process, windows of
// a helper process on the desktop, a viewer program registered for ".pdf", digests
// compared with OpenSSL. One VM per process: each case runs in a process of its own,
// which the host ends with status 255 (ctest reads gtest's verdict).
#include "FoundationFixture.h"
#include "JvmFixture.h"

#include "host/jvm/CJVMFactory.h"
#include "host/jvm/natives/AppNatives.h"
#include "platform/window_test.h"

#include <openssl/evp.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace ft = foundationtest;
namespace wt = platform::wintest;

namespace {

const bool g_rootRemoved = (jvmtest::removeMachineRootAfterTests(), true);

std::vector<std::string> g_arguments;
std::vector<char*> g_argv;

constexpr const char* kProductKey = "Software\\VOQ. VUV-Oredaridez GmbH\\Quarvel";

class AppNatives : public ::testing::Test {
 protected:
  void SetUp() override {
    jvmtest::install();
    ft::makeApplication();
    g_arguments = {"app_natives_test", jvmtest::javaLogPath()};
    for (std::string& a : g_arguments) g_argv.push_back(a.data());
    g_argv.push_back(nullptr);
    __argc = 2;
    __argv = g_argv.data();
    host = CJVMFactory::getInstance();
    host->startJVM();
    host->run();
    env = host->getEnv();
  }
  void TearDown() override { jvmtest::expectCleanJni(jvmtest::readFile(jvmtest::javaLogPath()), "the Java log"); }

  // A static method of at/Quarvel/util/jni/<cls>; the pending exception taken away.
  jmethodID method(const char* cls, const char* name, const char* signature, jclass* out) {
    const std::string full = std::string("at/Quarvel/util/jni/") + cls;
    *out = env->FindClass(full.c_str());
    EXPECT_NE(*out, nullptr) << full;
    jmethodID id = *out != nullptr ? env->GetStaticMethodID(*out, name, signature) : nullptr;
    EXPECT_NE(id, nullptr) << name;
    return id;
  }
  // "! code message" for a pending CardAdminException, "" when none is pending.
  std::string thrown() {
    if (!env->ExceptionCheck()) return "";
    jthrowable t = env->ExceptionOccurred();
    env->ExceptionClear();
    jclass cls = env->GetObjectClass(t);
    jfieldID code = env->GetFieldID(cls, "code", "I");
    std::ostringstream s;
    s << "! " << std::hex << (code != nullptr ? env->GetIntField(t, code) : 0);
    if (code == nullptr) env->ExceptionClear();
    jmethodID message = env->GetMethodID(cls, "getMessage", "()Ljava/lang/String;");
    auto said = static_cast<jstring>(env->CallObjectMethod(t, message));
    if (env->ExceptionCheck()) env->ExceptionClear();
    s << " " << text(said);
    return s.str();
  }
  std::string text(jstring s) {
    if (s == nullptr) return "(null)";
    const char* chars = env->GetStringUTFChars(s, nullptr);
    std::string out = chars;
    env->ReleaseStringUTFChars(s, chars);
    env->DeleteLocalRef(s);
    return out;
  }
  // A Java string of UTF-8 text (characters beyond 16 bits as two surrogates).
  jstring str(const std::string& utf8) {
    std::u16string wide(utf8.size() + 1, u'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                      reinterpret_cast<LPWSTR>(&wide[0]), static_cast<int>(wide.size()));
    return env->NewString(reinterpret_cast<const jchar*>(wide.data()), n);
  }

  std::string application(const char* name) {
    jclass cls = nullptr;
    jmethodID id = method("Application", name, "()Ljava/lang/String;", &cls);
    auto result = static_cast<jstring>(env->CallStaticObjectMethod(cls, id));
    EXPECT_FALSE(env->ExceptionCheck()) << name;
    return text(result);
  }
  jint jutil(const char* name, const std::string& argument) {
    jclass cls = nullptr;
    jmethodID id = method("JUtil", name, "(Ljava/lang/String;)I", &cls);
    jstring s = str(argument);
    const jint result = env->CallStaticIntMethod(cls, id, s);
    env->DeleteLocalRef(s);
    EXPECT_FALSE(env->ExceptionCheck()) << name;
    return result;
  }
  void alwaysOnTop(jint window, bool onTop) {
    jclass cls = nullptr;
    jmethodID id = method("JUtil", "setWindowAlwaysOnTop", "(IZ)V", &cls);
    env->CallStaticVoidMethod(cls, id, window, onTop ? JNI_TRUE : JNI_FALSE);
    EXPECT_FALSE(env->ExceptionCheck());
  }
  // The digest's bytes, "null", or the exception.
  std::string hash(jbyteArray data, jint algorithm) {
    jclass cls = nullptr;
    jmethodID id = method("Hash", "hash", "([BI)[B", &cls);
    auto result = static_cast<jbyteArray>(env->CallStaticObjectMethod(cls, id, data, algorithm));
    const std::string pending = thrown();
    if (!pending.empty()) return pending;
    if (result == nullptr) return "null";
    std::string bytes(static_cast<size_t>(env->GetArrayLength(result)), '\0');
    env->GetByteArrayRegion(result, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<jbyte*>(&bytes[0]));
    env->DeleteLocalRef(result);
    return bytes;
  }
  jbyteArray array(const std::string& bytes) {
    jbyteArray a = env->NewByteArray(static_cast<jsize>(bytes.size()));
    env->SetByteArrayRegion(a, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte*>(bytes.data()));
    return a;
  }

  CJVMFactory* host = nullptr;
  JNIEnv* env = nullptr;
};

std::string digest(const EVP_MD* md, const std::string& data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), out, &length, md, nullptr);
  return std::string(reinterpret_cast<const char*>(out), length);
}

std::string hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

// What the openssl command prints for the file's digest, in hex.
std::string opensslDigest(const char* name, const std::string& path) {
  const std::string command = std::string("openssl dgst -") + name + " -r '" + path + "'";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  return output.substr(0, output.find(' '));
}

TEST_F(AppNatives, HashTableAgainstOpenSsl) {
  struct Row {
    std::string data;
    jint algorithm;
    const EVP_MD* md;
  };
  const std::vector<Row> rows = {
      {"", 1, EVP_sha1()},      {"", 2, EVP_sha256()},     {"", 0, EVP_ripemd160()},
      {"", 3, EVP_ripemd160()}, {"", -1, EVP_ripemd160()}, {"abc", 1, EVP_sha1()},
      {"abc", 2, EVP_sha256()}, {"abc", 7, EVP_ripemd160()},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.data + " " + std::to_string(row.algorithm));
    jbyteArray data = array(row.data);
    const std::string got = hash(data, row.algorithm);
    env->DeleteLocalRef(data);
    EXPECT_EQ(got.size(), static_cast<size_t>(EVP_MD_get_size(row.md)));
    EXPECT_EQ(hex(got), hex(digest(row.md, row.data)));
  }
  // 1 MiB of random bytes, against the openssl command; 64 MiB against the library.
  std::string random(1 << 20, '\0');
  std::mt19937 generator(19);
  for (char& c : random) c = static_cast<char>(generator());
  const std::string file = quarveltest::machineRoot() + "/random.bin";
  std::ofstream(file, std::ios::binary) << random;
  jbyteArray data = array(random);
  EXPECT_EQ(hex(hash(data, 1)), opensslDigest("sha1", file));
  EXPECT_EQ(hex(hash(data, 2)), opensslDigest("sha256", file));
  EXPECT_EQ(hex(hash(data, 5)), opensslDigest("ripemd160", file));
  env->DeleteLocalRef(data);
  std::string large(64u << 20, 'q');
  data = array(large);
  EXPECT_EQ(hex(hash(data, 2)), hex(digest(EVP_sha256(), large)));
  env->DeleteLocalRef(data);
  // No array at all is an array that cannot be had.
  EXPECT_EQ(hash(nullptr, 1), "! 80000007 Cannot allocate Memory.");
  EXPECT_NE(jvmtest::readFile(jvmtest::traceLogPath()).find("-------------- Hash ---------------"), std::string::npos);
}

// GetByteArrayElements fails as the VM does when memory runs out: its OutOfMemoryError
// is cleared before the native throws its own exception (checked JNI stays silent).
JNINativeInterface_ g_failingTable;
const JNINativeInterface_* g_realTable = nullptr;
jbyte* JNICALL noElements(JNIEnv* env, jbyteArray, jboolean*) {
  jclass oom = g_realTable->FindClass(env, "java/lang/OutOfMemoryError");
  g_realTable->ThrowNew(env, oom, "injected");
  g_realTable->DeleteLocalRef(env, oom);
  return nullptr;
}

TEST_F(AppNatives, HashOfAnArrayThatCannotBeHad) {
  jbyteArray data = array("abc");
  g_realTable = env->functions;
  g_failingTable = *env->functions;
  g_failingTable.GetByteArrayElements = &noElements;
  env->functions = &g_failingTable;
  auto native = reinterpret_cast<jbyteArray (*)(JNIEnv*, jclass, jbyteArray, jint)>(hashNatives().methods[0].fnPtr);
  jbyteArray result = native(env, nullptr, data, 1);
  env->functions = g_realTable;
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(thrown(), "! 80000007 Cannot allocate Memory.");
}

void setInstallDir(const std::string* value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (value == nullptr) {
    RegDeleteValueA(key, "InstallDir");
  } else {
    RegSetValueExA(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                   static_cast<DWORD>(value->size() + 1));
  }
  RegCloseKey(key);
}

TEST_F(AppNatives, ApplicationTexts) {
  EXPECT_EQ(application("getAppTitle"), "Quarvel");
  EXPECT_EQ(application("getAccessData"), "QvTestAccess");
  EXPECT_EQ(application("getAccessData"), "QvTestAccess");
  struct Row {
    const char* stored;  // NULL: no value
    const char* installDir;
    const char* path;
  };
  const std::string longDir = "C:\\" + std::string(297, 'x');
  const std::vector<Row> rows = {
      {"C:\\Programme\\Firma\\Quarvel", "C:\\Programme\\Firma\\Quarvel", "C:\\Programme\\Firma"},
      {"C:\\Programme\\Firma\\Quarvel\\", "C:\\Programme\\Firma\\Quarvel", "C:\\Programme\\Firma"},
      {"C:\\Programme\\Firma\\Quarvel\\\\", "C:\\Programme\\Firma\\Quarvel\\", "C:\\Programme\\Firma\\Quarvel"},
      {"C:\\Programme\\Müller", "C:\\Programme\\Müller", "C:\\Programme"},
      {"Quarvel", "Quarvel", "(null)"},
      {"C:\\", "C:", "(null)"},
      {longDir.c_str(), "(null)", "(null)"},
      {nullptr, "(null)", "(null)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stored ? row.stored : "no value");
    const std::string stored = row.stored ? row.stored : "";
    setInstallDir(row.stored ? &stored : nullptr);
    EXPECT_EQ(application("getInstallDir"), row.installDir);
    EXPECT_EQ(application("getPath"), row.path);
  }
}

// A helper process with top-level windows "class|title|visible" in the order given (the
// last one on top), pumping messages until it is ended.
LRESULT CALLBACK helperProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(hwnd, msg, wParam, lParam);
}

QUARVEL_CHILD(windows) {
  for (const std::string& described : args) {
    const size_t a = described.find('|'), b = described.rfind('|');
    const std::string cls = described.substr(0, a), title = described.substr(a + 1, b - a - 1);
    WNDCLASSA wc{};
    wc.lpfnWndProc = &helperProc;
    wc.lpszClassName = cls.c_str();
    RegisterClassA(&wc);
    const DWORD style = WS_OVERLAPPEDWINDOW | (described.substr(b + 1) == "visible" ? WS_VISIBLE : 0);
    if (CreateWindowExA(0, cls.c_str(), title.c_str(), style, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr) ==
        nullptr)
      return 1;
  }
  MSG m;
  while (GetMessageA(&m, nullptr, 0, 0) > 0) DispatchMessageA(&m);
  return 0;
}

jint handleOf(HWND window) { return static_cast<jint>(reinterpret_cast<uintptr_t>(window)); }

TEST_F(AppNatives, WindowTables) {
  const std::string note = "Note \xF0\x9D\x84\x9E";  // a character beyond the 16-bit range
  auto helper = quarveltest::startChild(
      "windows", {"SunAwtDialog|Signatur erstellen|visible", "SunAwtDialog||visible", "SunAwtDialog|signatur klein|visible",
                  "OtherClass|Signatur anderer Klasse|visible", "SunAwtDialog|Müller Dialog|visible",
                  "OtherClass|Hidden Title|hidden", "OtherClass|Doc A - Viewer|visible",
                  "OtherClass|Doc B - Viewer|visible", "OtherClass|" + note + "|visible"});
  // A window is found as soon as it exists, before it is shown; the helper answers a
  // message only once it has made and shown every window and waits for messages.
  ASSERT_TRUE(quarveltest::eventually([&] { return FindWindowA("OtherClass", note.c_str()) != nullptr; }));
  DWORD_PTR ignored = 0;
  ASSERT_NE(SendMessageTimeoutA(FindWindowA("OtherClass", note.c_str()), WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored), 0);
  const jint signatur = handleOf(FindWindowA("SunAwtDialog", "Signatur erstellen"));
  const jint mueller = handleOf(FindWindowA("SunAwtDialog", "Müller Dialog"));
  const jint hidden = handleOf(FindWindowA("OtherClass", "Hidden Title"));
  const jint docB = handleOf(FindWindowA("OtherClass", "Doc B - Viewer"));
  const jint noteWindow = handleOf(FindWindowA("OtherClass", note.c_str()));

  // Dialogs by the beginning of their title: class "SunAwtDialog" only, case matters,
  // empty titles never match, hidden ones do.
  const std::vector<std::pair<std::string, jint>> parts = {
      {"", 1}, {"Signatur", 1}, {"signatur", 1}, {"SIGNATUR", 0}, {"Signatur a", 0},
      {"Müller", 1}, {"Dialog", 0}, {"Signatur erstellen und mehr", 0},
  };
  for (const auto& [prefix, found] : parts) EXPECT_EQ(jutil("findWindowPart", prefix), found) << prefix;

  // The exact title, in modified UTF-8: hidden windows too; a character beyond 16 bits
  // is two surrogates there and so never matches a title.
  EXPECT_EQ(jutil("getHwnd", "Signatur erstellen"), signatur);
  EXPECT_EQ(jutil("getHwnd", "Hidden Title"), hidden);
  EXPECT_EQ(jutil("getHwnd", "Müller Dialog"), mueller);
  EXPECT_EQ(jutil("getHwnd", "Signatur"), 0);
  EXPECT_EQ(jutil("getHwnd", note), 0);
  EXPECT_EQ(jutil("getHwnd", ""), handleOf(FindWindowA(nullptr, "")));
  EXPECT_NE(jutil("getHwnd", ""), 0);

  // A part of the title of a visible window, the first in Z order; through the ANSI
  // code page, so the character beyond 16 bits matches here.
  EXPECT_EQ(jutil("getHWNDfromTitle", "Viewer"), docB);
  EXPECT_EQ(jutil("getHWNDfromTitle", "Hidden"), 0);
  EXPECT_EQ(jutil("getHWNDfromTitle", "ller Dia"), mueller);
  EXPECT_EQ(jutil("getHWNDfromTitle", note), noteWindow);
  EXPECT_EQ(jutil("getHWNDfromTitle", ""), 0);
  EXPECT_EQ(jutil("getHWNDfromTitle", "no such title"), 0);

  // Always on top: set and cleared on a window of the other process; 0 does nothing.
  auto topmost = [](jint window) {
    for (const wt::WindowInfo& info : wt::topLevelWindows())
      if (handleOf(info.hwnd) == window) return info.topmost;
    return false;
  };
  EXPECT_EQ(jutil("getHWNDfromTitle", "Signatur"), handleOf(FindWindowA(nullptr, "Signatur anderer Klasse")));
  alwaysOnTop(signatur, true);
  EXPECT_TRUE(topmost(signatur));
  EXPECT_EQ(handleOf(wt::topLevelWindows().front().hwnd), signatur);
  EXPECT_EQ(jutil("getHWNDfromTitle", "Signatur"), signatur);
  alwaysOnTop(signatur, false);
  EXPECT_FALSE(topmost(signatur));
  EXPECT_EQ(jutil("getHWNDfromTitle", "Signatur"), signatur);  // now the newest in Z order
  std::vector<HWND> before;
  for (const wt::WindowInfo& info : wt::topLevelWindows()) before.push_back(info.hwnd);
  alwaysOnTop(0, true);
  std::vector<HWND> after;
  for (const wt::WindowInfo& info : wt::topLevelWindows()) after.push_back(info.hwnd);
  EXPECT_EQ(after, before);
  EXPECT_NE(jvmtest::readFile(jvmtest::traceLogPath()).find("JUtil::getHwnd returned: 0x"), std::string::npos);
}

// The viewer registered for ".pdf" lives in a folder with blanks; a program planted at
// the prefix "C:\Program" of its path must never run.
class ShellExecuteNative : public AppNatives {
 protected:
  void SetUp() override {
    AppNatives::SetUp();
    viewerLog = quarveltest::machineRoot() + "/viewer.log";
    setenv("QTEST_VIEWER_LOG", viewerLog.c_str(), 1);
    ft::writeFile("C:\\Program Files\\QTest Viewer\\qtest-viewer", jvmtest::readFile(QTEST_VIEWER));
    ft::writeFile("C:\\Program", jvmtest::readFile(QTEST_VIEWER));
    std::filesystem::permissions(ft::hostPath("C:\\Program Files\\QTest Viewer\\qtest-viewer"),
                                 std::filesystem::perms::owner_all);
    std::filesystem::permissions(ft::hostPath("C:\\Program"), std::filesystem::perms::owner_all);
    setClasses(".pdf", "QTest.Document");
    setClasses("QTest.Document\\shell\\open\\command", "\"C:\\Program Files\\QTest Viewer\\qtest-viewer\" \"%1\"");
  }
  void TearDown() override {
    for (const std::vector<std::string>& line : viewers()) ::kill(std::stoi(line[0]), SIGKILL);
    AppNatives::TearDown();
  }
  static void setClasses(const std::string& key, const std::string& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
  }
  // The viewer's lines: pid, program name, argument count, arguments.
  std::vector<std::vector<std::string>> viewers() const {
    std::vector<std::vector<std::string>> out;
    std::ifstream in(viewerLog);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> fields;
      std::istringstream s(line);
      for (std::string f; std::getline(s, f, '\t');) fields.push_back(f);
      out.push_back(fields);
    }
    return out;
  }
  std::string viewerLog;
};

TEST_F(ShellExecuteNative, StartsTheViewerWithTheDocumentAsOneArgument) {
  const std::string document = "C:\\Users\\Max Müller\\Eigene Dateien\\Vertrag \"neu\" 1.pdf";
  ft::writeFile(document, "%PDF-1.4\n");
  const jint first = jutil("shellExecute", document);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(quarveltest::eventually([&] { return viewers().size() == 1; }));
  const std::vector<std::string> expected{std::to_string(first), "qtest-viewer", "1", document};
  EXPECT_EQ(viewers()[0], expected);

  // The viewer runs: a second one is started, and the first one's id comes back.
  EXPECT_EQ(jutil("shellExecute", document), first);
  ASSERT_TRUE(quarveltest::eventually([&] { return viewers().size() == 2; }));
  EXPECT_NE(viewers()[1][0], std::to_string(first));
  EXPECT_EQ(viewers()[1][1], "qtest-viewer");
  EXPECT_EQ(viewers()[1][3], document);

  // No program for the type, no such document, no name: 0, nothing started.
  ft::writeFile("C:\\Users\\notes.txt", "text");
  EXPECT_EQ(jutil("shellExecute", "C:\\Users\\notes.txt"), 0);
  EXPECT_EQ(jutil("shellExecute", "C:\\Users\\missing.pdf"), 0);
  EXPECT_EQ(jutil("shellExecute", ""), 0);
  EXPECT_EQ(viewers().size(), 2u);
}

}  // namespace
