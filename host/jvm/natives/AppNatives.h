// The natives of the Java classes Application (where the program is installed and
// what it is called), JUtil (windows and programs of the desktop) and Hash (a digest
// made on the host): their tables and registration routines. None of them uses a peer,
// and none uses its class argument.
#pragma once

#include <jni.h>

#include "host/jvm/LauncherNatives.h"

#include <memory>

// The tables in registration order, for the routines and for tests that call a native
// directly.
NativeTable applicationNatives();
NativeTable jUtilNatives();
NativeTable hashNatives();

void registerApplicationNatives(JNIEnv* env, jobject unused, jclass cls);
void registerJUtilNatives(JNIEnv* env, jobject unused, jclass cls);
void registerHashNatives(JNIEnv* env, jobject unused, jclass cls);

// A Java string as NUL-terminated ANSI text (its UTF-16 characters through the ANSI
// code page), or NULL for a null or empty string or one that cannot be converted.
std::unique_ptr<char[]> jstringToAnsi(JNIEnv* env, jstring text);
