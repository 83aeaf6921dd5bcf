#include "host/jvm/natives/JniBridge.h"

#include <openssl/crypto.h>

namespace jnibridge {

jint getPeer(JNIEnv* env, jobject object) {
  if (object == nullptr) return 0;
  jclass cls = env->GetObjectClass(object);
  if (cls == nullptr) return 0;
  jfieldID field = env->GetFieldID(cls, "peer", "I");
  env->DeleteLocalRef(cls);
  if (field == nullptr) {
    env->ExceptionClear();  // NoSuchFieldError: the object simply has no peer
    return 0;
  }
  return env->GetIntField(object, field);
}

jthrowable newCardAdminException(JNIEnv* env, jint code, const char* message) {
  jclass cls = env->FindClass("at/Quarvel/util/jni/CardAdminException");
  if (cls == nullptr) return nullptr;
  jmethodID init = env->GetMethodID(cls, "<init>", "(ILjava/lang/String;)V");
  if (init == nullptr) {
    env->DeleteLocalRef(cls);
    return nullptr;
  }
  jstring text = env->NewStringUTF(message);
  if (text == nullptr) {
    env->DeleteLocalRef(cls);
    return nullptr;
  }
  auto thrown = static_cast<jthrowable>(env->NewObject(cls, init, code, text));
  env->DeleteLocalRef(text);
  env->DeleteLocalRef(cls);
  return thrown;
}

void throwCardAdminException(JNIEnv* env, jint code, const char* message) {
  jthrowable thrown = newCardAdminException(env, code, message);
  if (thrown == nullptr) return;
  env->Throw(thrown);
  env->DeleteLocalRef(thrown);
}

void logJavaException(JNIEnv* env) {
  if (!env->ExceptionCheck()) return;
  jthrowable thrown = env->ExceptionOccurred();
  env->ExceptionClear();
  if (thrown == nullptr) return;
  if (jclass cls = env->GetObjectClass(thrown)) {
    jmethodID print = env->GetMethodID(cls, "printStackTrace", "()V");
    if (print == nullptr) {
      env->ExceptionClear();
    } else {
      env->CallVoidMethod(thrown, print);
      if (env->ExceptionCheck()) env->ExceptionClear();
    }
    env->DeleteLocalRef(cls);
  }
  env->DeleteLocalRef(thrown);
}

ArrayCopy::ArrayCopy(JNIEnv* env, jbyteArray array) {
  if (array == nullptr) return;
  const jsize length = env->GetArrayLength(array);
  jbyte* elements = env->GetByteArrayElements(array, nullptr);
  if (elements == nullptr) {
    env->ExceptionClear();
    return;
  }
  try {
    m_bytes.assign(reinterpret_cast<const char*>(elements), static_cast<size_t>(length));
    m_ok = true;
  } catch (...) {
    m_ok = false;
  }
  env->ReleaseByteArrayElements(array, elements, JNI_ABORT);
}

ArrayCopy::~ArrayCopy() {
  if (!m_bytes.empty()) OPENSSL_cleanse(&m_bytes[0], m_bytes.size());
}

jbyteArray newByteArray(JNIEnv* env, const std::string& bytes) {
  const auto length = static_cast<jsize>(bytes.size());
  jbyteArray array = env->NewByteArray(length);
  if (array == nullptr) return nullptr;
  if (length > 0) {
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(bytes.data()));
    if (env->ExceptionCheck()) {
      env->DeleteLocalRef(array);
      return nullptr;
    }
  }
  return array;
}

jbyteArray toByteArray(JNIEnv* env, const std::string& bytes) {
  return bytes.empty() ? nullptr : newByteArray(env, bytes);
}

void registerTable(JNIEnv* env, jclass cls, NativeTable table) {
  if (env->RegisterNatives(cls, table.methods, table.count) != 0) logJavaException(env);
}

}  // namespace jnibridge
