// The per-class registration routines of the JNI natives (reader, card, card-type,
// application, window-service and hash natives). The Java VM host calls each, in the
// order of nativeRegistrations(), with its environment, 0 and the class it found;
// classes it did not find are skipped. A routine registers its class's table and logs
// the Java exception when RegisterNatives fails.
#pragma once

#include <jni.h>

using RegisterNativesRoutine = void (*)(JNIEnv* env, jobject unused, jclass cls);

struct NativeRegistration {
  const char* className;           // slashed, as cached by the host
  RegisterNativesRoutine routine;  // NULL while the class has no natives built yet
};

// The thirteen classes of at/Quarvel/util/jni in registration order.
const NativeRegistration* nativeRegistrations(int* count);

// ECard declares no natives of its own.
void registerECardNatives(JNIEnv* env, jobject unused, jclass cls);
