// The natives of the Java application's start-up classes: the console stream
// (VOQOutputStream.VOQwrite), the class loader (LauncherLoader.registerNatives,
// getRootKey, addPath) and the root key (VOQPublicKey.myGetEncoded); and the
// program's command-line accessors.
//
// Every native takes the environment it is called with (never the host's stored
// one) and catches everything at its boundary, answering its failure value.
#pragma once

#include <jni.h>

// The number of command-line arguments, program name included.
int getArgc();
// The argument at index; NULL when index is not below getArgc().
const char* getArgv(int index);

// The tables that the Java VM host registers, in its order.
struct NativeTable {
  const JNINativeMethod* methods;
  jint count;
};
NativeTable voqOutputStreamNatives();
NativeTable launcherLoaderNatives();
NativeTable voqPublicKeyNatives();
