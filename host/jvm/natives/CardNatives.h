// The natives of the Java classes ReaderFactory, Reader, SCard and the card-type
// classes (at/Quarvel/util/jni): their tables and registration routines. A Java
// object names its reader or card by the peer id of the handle table
// (cardaccess/reader/PeerTable.h); an unknown or stale id counts as no peer.
#pragma once

#include <jni.h>

#include "host/jvm/LauncherNatives.h"

// The tables in registration order, for the routines and for tests that call a
// native directly.
NativeTable readerFactoryNatives();
NativeTable readerNatives();
NativeTable sCardNatives();
NativeTable bankCardNatives();
// unblockPIN (I[B[B)I, one body for ASignPCS, ECardG4, ECardng, OCard and TrustSign.
NativeTable pukCardNatives();

// Each registers its class's table and logs the Java exception when that fails.
void registerReaderFactoryNatives(JNIEnv* env, jobject unused, jclass cls);
void registerReaderNatives(JNIEnv* env, jobject unused, jclass cls);
void registerSCardNatives(JNIEnv* env, jobject unused, jclass cls);
void registerBankCardNatives(JNIEnv* env, jobject unused, jclass cls);
void registerECardngNatives(JNIEnv* env, jobject unused, jclass cls);
void registerECardG4Natives(JNIEnv* env, jobject unused, jclass cls);
void registerASignPCSNatives(JNIEnv* env, jobject unused, jclass cls);
void registerOCardNatives(JNIEnv* env, jobject unused, jclass cls);
void registerTrustSignNatives(JNIEnv* env, jobject unused, jclass cls);
