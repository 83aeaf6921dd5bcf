#include "host/jvm/CJVMFactory.h"

#include "foundation/archive/InstallDir.h"
#include "foundation/base/CException.h"
#include "foundation/core/CKonfigurator.h"
#include "foundation/core/CdllFactory.h"
#include "host/app/application_secure.h"
#include "host/jvm/JavaException.h"
#include "host/jvm/JavaLog.h"
#include "host/jvm/LauncherNatives.h"
#include "host/jvm/NativeRegistration.h"

#include <windows.h>


#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

VOQ::VSingleton<CJVMFactory> CJVMFactory::s_singleton;

namespace {

constexpr int kDetail = 4;
constexpr size_t kTraceLineSize = 1024;
// The VM's messages are formatted into this much; a longer one is cut.
constexpr size_t kHookBufferSize = 4096;

__attribute__((format(printf, 1, 2))) std::string traceText(const char* format, ...) {
  char buffer[kTraceLineSize];
  va_list args;
  va_start(args, format);
  _vsnprintf_s(buffer, sizeof buffer, _TRUNCATE, format, args);
  va_end(args);
  return buffer;
}

// "started.\n" on entry and "stopped.\n" on every way out of a traced operation.
class Traced {
 public:
  Traced(const CLogable& object, const char* method) : m_object(object), m_method(method) {
    m_object.log(m_method, "started.\n", kDetail, CLogable::kPush);
  }
  ~Traced() { m_object.log(m_method, "stopped.\n", kDetail, CLogable::kPop); }
  Traced(const Traced&) = delete;
  Traced& operator=(const Traced&) = delete;

 private:
  const CLogable& m_object;
  const char* m_method;
};

// Progress on the start-up's splash window, when there is one.
void splash(const char* text) {
  if (application_secure* application = application_secure::getInstance()) application->setStatus(text);
}

// Java takes '/' as the separator of a path on every platform.
std::string javaPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

const char* const kStartClasses[] = {
    "at/Quarvel/util/VOQOutputStream",  "java/io/PrintStream",
    "java/lang/System",                 "at/Quarvel/util/Launcher",
    "at/Quarvel/util/LauncherLoader",   "at/Quarvel/util/VOQPublicKey",
    "at/Quarvel/util/jni/JUtil",        "at/Quarvel/util/jni/Application",
    "at/Quarvel/util/jni/BankCard",     "at/Quarvel/util/jni/ECard",
    "at/Quarvel/util/jni/ECardng",      "at/Quarvel/util/jni/ECardG4",
    "at/Quarvel/util/jni/ASignPCS",     "at/Quarvel/util/jni/Hash",
    "at/Quarvel/util/jni/OCard",        "at/Quarvel/util/jni/Reader",
    "at/Quarvel/util/jni/ReaderFactory", "at/Quarvel/util/jni/SCard",
    "at/Quarvel/util/jni/TrustSign",
};

std::unique_ptr<char[]> copyText(const char* text) {
  const size_t length = std::strlen(text);
  std::unique_ptr<char[]> copy(new char[length + 1]);
  std::memcpy(copy.get(), text, length + 1);
  return copy;
}

}  // namespace

extern "C" jint JNICALL jvmVfprintf(FILE*, const char* format, va_list args) {
  try {
    char buffer[kHookBufferSize];
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length < 0) return 0;
    writeJavaLog(0, buffer, std::min(static_cast<size_t>(length), sizeof buffer - 1));
    return 1;
  } catch (...) {
    // Nothing may unwind into the VM's frames.
    return 0;
  }
}

CJVMFactory::CJVMFactory() {
  CdllFactory* dlls = CdllFactory::getInstance();
  splash("Checking JVM ...");
  char installDir[256];
  if (readInstallDir(installDir, sizeof installDir) == 1) {
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
      using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
      if (FARPROC address = GetProcAddress(kernel, "SetDllDirectoryA")) {
        const std::string directory = std::string(installDir) + "\\jre\\bin";
        reinterpret_cast<SetDllDirectoryFunction>(reinterpret_cast<void*>(address))(directory.c_str());
      }
    }
  }
  FARPROC create = nullptr;
  try {
    create = dlls->getFunction("JVM", "JNI_CreateJavaVM", "Secure");
  } catch (const VOQ::CException&) {
    // A missing or unverified archive, library or export: no VM can be made.
  }
  if (create == nullptr) {
    log("ctor", "Virtuelle Maschine kann nicht erzeugt werden.\n", 0, 0);
    throw VOQ::CAssertException("CJVMFactory::ctor", "Virtuelle Maschine kann nicht erzeugt werden.\n");
  }
  m_create = reinterpret_cast<CreateJavaVM>(reinterpret_cast<void*>(create));
  splash("JVM OK.");
  std::atexit(&CJVMFactory::deleteAtExit);
  logObject(this, kConstructed);
}

CJVMFactory::~CJVMFactory() {
  logObject(this, kDestroyed);
  // The environment belongs to the VM's thread. The process may also end from another
  // thread (the VM's own exit on a signal runs the exit handlers there); the
  // references then simply go with the process.
  if (m_env != nullptr && GetCurrentThreadId() == m_vmThread) {
    if (m_classLoader != nullptr) m_env->DeleteLocalRef(m_classLoader);
    VCriticalSectionLock lock(m_classesLock);
    for (auto& entry : m_classes) m_env->DeleteGlobalRef(entry.second);
    m_classes.clear();
  }
  // The VM is never destroyed: its threads may still run, and the process ends here,
  // without the exit handlers that were registered before the host's.
  flushJavaLog();
  logMessage("", 0, kFlush);
  ExitProcess(static_cast<UINT>(-1));
}

void CJVMFactory::deleteAtExit() { delete s_singleton.get(); }

void CJVMFactory::Lock() {
  if (s_singleton.semaphore().acquire() != VSingletonSemaphore::kOk)
    throw VOQ::CAssertException("CJVMFactory", "Semaphore hat falschen Wert.\n");
}

void CJVMFactory::Unlock() {
  switch (s_singleton.semaphore().release()) {
    case VSingletonSemaphore::kNoSemaphore:
      throw VOQ::CNoSuchObjectException("CJVMFactory", "kein Semaphore.\n");
    case VSingletonSemaphore::kFailed:
      throw VOQ::CAssertException("CJVMFactory", "Kann Semaphore nicht zurücksetzen.\n");
    case VSingletonSemaphore::kOk:
      break;
  }
}

CJVMFactory* CJVMFactory::getInstance() {
  return s_singleton.getOrMake(&Lock, &Unlock, [] { return std::unique_ptr<CJVMFactory>(new CJVMFactory()); });
}

// Without a class path the system class loader of the VM searches the current
// directory only, and the launcher classes could not be found.
std::string CJVMFactory::classPathOption() {
  char installDir[512];
  if (readInstallDir(installDir, sizeof installDir) != 1) return {};
  return "-Djava.class.path=" + javaPath(std::string(installDir) + "\\lib\\launcher.jar");
}

std::string CJVMFactory::verboseSetting() {
  std::string value;
  CKonfigurator* konfigurator = CKonfigurator::getInstance();
  if (konfigurator == nullptr || konfigurator->get("RegistryUser", konfigKey("Verbose"), konfigOut(&value)) != 0)
    return {};
  return value;
}

void CJVMFactory::startJVM() {
  Traced traced(*this, "startJVM");
  splash("Starting JVM ...");
  const std::string heap = getArgc() == 3 ? getArgv(2) : "-Xmx128m";
  std::string classPath = classPathOption();
  const std::string verbose = verboseSetting();
  std::string verboseOption;
  if (!verbose.empty()) verboseOption = "-verbose:" + (verbose == "security" ? std::string("class") : verbose);

  std::string vfprintfName = "vfprintf";
  std::string config = "-DQuarvel.config=DEDUVE";
  std::string heapOption = heap;
  std::vector<JavaVMOption> options;
  options.push_back({vfprintfName.data(), reinterpret_cast<void*>(&jvmVfprintf)});
  options.push_back({config.data(), nullptr});
  options.push_back({heapOption.data(), nullptr});
  if (!classPath.empty()) options.push_back({classPath.data(), nullptr});
  if (!verboseOption.empty()) options.push_back({verboseOption.data(), nullptr});

  JavaVMInitArgs arguments;
  arguments.version = JNI_VERSION_1_2;
  arguments.nOptions = static_cast<jint>(options.size());
  arguments.options = options.data();
  arguments.ignoreUnrecognized = JNI_FALSE;
  void* env = nullptr;
  if (m_create(&m_vm, &env, &arguments) < 0) {
    m_vm = nullptr;
    log("startJVM", "Virtuelle Maschine kann nicht gestartet werden.\n", 0, 0);
    throw VOQ::CAssertException("CJVMFactory::ctor", "Virtuelle Maschine kann nicht gestartet werden.\n");
  }
  m_env = static_cast<JNIEnv*>(env);
  m_vmThread = GetCurrentThreadId();
  splash("JVM started.");
  init();
}

void CJVMFactory::init() {
  Traced traced(*this, "init");
  registerClasses();
  registerNatives();
  if (m_env == nullptr) {
    log("init", "No virtual machine.", 0, 0);
  } else {
    redirectConsole();
  }
  setProperties();
}

// System.out at level 4 and System.err at level 0, both into the Java log. A step
// that fails (its exception taken and logged) ends the redirection.
void CJVMFactory::redirectConsole() {
  JNIEnv* env = m_env;
  jclass streamClass = getClass("at/Quarvel/util/VOQOutputStream");
  jclass printClass = getClass("java/io/PrintStream");
  jclass system = getClass("java/lang/System");
  if (streamClass == nullptr || printClass == nullptr || system == nullptr) return;
  jmethodID streamInit = env->GetMethodID(streamClass, "<init>", "(I)V");
  jmethodID printInit = env->GetMethodID(printClass, "<init>", "(Ljava/io/OutputStream;)V");
  jmethodID setOut = env->GetStaticMethodID(system, "setOut", "(Ljava/io/PrintStream;)V");
  jmethodID setErr = env->GetStaticMethodID(system, "setErr", "(Ljava/io/PrintStream;)V");
  if (streamInit == nullptr || printInit == nullptr || setOut == nullptr || setErr == nullptr) {
    logPendingException("init");
    return;
  }
  const struct {
    int level;
    jmethodID setter;
  } streams[] = {{4, setOut}, {0, setErr}};
  for (const auto& stream : streams) {
    jobject out = env->NewObject(streamClass, streamInit, stream.level);
    jobject print = out != nullptr && !env->ExceptionCheck() ? env->NewObject(printClass, printInit, out) : nullptr;
    if (print != nullptr && !env->ExceptionCheck()) env->CallStaticVoidMethod(system, stream.setter, print);
    logPendingException("init");
    if (print != nullptr) env->DeleteLocalRef(print);
    if (out != nullptr) env->DeleteLocalRef(out);
  }
}

void CJVMFactory::registerClasses() {
  Traced traced(*this, "registerClasses");
  for (const char* name : kStartClasses) {
    if (findClass(name)) continue;
    if (std::unique_ptr<char[]> text = getExceptionMessage()) {
      log("registerClasses", traceText("%s\n", text.get()).c_str(), 0, 0);
    } else {
      // FindClass's own exception was cleared before the loader was asked: the log
      // still names the class.
      log("registerClasses", traceText("Class %s not found.\n", name).c_str(), 0, 0);
    }
  }
}

void CJVMFactory::registerNatives() {
  Traced traced(*this, "registerNatives");
  if (m_env == nullptr) {
    log("registerNatives", "No virtual machine.", 0, 0);
    return;
  }
  const struct {
    const char* className;
    NativeTable table;
  } own[] = {
      {"at/Quarvel/util/VOQOutputStream", voqOutputStreamNatives()},
      {"at/Quarvel/util/LauncherLoader", launcherLoaderNatives()},
      {"at/Quarvel/util/VOQPublicKey", voqPublicKeyNatives()},
  };
  for (const auto& entry : own) {
    jclass cls = getClass(entry.className);
    if (cls != nullptr && m_env->RegisterNatives(cls, entry.table.methods, entry.table.count) != 0)
      logPendingException("registerNatives");
  }
  int count = 0;
  const NativeRegistration* registrations = nativeRegistrations(&count);
  for (int i = 0; i < count; ++i) {
    jclass cls = getClass(registrations[i].className);
    if (cls != nullptr && registrations[i].routine != nullptr) {
      registrations[i].routine(m_env, nullptr, cls);
      logPendingException("registerNatives");
    }
  }
}

void CJVMFactory::setProperties() {
  Traced traced(*this, "setProperties");
  CKonfigurator* konfigurator = CKonfigurator::getInstance();
  if (konfigurator == nullptr) return;
  for (int i = 0; i <= 9; ++i) {
    const std::string keyName = "Key" + std::to_string(i);
    const std::string valueName = "Property" + std::to_string(i);
    std::string key;
    std::string value;
    if (konfigurator->get("SecureExternal", konfigKey("Properties"), konfigKey(keyName.c_str()), konfigOut(&key)) != 0)
      continue;
    if (konfigurator->get("SecureExternal", konfigKey("Properties"), konfigKey(valueName.c_str()),
                          konfigOut(&value)) != 0)
      continue;
    char expanded[256];
    const DWORD needed = ExpandEnvironmentStringsA(value.c_str(), expanded, sizeof expanded);
    // 0 is a failure; more than the buffer means the text was cut: neither is set.
    if (needed == 0 || needed > sizeof expanded) continue;
    // Only values that name an environment variable are set.
    if (std::strcmp(expanded, value.c_str()) == 0) continue;
    log("setProperties", traceText("%s=%s.\n", key.c_str(), expanded).c_str(), kDetail, 0);
    if (std::unique_ptr<char[]> previous = setProperty(key.c_str(), expanded))
      log("setProperties", traceText("Property: %s had value: %s.\n", key.c_str(), previous.get()).c_str(), kDetail,
          0);
  }
}

void CJVMFactory::run() {
  Traced traced(*this, "run");
  const std::string verbose = verboseSetting();
  const char* verbosity = verbose.empty() ? "0" : verbose == "security" ? "2" : "1";
  char installDir[512];
  std::string mainClass;
  CKonfigurator* konfigurator = CKonfigurator::getInstance();
  if (readInstallDir(installDir, sizeof installDir) != 1 || konfigurator == nullptr ||
      konfigurator->get("SecureInternal", konfigKey("Main-Class"), konfigOut(&mainClass)) != 0)
    return;
  splash("Starting Application ...");
  jobjectArray arguments = constructArgs(3, installDir, mainClass.c_str(), verbosity);
  if (arguments == nullptr) {
    logPendingException("run");
    return;
  }
  m_classLoader =
      callVoidStatic("at/Quarvel/util/Launcher", "main", "([Ljava/lang/String;)Ljava/lang/ClassLoader;", arguments);
  if (m_env != nullptr) m_env->DeleteLocalRef(arguments);
  if (std::unique_ptr<char[]> text = getExceptionMessage()) {
    log("run", traceText("%s\n", text.get()).c_str(), 0, 0);
    return;
  }
  splash("Application started.");
}

void CJVMFactory::logCache(const char* method) {
  VCriticalSectionLock lock(m_classesLock);
  log(method, "List:\n", kDetail, 0);
  for (const auto& entry : m_classes)
    log(method, traceText("class: %s, 0x%p.\n", entry.first.get(), static_cast<void*>(entry.second)).c_str(), kDetail,
        0);
}

void CJVMFactory::storeClass(const char* name, jclass global) {
  VCriticalSectionLock lock(m_classesLock);
  auto found = m_classes.find(name);
  if (found != m_classes.end()) {
    // The old reference would otherwise stay alive unreachable.
    m_env->DeleteGlobalRef(found->second);
    found->second = global;
    return;
  }
  m_classes.emplace(copyText(name), global);
}

void CJVMFactory::logPendingException(const char* method) {
  if (std::unique_ptr<char[]> text = getExceptionMessage()) log(method, traceText("%s\n", text.get()).c_str(), 0, 0);
}

bool CJVMFactory::findClass(const char* name) {
  log("findClass", traceText("Parameter: %s.\n", name != nullptr ? name : "NULL").c_str(), kDetail, 0);
  logCache("findClass");
  if (name == nullptr || *name == '\0') return false;
  if (m_env == nullptr) {
    log("findClass", "No virtual machine.", 0, 0);
    return false;
  }
  if (jclass local = m_env->FindClass(name)) {
    auto global = static_cast<jclass>(m_env->NewGlobalRef(local));
    m_env->DeleteLocalRef(local);
    if (global == nullptr) return false;
    log("findClass", "Found Class with FindClass.\n", kDetail, 0);
    storeClass(name, global);
    return true;
  }
  m_env->ExceptionClear();
  if (m_classLoader == nullptr) return false;
  jclass loaderClass = m_env->GetObjectClass(m_classLoader);
  jmethodID find = m_env->GetMethodID(loaderClass, "findClass", "(Ljava/lang/String;)Ljava/lang/Class;");
  m_env->DeleteLocalRef(loaderClass);
  if (find == nullptr) return false;
  jstring javaName = m_env->NewStringUTF(name);
  if (javaName == nullptr) return false;
  jobject found = m_env->CallObjectMethod(m_classLoader, find, javaName);
  // DeleteLocalRef is safe with an exception pending.
  m_env->DeleteLocalRef(javaName);
  if (found == nullptr || m_env->ExceptionCheck()) {
    // The loader's exception stays pending for the caller.
    if (found != nullptr) m_env->DeleteLocalRef(found);
    return false;
  }
  auto global = static_cast<jclass>(m_env->NewGlobalRef(found));
  m_env->DeleteLocalRef(found);
  if (global == nullptr) return false;
  log("findClass", "Found Class with ClassLoader.\n", kDetail, 0);
  storeClass(name, global);
  return true;
}

jclass CJVMFactory::getClass(const char* name) {
  log("getClass", traceText("Parameter: %s.\n", name != nullptr ? name : "NULL").c_str(), kDetail, 0);
  logCache("getClass");
  jclass result = nullptr;
  if (name != nullptr) {
    VCriticalSectionLock lock(m_classesLock);
    auto found = m_classes.find(name);
    if (found != m_classes.end()) result = found->second;
  }
  if (result == nullptr) log("getClass", "No class found.\n", kDetail, 0);
  log("getClass", traceText("returned: 0x%p.\n", static_cast<void*>(result)).c_str(), kDetail, 0);
  return result;
}

jobject CJVMFactory::callVoidStatic(const char* className, const char* method, const char* signature, ...) {
  if (className == nullptr || *className == '\0' || method == nullptr || *method == '\0' || signature == nullptr ||
      *signature == '\0')
    return nullptr;
  jclass cls = getClass(className);
  if (cls == nullptr) return nullptr;
  if (m_env == nullptr) {
    log("callVoidStatic", "No virtual machine.", 0, 0);
    return nullptr;
  }
  jmethodID id = m_env->GetStaticMethodID(cls, method, signature);
  if (id == nullptr) return nullptr;  // NoSuchMethodError pending for the caller
  va_list args;
  va_start(args, signature);
  jobject result = m_env->CallStaticObjectMethodV(cls, id, args);
  va_end(args);
  return result;
}

jobjectArray CJVMFactory::constructArgs(int count, ...) {
  jclass stringClass = getClass("java/lang/String");
  if (stringClass == nullptr) {
    findClass("java/lang/String");
    stringClass = getClass("java/lang/String");
  }
  if (stringClass == nullptr) return nullptr;
  if (m_env == nullptr) {
    log("constructArgs", "No virtual machine.", 0, 0);
    return nullptr;
  }
  jobjectArray array = m_env->NewObjectArray(count, stringClass, nullptr);
  if (array == nullptr) return nullptr;
  va_list args;
  va_start(args, count);
  for (int i = 0; i < count; ++i) {
    jstring text = m_env->NewStringUTF(va_arg(args, const char*));
    if (text == nullptr) {
      // The OutOfMemoryError stays pending for the caller.
      m_env->DeleteLocalRef(array);
      array = nullptr;
      break;
    }
    m_env->SetObjectArrayElement(array, i, text);
    m_env->DeleteLocalRef(text);
    if (m_env->ExceptionCheck()) {
      m_env->DeleteLocalRef(array);
      array = nullptr;
      break;
    }
  }
  va_end(args);
  return array;
}

std::unique_ptr<char[]> CJVMFactory::getExceptionMessage() {
  if (m_env == nullptr) {
    log("getExceptionMessage", "No virtual machine.", 0, 0);
    return nullptr;
  }
  return takeJavaException(m_env);
}

std::unique_ptr<char[]> CJVMFactory::setProperty(const char* key, const char* value) {
  if (key == nullptr) return nullptr;
  if (m_env == nullptr) {
    log("setProperty", "No virutal machine.", 0, 0);
    return nullptr;
  }
  jstring javaKey = m_env->NewStringUTF(key);
  if (javaKey == nullptr) {
    logPendingException("setProperty");
    return nullptr;
  }
  jstring javaValue = m_env->NewStringUTF(value != nullptr ? value : "");
  std::unique_ptr<char[]> previous;
  jclass system = getClass("java/lang/System");
  if (javaValue != nullptr && system != nullptr) {
    jmethodID set = m_env->GetStaticMethodID(system, "setProperty",
                                             "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;");
    if (set != nullptr) {
      auto old = static_cast<jstring>(m_env->CallStaticObjectMethod(system, set, javaKey, javaValue));
      if (m_env->ExceptionCheck()) logPendingException("setProperty");
      if (old != nullptr) {
        previous = copyJavaString(m_env, old);
        m_env->DeleteLocalRef(old);
      }
    }
  }
  logPendingException("setProperty");
  m_env->DeleteLocalRef(javaKey);
  if (javaValue != nullptr) m_env->DeleteLocalRef(javaValue);
  return previous;
}
