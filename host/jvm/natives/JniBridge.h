// What the reader, card and card-type natives share: the peer of a Java object,
// the Java exception CardAdminException, the copy of input byte arrays, the making
// of result arrays, and the logging of a failed registration.
//
// A native never lets a C++ exception reach the VM, and after a JNI call that failed
// it calls nothing but Release*, ExceptionCheck, ExceptionClear and DeleteLocalRef
// before it returns.
#pragma once

#include <jni.h>

#include "host/jvm/LauncherNatives.h"

#include <string>

namespace jnibridge {

// The bridge's own codes: no peer (also an input array that cannot be had, an
// unknown file handle) and an exception caught in the native operation.
constexpr jint kNoPeer = static_cast<jint>(0x8000000bu);
constexpr jint kCaught = static_cast<jint>(0x8000000au);

// The object's int field "peer"; 0 for NULL, a class without the field (its
// NoSuchFieldError cleared) or a field holding 0.
jint getPeer(JNIEnv* env, jobject object);

// A new CardAdminException(code, message), or NULL when it cannot be made (the
// local references made so far deleted).
jthrowable newCardAdminException(JNIEnv* env, jint code, const char* message);
// Builds, throws and drops the local reference; nothing when it cannot be built.
void throwCardAdminException(JNIEnv* env, jint code, const char* message);
// The pending exception cleared and its stack trace printed (System.err).
void logJavaException(JNIEnv* env);

// An input byte array copied into owned bytes of its exact length; its elements are
// released (JNI_ABORT) before the constructor returns. ok() is false for NULL or when
// the elements cannot be had (the VM's error then cleared, so the native's own code
// reaches Java). The copy is wiped when it goes, since it may hold a PIN.
class ArrayCopy {
 public:
  ArrayCopy(JNIEnv* env, jbyteArray array);
  ~ArrayCopy();
  ArrayCopy(const ArrayCopy&) = delete;
  ArrayCopy& operator=(const ArrayCopy&) = delete;
  bool ok() const { return m_ok; }
  const std::string& bytes() const { return m_bytes; }

 private:
  std::string m_bytes;
  bool m_ok = false;
};

// A new byte array with the bytes, content committed; NULL when the VM cannot make it.
jbyteArray newByteArray(JNIEnv* env, const std::string& bytes);
// The same, but NULL for no bytes.
jbyteArray toByteArray(JNIEnv* env, const std::string& bytes);

// RegisterNatives with the table; the Java exception logged when it fails.
void registerTable(JNIEnv* env, jclass cls, NativeTable table);

}  // namespace jnibridge

// A table entry: the Java name, the JNI signature and the function of that name.
#define QUARVEL_NATIVE(name, signature) \
  { const_cast<char*>(#name), const_cast<char*>(signature), reinterpret_cast<void*>(&name) }
