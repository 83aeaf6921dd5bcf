#include "host/jvm/LauncherNatives.h"

#include "foundation/base/VDelimitedString.h"
#include "foundation/core/CKonfigurator.h"
#include "foundation/core/CLogable.h"
#include "host/jvm/CJVMFactory.h"
#include "host/jvm/JavaException.h"
#include "host/jvm/JavaLog.h"
#include "host/jvm/LauncherRootKey.h"

#include <windows.h>


#include <string>
#include <vector>

int getArgc() { return __argc; }

const char* getArgv(int index) {
  if (index < 0 || index >= __argc || __argv == nullptr) return nullptr;
  return __argv[index];
}

namespace {

constexpr size_t kLogLineSize = 256;
constexpr size_t kRootKeyBufferSize = 2048;

// A pending exception of a native's own work: its text logged as "addPath: %s.\n"
// when asked, its stack trace in the Java log, nothing left pending.
void logFailure(JNIEnv* env, bool withText) {
  std::unique_ptr<char[]> text = takeJavaException(env);
  if (withText && text) {
    char line[kLogLineSize];
    _snprintf_s(line, sizeof line, _TRUNCATE, "addPath: %s.\n", text.get());
    logMessage(line, 0, 0);
  }
}

template <class T>
struct LocalRef {
  JNIEnv* env;
  T ref;
  ~LocalRef() {
    if (ref != nullptr) env->DeleteLocalRef(ref);
  }
};

// new File(fileBase, entry).toURL() handed to the loader's addURL. Every step that
// may throw is checked before the next JNI call.
void addEntry(JNIEnv* env, jobject loader, const char* entry) {
  jclass loaderClass = CJVMFactory::getInstance()->getClass("at/Quarvel/util/LauncherLoader");
  if (loaderClass == nullptr) return;
  jfieldID fileBaseField = env->GetFieldID(loaderClass, "fileBase", "Ljava/io/File;");
  if (fileBaseField == nullptr) return logFailure(env, true);
  LocalRef<jobject> fileBase{env, env->GetObjectField(loader, fileBaseField)};
  LocalRef<jclass> fileClass{env, env->FindClass("java/io/File")};
  if (fileClass.ref == nullptr) return logFailure(env, true);
  LocalRef<jstring> name{env, env->NewStringUTF(entry)};
  if (name.ref == nullptr) return logFailure(env, true);
  jmethodID fileInit = env->GetMethodID(fileClass.ref, "<init>", "(Ljava/io/File;Ljava/lang/String;)V");
  if (fileInit == nullptr) return logFailure(env, true);
  LocalRef<jobject> file{env, env->NewObject(fileClass.ref, fileInit, fileBase.ref, name.ref)};
  if (file.ref == nullptr || env->ExceptionCheck()) return logFailure(env, true);
  jmethodID toURL = env->GetMethodID(fileClass.ref, "toURL", "()Ljava/net/URL;");
  if (toURL == nullptr) return logFailure(env, true);
  LocalRef<jobject> url{env, env->CallObjectMethod(file.ref, toURL)};
  if (url.ref == nullptr || env->ExceptionCheck()) return logFailure(env, true);
  jmethodID addURL = env->GetMethodID(loaderClass, "addURL", "(Ljava/net/URL;)V");
  if (addURL == nullptr) return logFailure(env, true);
  env->CallVoidMethod(loader, addURL, url.ref);
  logFailure(env, true);
}

void JNICALL VOQwrite(JNIEnv*, jobject, jint character, jint level) {
  const char c = static_cast<char>(character);
  writeJavaLog(level, &c, 1);  // never throws
}

jboolean JNICALL registerNatives(JNIEnv*, jobject, jstring, jclass) { return JNI_FALSE; }

jobject JNICALL getRootKey(JNIEnv* env, jobject) {
  try {
    LocalRef<jclass> keyClass{env, env->FindClass("at/Quarvel/util/VOQPublicKey")};
    if (keyClass.ref == nullptr) {
      logFailure(env, false);
      return nullptr;
    }
    jmethodID init = env->GetMethodID(keyClass.ref, "<init>", "()V");
    jobject key = init != nullptr ? env->NewObject(keyClass.ref, init) : nullptr;
    if (key == nullptr || env->ExceptionCheck()) {
      logFailure(env, false);
      if (key != nullptr) env->DeleteLocalRef(key);
      return nullptr;
    }
    return key;
  } catch (...) {
    logFailure(env, false);
    return nullptr;
  }
}

jboolean JNICALL addPath(JNIEnv* env, jobject self) {
  try {
    std::string classPath;
    CKonfigurator* konfigurator = CKonfigurator::getInstance();
    if (konfigurator == nullptr ||
        konfigurator->get("SecureInternal", konfigKey("ClassPath"), konfigOut(&classPath)) != 0)
      return JNI_TRUE;
    std::vector<char> text(classPath.begin(), classPath.end());
    text.push_back('\0');
    VDelimitedString entries(text.data(), ';');
    while (const char* entry = entries.next(false)) {
      char line[kLogLineSize];
      _snprintf_s(line, sizeof line, _TRUNCATE, "LauncherLoader: Loading Archive: %s.\n", entry);
      logMessage(line, 0, 0);
      addEntry(env, self, entry);
    }
    return JNI_FALSE;
  } catch (...) {
    logFailure(env, false);
    return JNI_TRUE;
  }
}

jbyteArray JNICALL myGetEncoded(JNIEnv* env, jobject) {
  try {
    unsigned char buffer[kRootKeyBufferSize];
    Blob key{sizeof buffer, buffer};
    if (buildLauncherRootKey(&key) != 1) return nullptr;
    jbyteArray array = env->NewByteArray(static_cast<jsize>(key.length));
    if (array == nullptr) {
      logFailure(env, false);
      return nullptr;
    }
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(key.length), reinterpret_cast<const jbyte*>(key.data));
    if (env->ExceptionCheck()) {
      logFailure(env, false);
      env->DeleteLocalRef(array);
      return nullptr;
    }
    return array;
  } catch (...) {
    logFailure(env, false);
    return nullptr;
  }
}

const JNINativeMethod kOutputStream[] = {
    {const_cast<char*>("VOQwrite"), const_cast<char*>("(II)V"), reinterpret_cast<void*>(&VOQwrite)},
};
const JNINativeMethod kLoader[] = {
    {const_cast<char*>("registerNatives"), const_cast<char*>("(Ljava/lang/String;Ljava/lang/Class;)Z"),
     reinterpret_cast<void*>(&registerNatives)},
    {const_cast<char*>("getRootKey"), const_cast<char*>("()Ljava/security/PublicKey;"),
     reinterpret_cast<void*>(&getRootKey)},
    {const_cast<char*>("addPath"), const_cast<char*>("()Z"), reinterpret_cast<void*>(&addPath)},
};
const JNINativeMethod kPublicKey[] = {
    {const_cast<char*>("myGetEncoded"), const_cast<char*>("()[B"), reinterpret_cast<void*>(&myGetEncoded)},
};

}  // namespace

NativeTable voqOutputStreamNatives() { return {kOutputStream, 1}; }
NativeTable launcherLoaderNatives() { return {kLoader, 3}; }
NativeTable voqPublicKeyNatives() { return {kPublicKey, 1}; }
