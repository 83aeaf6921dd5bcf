#include "host/jvm/JavaException.h"

#include <cstring>

std::unique_ptr<char[]> copyJavaString(JNIEnv* env, jstring text) {
  if (env == nullptr || text == nullptr) return nullptr;
  const jsize length = env->GetStringUTFLength(text);
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (chars == nullptr) {
    env->ExceptionClear();  // OutOfMemoryError: the text is simply not there
    return nullptr;
  }
  std::unique_ptr<char[]> copy(new char[static_cast<size_t>(length) + 1]);
  std::memcpy(copy.get(), chars, static_cast<size_t>(length));
  copy[static_cast<size_t>(length)] = '\0';
  env->ReleaseStringUTFChars(text, chars);
  return copy;
}

std::unique_ptr<char[]> takeJavaException(JNIEnv* env) {
  if (env == nullptr || !env->ExceptionCheck()) return nullptr;
  jthrowable thrown = env->ExceptionOccurred();
  env->ExceptionClear();
  if (thrown == nullptr) return nullptr;
  std::unique_ptr<char[]> text;
  if (jclass cls = env->GetObjectClass(thrown)) {
    jmethodID toString = env->GetMethodID(cls, "toString", "()Ljava/lang/String;");
    if (toString == nullptr) {
      env->ExceptionClear();
    } else {
      auto value = static_cast<jstring>(env->CallObjectMethod(thrown, toString));
      if (env->ExceptionCheck()) env->ExceptionClear();
      text = copyJavaString(env, value);
      if (value != nullptr) env->DeleteLocalRef(value);
    }
    jmethodID printStackTrace = env->GetMethodID(cls, "printStackTrace", "()V");
    if (printStackTrace == nullptr) {
      env->ExceptionClear();
    } else {
      env->CallVoidMethod(thrown, printStackTrace);
      if (env->ExceptionCheck()) env->ExceptionClear();
    }
    env->DeleteLocalRef(cls);
  }
  env->DeleteLocalRef(thrown);
  return text;
}
