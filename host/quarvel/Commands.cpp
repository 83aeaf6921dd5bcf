#include "host/quarvel/Commands.h"

#include "foundation/archive/InstallDir.h"
#include "foundation/core/CKonfigurator.h"
#include "foundation/core/CLogable.h"
#include "host/app/application_secure.h"
#include "host/jvm/CJVMFactory.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

constexpr const char* kResponderInstanceSignature = "()Lat/Quarvel/riverod/responder/WebClient;";

// The local references made while it lives are freed together when it ends: the window
// thread never returns to Java, so references it made would otherwise live for good.
class LocalFrame {
 public:
  explicit LocalFrame(JNIEnv* env) : m_env(env), m_pushed(env->PushLocalFrame(16) == 0) {}
  LocalFrame(const LocalFrame&) = delete;
  LocalFrame& operator=(const LocalFrame&) = delete;
  ~LocalFrame() {
    if (m_pushed) m_env->PopLocalFrame(nullptr);
  }
  bool pushed() const { return m_pushed; }

 private:
  JNIEnv* m_env;
  bool m_pushed;
};

// The class (a dotted name) from the host's cache, else found by the application's
// class loader; NULL when it cannot be found (the loader's exception is cleared).
jclass applicationClass(CJVMFactory* host, const char* name) {
  jclass cls = host->getClass(name);
  if (cls == nullptr) {
    if (!host->findClass(name)) host->getExceptionMessage();
    cls = host->getClass(name);
  }
  return cls;
}

// The responder's class name, the settings' Main-Class; empty when there is none.
std::string responderClassName() {
  std::string name;
  CKonfigurator* konfigurator = CKonfigurator::getInstance();
  if (konfigurator == nullptr ||
      konfigurator->get("SecureInternal", konfigKey("Main-Class"), konfigOut(&name)) != 0)
    return {};
  return name;
}

// Runs `call` with the host and its environment inside a local frame of its own, and
// clears the Java exception it left. Nothing without a Java VM.
void withJava(const std::function<void(CJVMFactory*, JNIEnv*)>& call) {
  CJVMFactory* host = CJVMFactory::getInstance();
  JNIEnv* env = host->getEnv();
  if (env == nullptr) return;
  LocalFrame frame(env);
  if (frame.pushed()) call(host, env);
  host->getExceptionMessage();
}

// Calls the responder's instance method that `choose` names once the responder's
// class is known.
void callResponderMethod(const std::function<const char*()>& choose) {
  withJava([&choose](CJVMFactory* host, JNIEnv* env) {
    jobject instance = getResponderInstance();
    const std::string name = responderClassName();
    jclass cls = name.empty() ? nullptr : host->getClass(name.c_str());
    if (cls == nullptr) return;
    jmethodID method = env->GetMethodID(cls, choose(), "()V");
    if (method != nullptr && instance != nullptr) env->CallVoidMethod(instance, method);
  });
}

}  // namespace

void startJavaClass(const char* className) {
  withJava([className](CJVMFactory* host, JNIEnv* env) {
    jclass cls = applicationClass(host, className);
    if (cls == nullptr) return;
    if (jmethodID main = env->GetStaticMethodID(cls, "main", "()V")) env->CallStaticVoidMethod(cls, main);
  });
}

jobject getResponderInstance() {
  CJVMFactory* host = CJVMFactory::getInstance();
  JNIEnv* env = host->getEnv();
  const std::string name = responderClassName();
  if (env == nullptr || name.empty()) return nullptr;
  jobject instance = nullptr;
  if (jclass cls = applicationClass(host, name.c_str())) {
    if (jmethodID method = env->GetStaticMethodID(cls, "getInstance", kResponderInstanceSignature))
      instance = env->CallStaticObjectMethod(cls, method);
  }
  host->getExceptionMessage();
  return instance;
}

void callResponder(const char* method) {
  callResponderMethod([method] { return method; });
}

void toggleLogging(int* loggingOn) {
  callResponderMethod([loggingOn] {
    const char* method = *loggingOn ? "disableLogging" : "enableLogging";
    *loggingOn = !*loggingOn;
    return method;
  });
}

void pushUseInfoboxPin() {
  callResponderMethod([] { return useInfoboxPinEnabled() ? "enableUseInfoboxPin" : "disableUseInfoboxPin"; });
}

void runUpdater() {
  char installDir[256];
  if (readInstallDir(installDir, sizeof installDir) != 1) return;
  const std::string updater = std::string(installDir) + "\\ZadeVuzadiVerovu.exe";
  ShellExecuteA(nullptr, "open", updater.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void runSignFileDialog(const char* path) {
  // The path as Java's characters: UTF-8 checked and turned into UTF-16 before any
  // Java call (NewStringUTF would read it as modified UTF-8).
  std::u16string characters;
  if (path != nullptr && *path != '\0') {
    const int length = static_cast<int>(std::strlen(path));
    // The hand-off sends UTF-8, whatever the machine's ANSI code page.
    const int count = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, length, nullptr, 0);
    if (count <= 0) {
      logMessage("runSignFileDialog: the path is not valid UTF-8; the request is refused.\n", 0, 0);
      return;
    }
    characters.resize(static_cast<size_t>(count));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, length, reinterpret_cast<LPWSTR>(characters.data()),
                        count);
  }
  withJava([path, &characters](CJVMFactory* host, JNIEnv* env) {
    jclass cls = applicationClass(host, "at.Quarvel.riverod.admin.JDlgSignFile");
    if (cls == nullptr) return;
    jmethodID main = env->GetStaticMethodID(cls, "main", "([Ljava/lang/String;)V");
    if (main == nullptr) return;
    if (path == nullptr) {
      env->CallStaticVoidMethod(cls, main, nullptr);
      return;
    }
    jstring text = env->NewString(reinterpret_cast<const jchar*>(characters.data()),
                                  static_cast<jsize>(characters.size()));
    jclass stringClass = text != nullptr ? env->FindClass("java/lang/String") : nullptr;
    jobjectArray arguments = stringClass != nullptr ? env->NewObjectArray(1, stringClass, text) : nullptr;
    if (arguments != nullptr) env->CallStaticVoidMethod(cls, main, arguments);
  });
}
