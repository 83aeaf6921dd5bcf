// Application, JUtil and Hash.
#include "host/jvm/natives/AppNatives.h"

#include "foundation/archive/InstallDir.h"
#include "foundation/base/FormatString.h"
#include "foundation/core/CLogable.h"
#include "host/app/VApplication.h"
#include "host/jvm/natives/JniBridge.h"

#include <openssl/evp.h>
#include <tlhelp32.h>
#include <windows.h>

#include <cstring>
#include <string>

#ifndef QUARVEL_ACCESS_DATA
#error "QUARVEL_ACCESS_DATA names the deployment's twelve characters of access data"
#endif

namespace {

constexpr jint kNoMemory = static_cast<jint>(0x80000007u);
constexpr int kTextSize = 256;

// --- Application ---------------------------------------------------------------------

// The access data lies in the program only masked; the text is made at each call.
constexpr char kAccessData[] = QUARVEL_ACCESS_DATA;
static_assert(sizeof kAccessData == 13, "the access data has twelve characters");
constexpr unsigned char maskAt(int i) { return static_cast<unsigned char>(0xA5 ^ (i * 29)); }
struct MaskedAccessData {
  unsigned char bytes[12];
};
constexpr MaskedAccessData maskAccessData() {
  MaskedAccessData masked{};
  for (int i = 0; i < 12; ++i) masked.bytes[i] = static_cast<unsigned char>(kAccessData[i]) ^ maskAt(i);
  return masked;
}
constexpr MaskedAccessData kMaskedAccessData = maskAccessData();

jstring JNICALL getAppTitle(JNIEnv* env, jclass) try {
  const char* name = getAppName();
  return name != nullptr ? env->NewStringUTF(name) : nullptr;
} catch (...) {
  return nullptr;
}

jstring JNICALL getInstallDir(JNIEnv* env, jclass) try {
  char directory[kTextSize];
  if (readInstallDir(directory, sizeof directory) != 1) return nullptr;
  return env->NewStringUTF(directory);
} catch (...) {
  return nullptr;
}

jstring JNICALL getPath(JNIEnv* env, jclass) try {
  char directory[kTextSize];
  if (readInstallDir(directory, sizeof directory) != 1) return nullptr;
  char* last = std::strrchr(directory, '\\');
  if (last == nullptr) return nullptr;
  *last = '\0';
  return env->NewStringUTF(directory);
} catch (...) {
  return nullptr;
}

jstring JNICALL getAccessData(JNIEnv* env, jclass) try {
  char text[13];
  for (int i = 0; i < 12; ++i) text[i] = static_cast<char>(kMaskedAccessData.bytes[i] ^ maskAt(i));
  text[12] = '\0';
  return env->NewStringUTF(text);
} catch (...) {
  return nullptr;
}

// --- JUtil ---------------------------------------------------------------------------

HWND toWindow(jint handle) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(static_cast<uint32_t>(handle))); }
jint fromWindow(HWND window) { return static_cast<jint>(reinterpret_cast<uintptr_t>(window)); }

// A Java string's modified UTF-8 for the duration of a call.
class Utf8Chars {
 public:
  Utf8Chars(JNIEnv* env, jstring text)
      : m_env(env), m_text(text), m_chars(text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr) {}
  ~Utf8Chars() {
    if (m_chars != nullptr) m_env->ReleaseStringUTFChars(m_text, m_chars);
  }
  Utf8Chars(const Utf8Chars&) = delete;
  Utf8Chars& operator=(const Utf8Chars&) = delete;
  const char* get() const { return m_chars; }

 private:
  JNIEnv* m_env;
  jstring m_text;
  const char* m_chars;
};

jint JNICALL getHwnd(JNIEnv* env, jclass, jstring title) try {
  Utf8Chars chars(env, title);
  HWND window = chars.get() != nullptr ? FindWindowA(nullptr, chars.get()) : nullptr;
  if (title != nullptr && chars.get() == nullptr) env->ExceptionClear();
  const jint handle = fromWindow(window);
  logMessage(VOQ::formatString("JUtil::getHwnd returned: 0x%x.\n", static_cast<unsigned>(handle)).c_str(), 4,
             CLogable::kFlush);
  return handle;
} catch (...) {
  return 0;
}

struct PrefixSearch {
  const char* prefix;
  size_t length;
  bool found;
};

BOOL CALLBACK matchDialogTitle(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<PrefixSearch*>(parameter);
  char className[kTextSize];
  if (GetClassNameA(window, className, sizeof className) == 0 || std::strcmp(className, "SunAwtDialog") != 0)
    return TRUE;
  char title[kTextSize];
  if (GetWindowTextA(window, title, sizeof title) == 0 || title[0] == '\0') return TRUE;
  if (std::strncmp(title, search->prefix, search->length) != 0) return TRUE;
  search->found = true;
  return FALSE;
}

jint JNICALL findWindowPart(JNIEnv* env, jclass, jstring prefix) try {
  Utf8Chars chars(env, prefix);
  if (chars.get() == nullptr) {
    if (prefix != nullptr) env->ExceptionClear();
    return 0;
  }
  PrefixSearch search{chars.get(), std::strlen(chars.get()), false};
  EnumWindows(&matchDialogTitle, reinterpret_cast<LPARAM>(&search));
  return search.found ? 1 : 0;
} catch (...) {
  return 0;
}

void JNICALL setWindowAlwaysOnTop(JNIEnv*, jclass, jint hwnd, jboolean onTop) {
  if (hwnd == 0) return;
  SetWindowPos(toWindow(hwnd), onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

jint JNICALL getHWNDfromTitle(JNIEnv* env, jclass, jstring part) try {
  std::unique_ptr<char[]> text = jstringToAnsi(env, part);
  if (!text) return 0;
  for (HWND window = FindWindowA(nullptr, nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
    if ((GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) == 0) continue;
    char title[kTextSize];
    GetWindowTextA(window, title, sizeof title);
    if (std::strstr(title, text.get()) != nullptr) return fromWindow(window);
  }
  return 0;
} catch (...) {
  return 0;
}

// One argument of a command line, so that the C runtime's split gives it back as it is:
// in quotes, a quote escaped, the backslashes before a quote (and before the closing
// one) doubled.
std::string quoteArgument(const std::string& word) {
  std::string quoted = "\"";
  size_t slashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    if (c == '"') {
      quoted.append(2 * slashes + 1, '\\');
    } else {
      quoted.append(slashes, '\\');
    }
    slashes = 0;
    quoted += c;
  }
  quoted.append(2 * slashes, '\\');
  return quoted + "\"";
}

// The id of the first running process whose program file has this name; 0 for none.
DWORD runningProcessOf(const char* exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD pid = 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (std::strcmp(entry.szExeFile, exeName) == 0) {
      pid = entry.th32ProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return pid;
}

jint JNICALL shellExecute(JNIEnv* env, jclass, jstring file) try {
  std::unique_ptr<char[]> name = jstringToAnsi(env, file);
  if (!name) return 0;
  char executable[MAX_PATH] = {};
  if (reinterpret_cast<INT_PTR>(FindExecutableA(name.get(), nullptr, executable)) <= 32) return 0;
  const char* slash = std::strrchr(executable, '\\');
  const char* exeName = slash != nullptr ? slash + 1 : executable;

  DWORD pid = runningProcessOf(exeName);
  HANDLE waitFor = pid != 0 ? OpenProcess(PROCESS_QUERY_INFORMATION, TRUE, pid) : nullptr;

  // Both quoted: a document under a folder with blanks stays one argument, and a
  // program under one is not taken for a program at a prefix of its path.
  std::string commandLine = quoteArgument(executable) + " " + quoteArgument(name.get());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                      &startup, &process) != FALSE;
  if (started && pid == 0) {
    pid = process.dwProcessId;
    waitFor = process.hProcess;
  }
  if (waitFor != nullptr) WaitForInputIdle(waitFor, 30000);
  if (started) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  if (waitFor != nullptr && waitFor != process.hProcess) CloseHandle(waitFor);
  return static_cast<jint>(pid);
} catch (...) {
  return 0;
}

// --- Hash ----------------------------------------------------------------------------

const EVP_MD* digestOf(jint algorithm) {
  switch (algorithm) {
    case 1: return EVP_sha1();
    case 2: return EVP_sha256();
    default: return EVP_ripemd160();
  }
}

jbyteArray JNICALL hash(JNIEnv* env, jclass, jbyteArray data, jint algorithm) try {
  logMessage("-------------- Hash ---------------\n", 0, 0);
  jbyteArray result = nullptr;
  jbyte* elements = data != nullptr ? env->GetByteArrayElements(data, nullptr) : nullptr;
  if (elements == nullptr) {
    // The VM's OutOfMemoryError goes first: no JNI call may run with it pending.
    env->ExceptionClear();
    jnibridge::throwCardAdminException(env, kNoMemory, "Cannot allocate Memory.");
  } else {
    unsigned char digest[64];
    unsigned int length = 0;
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool made = context != nullptr && EVP_DigestInit(context, digestOf(algorithm)) == 1 &&
                      EVP_DigestUpdate(context, elements, static_cast<size_t>(env->GetArrayLength(data))) == 1 &&
                      EVP_DigestFinal(context, digest, &length) == 1;
    EVP_MD_CTX_free(context);
    env->ReleaseByteArrayElements(data, elements, JNI_ABORT);
    if (!made) {
      env->ExceptionClear();
      jnibridge::throwCardAdminException(env, kNoMemory, "Cannot allocate Memory.");
    } else {
      result = jnibridge::newByteArray(env, std::string(reinterpret_cast<const char*>(digest), length));
      if (result == nullptr) env->ExceptionClear();
    }
  }
  logMessage("\nResult: ", 0, 0);
  logMessage(VOQ::formatString("0x%p.", static_cast<void*>(result)).c_str(), 0, 0);
  logMessage("\n-------------- Hash ---------------\n\n", 0, CLogable::kFlush);
  return result;
} catch (...) {
  return nullptr;
}

}  // namespace

std::unique_ptr<char[]> jstringToAnsi(JNIEnv* env, jstring text) {
  if (text == nullptr) return nullptr;
  const jsize length = env->GetStringLength(text);
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (chars == nullptr) {
    env->ExceptionClear();
    return nullptr;
  }
  const auto* wide = reinterpret_cast<LPCWSTR>(chars);
  // The size asked first: a UTF-16 character may take three bytes in the ANSI code page.
  std::unique_ptr<char[]> ansi;
  const int size = length > 0 ? WideCharToMultiByte(CP_ACP, 0, wide, length, nullptr, 0, nullptr, nullptr) : 0;
  if (size > 0) {
    ansi.reset(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
    const int written = ansi ? WideCharToMultiByte(CP_ACP, 0, wide, length, ansi.get(), size, nullptr, nullptr) : 0;
    // The conversion of a counted text writes no terminator of its own.
    if (written > 0) {
      ansi[static_cast<size_t>(written)] = '\0';
    } else {
      ansi.reset();
    }
  }
  env->ReleaseStringChars(text, chars);
  return ansi;
}

NativeTable applicationNatives() {
  static JNINativeMethod methods[] = {
      QUARVEL_NATIVE(getAppTitle, "()Ljava/lang/String;"),
      QUARVEL_NATIVE(getPath, "()Ljava/lang/String;"),
      QUARVEL_NATIVE(getInstallDir, "()Ljava/lang/String;"),
      QUARVEL_NATIVE(getAccessData, "()Ljava/lang/String;"),
  };
  return {methods, static_cast<jint>(sizeof methods / sizeof methods[0])};
}

NativeTable jUtilNatives() {
  static JNINativeMethod methods[] = {
      QUARVEL_NATIVE(getHwnd, "(Ljava/lang/String;)I"),
      QUARVEL_NATIVE(setWindowAlwaysOnTop, "(IZ)V"),
      QUARVEL_NATIVE(findWindowPart, "(Ljava/lang/String;)I"),
      QUARVEL_NATIVE(shellExecute, "(Ljava/lang/String;)I"),
      QUARVEL_NATIVE(getHWNDfromTitle, "(Ljava/lang/String;)I"),
  };
  return {methods, static_cast<jint>(sizeof methods / sizeof methods[0])};
}

NativeTable hashNatives() {
  static JNINativeMethod methods[] = {
      QUARVEL_NATIVE(hash, "([BI)[B"),
  };
  return {methods, static_cast<jint>(sizeof methods / sizeof methods[0])};
}

void registerApplicationNatives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, applicationNatives()); }
void registerJUtilNatives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, jUtilNatives()); }
void registerHashNatives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, hashNatives()); }
