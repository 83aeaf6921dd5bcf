// Pending Java exceptions, taken on the thread whose environment is given.
#pragma once

#include <jni.h>

#include <memory>

// The text (toString) of the exception pending in env, or NULL when none is pending
// or it has no text. The exception is cleared and its stack trace printed (System.err,
// that is the Java log); nothing is left pending, also when toString or
// printStackTrace throw.
std::unique_ptr<char[]> takeJavaException(JNIEnv* env);

// A heap copy of a Java string's modified UTF-8 text, or NULL.
std::unique_ptr<char[]> copyJavaString(JNIEnv* env, jstring text);
