// ReaderFactory and Reader.
#include "cardaccess/card/CSCard.h"
#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/card/CSCard_BankCard.h"
#include "cardaccess/card/CSCard_DTrustCard.h"
#include "cardaccess/card/CSCard_MSE.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/reader/CReader_PCSC.h"
#include "cardaccess/reader/PeerTable.h"
#include "cardaccess/scan/CwxReaderScan.h"
#include "foundation/base/FormatString.h"
#include "host/app/VApplication.h"
#include "host/jvm/natives/CardNatives.h"
#include "host/jvm/natives/JniBridge.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

using jnibridge::kCaught;
using jnibridge::kNoPeer;

namespace {

constexpr jint kNotSupported = static_cast<jint>(0x80000001u);
constexpr UINT kNoReaderQuestion = 2;

CReader* readerOf(JNIEnv* env, jobject self) { return peers::reader(jnibridge::getPeer(env, self)); }

// A new object of the class by its "()V" constructor with its peer set; NULL when a
// step fails (the VM's error left for Java).
jobject newWithPeer(JNIEnv* env, const char* className, jint peer) {
  jclass cls = env->FindClass(className);
  if (cls == nullptr) return nullptr;
  jobject object = nullptr;
  if (jmethodID init = env->GetMethodID(cls, "<init>", "()V")) object = env->NewObject(cls, init);
  if (object != nullptr) {
    jfieldID field = env->GetFieldID(cls, "peer", "I");
    if (field == nullptr) {
      env->DeleteLocalRef(object);
      object = nullptr;
    } else {
      env->SetIntField(object, field, peer);
    }
  }
  env->DeleteLocalRef(cls);
  return object;
}

// A Java string of a text in the ANSI code page. Reader names come from drivers and
// firmware: bytes that are no valid text become replacement characters instead of
// reaching the VM as broken modified UTF-8.
jstring newJavaString(JNIEnv* env, const char* text) {
  const int length = static_cast<int>(strlen(text));
  if (length == 0) return env->NewString(nullptr, 0);
  const int wide = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (wide <= 0) return nullptr;
  std::vector<WCHAR> chars(static_cast<size_t>(wide));
  MultiByteToWideChar(CP_ACP, 0, text, length, chars.data(), wide);
  return env->NewString(reinterpret_cast<const jchar*>(chars.data()), wide);
}

// The Java class of a card object's type; NULL for a type the Java layer has no class for.
const char* javaClassOf(CSCard* card) {
  if (dynamic_cast<CSCard_BankCard*>(card)) return "at/Quarvel/util/jni/BankCard";
  if (dynamic_cast<CSCard_ECardng*>(card)) return "at/Quarvel/util/jni/ECardng";
  if (dynamic_cast<CSCard_ECardG4*>(card)) return "at/Quarvel/util/jni/ECardG4";
  if (dynamic_cast<CSCard_aSignPCS*>(card)) return "at/Quarvel/util/jni/ASignPCS";
  if (dynamic_cast<CSCard_DTrustCard*>(card)) return "at/Quarvel/util/jni/DTrustCard";
  return nullptr;
}

// The int natives: no peer 0x8000000b, an exception 0x8000000a.
template <class Operation>
jint readerCall(JNIEnv* env, jobject self, Operation operation) {
  try {
    CReader* reader = readerOf(env, self);
    if (reader == nullptr) return kNoPeer;
    return operation(*reader);
  } catch (...) {
    return kCaught;
  }
}

// The string and boolean natives: no peer and an exception raise CardAdminException.
template <class Result, class Operation>
Result readerQuery(JNIEnv* env, jobject self, const char* method, Result failed, Operation operation) {
  const std::string name = std::string("Reader::") + method;
  CReader* reader = readerOf(env, self);
  if (reader == nullptr) {
    jnibridge::throwCardAdminException(env, kNoPeer, (name + ": No Peer found.").c_str());
    return failed;
  }
  try {
    return operation(*reader);
  } catch (...) {
    jnibridge::throwCardAdminException(env, kCaught, (name + ": Invalid Peer.").c_str());
    return failed;
  }
}

// The reader of the Reader0 settings; without one the user is asked to choose a
// reader, and the factory tries again with the choice.
jobject JNICALL getReader(JNIEnv* env, jclass) {
  try {
    for (;;) {
      if (CReader* reader = CReaderFactory::getInstance())
        return newWithPeer(env, "at/Quarvel/util/jni/Reader", peers::idOf(reader));
      char question[256] = {};
      LoadStringA(getApplication()->getInstanceHandle(), kNoReaderQuestion, question, 255);
      if (MessageBoxA(nullptr, question, "Information", MB_YESNO | MB_ICONQUESTION) != IDYES) return nullptr;
      int chosen = 0;
      {
        CwxReaderScan scan;
        chosen = scan.displayReaderDialog();
      }
      if (chosen != 1) return nullptr;
    }
  } catch (...) {
    return nullptr;
  }
}

// The argument's peer, not the receiver's. A reader already gone was not the
// factory's any more: 0.
jint JNICALL releaseInstance(JNIEnv* env, jclass, jobject reader) {
  try {
    const jint peer = jnibridge::getPeer(env, reader);
    if (peer == 0) return kNotSupported;
    CReader* native = peers::reader(peer);
    if (native == nullptr) return 0;
    return CReaderFactory::releaseInstance(native);
  } catch (...) {
    return kCaught;
  }
}

jobject JNICALL connect(JNIEnv* env, jobject self) {
  try {
    CReader* reader = readerOf(env, self);
    if (reader == nullptr) {
      jnibridge::throwCardAdminException(env, kNoPeer, "Reader::connect: No Peer found.");
      return nullptr;
    }
    int code;
    try {
      code = reader->connect(0);
    } catch (...) {
      code = kCaught;
    }
    if (code != 0) {
      jnibridge::throwCardAdminException(env, code, "Reader::connect: keine Karte.");
      return nullptr;
    }
    CSCard* card = reader->getCard();
    const char* className = javaClassOf(card);
    if (className == nullptr) return nullptr;
    return newWithPeer(env, className, peers::idOf(card));
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL disconnect(JNIEnv* env, jobject self) {
  return readerCall(env, self, [](CReader& r) { return r.disconnect(); });
}

jstring JNICALL getName(JNIEnv* env, jobject self) {
  try {
    return readerQuery<jstring>(env, self, "getName", nullptr, [env](CReader& r) -> jstring {
      const char* name = r.getName();
      return name == nullptr || *name == '\0' ? nullptr : newJavaString(env, name);
    });
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL getStatus(JNIEnv* env, jobject self) {
  return readerCall(env, self, [](CReader& r) { return r.getStatus(1); });
}

jboolean JNICALL shallUseGUI(JNIEnv* env, jobject self) {
  try {
    return readerQuery<jboolean>(env, self, "shallUseGUI", JNI_FALSE, [](CReader& r) -> jboolean {
      return r.shallUseGUI() ? JNI_TRUE : JNI_FALSE;
    });
  } catch (...) {
    return JNI_FALSE;
  }
}

jint JNICALL modifyVerification(JNIEnv* env, jobject self, jint kid, jint format, jint length) {
  return readerCall(env, self, [&](CReader& r) {
    return r.modifyVerification(static_cast<unsigned char>(kid), format, length);
  });
}

jint JNICALL performVerification(JNIEnv* env, jobject self, jint kid, jint format, jint length) {
  return readerCall(env, self, [&](CReader& r) {
    return r.performVerification(static_cast<unsigned char>(kid), format, length, 6, 0, nullptr, nullptr, nullptr);
  });
}

// Answers the detailed result the reader wrote, 0 when it wrote none (also without
// peer or arrays).
jint JNICALL performVerification_EXT(JNIEnv* env, jobject self, jint kid, jint format, jint length, jint position,
                                     jint timeOut, jbyteArray apdu, jbyteArray display) {
  int status = 0;
  try {
    CReader* reader = readerOf(env, self);
    if (reader == nullptr) return 0;
    jnibridge::ArrayCopy first(env, apdu);
    if (!first.ok()) return 0;
    jnibridge::ArrayCopy second(env, display);
    if (!second.ok()) return 0;
    reader->performVerification(static_cast<unsigned char>(kid), format, length, position,
                                static_cast<unsigned char>(timeOut), &first.bytes(), &second.bytes(), &status);
  } catch (...) {
  }
  return status;
}

jboolean JNICALL isSecure(JNIEnv* env, jobject self) {
  try {
    return readerQuery<jboolean>(env, self, "isSecure", JNI_FALSE,
                                 [](CReader& r) -> jboolean { return r.isSecure() ? JNI_TRUE : JNI_FALSE; });
  } catch (...) {
    return JNI_FALSE;
  }
}

jint JNICALL reset(JNIEnv* env, jobject self, jboolean cold) {
  try {
    return readerQuery<jint>(env, self, "reset", kNoPeer, [cold](CReader& r) { return r.reset(cold != JNI_FALSE); });
  } catch (...) {
    return kCaught;
  }
}

jint JNICALL activateVerification(JNIEnv* env, jobject self, jint kid, jint format, jint length) {
  return readerCall(env, self, [&](CReader& r) {
    return r.activateVerification(static_cast<unsigned char>(kid), format, length);
  });
}

// The reader's second name: the driver of a CT-API reader, the PC/SC reader's own
// name of a PC/SC reader (the one way Java learns which PC/SC reader it uses).
jstring JNICALL getCTAPIName(JNIEnv* env, jobject self) {
  try {
    return readerQuery<jstring>(env, self, "getCTAPIName", nullptr, [env](CReader& r) -> jstring {
      const char* name = r.getCTAPIName();
      return name == nullptr || *name == '\0' ? nullptr : newJavaString(env, name);
    });
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL activateVerification_KOBIL(JNIEnv* env, jobject self, jint kid, jint format, jint length) {
  return readerCall(env, self, [&](CReader& r) {
    return r.activateVerification_KOBIL(static_cast<unsigned char>(kid), format, length);
  });
}

const JNINativeMethod kReaderFactory[] = {
    QUARVEL_NATIVE(getReader, "()Lat/Quarvel/util/jni/Reader;"),
    QUARVEL_NATIVE(releaseInstance, "(Lat/Quarvel/util/jni/Reader;)I"),
};

const JNINativeMethod kReader[] = {
    QUARVEL_NATIVE(connect, "()Lat/Quarvel/util/jni/SCard;"),
    QUARVEL_NATIVE(disconnect, "()I"),
    QUARVEL_NATIVE(getName, "()Ljava/lang/String;"),
    QUARVEL_NATIVE(getStatus, "()I"),
    QUARVEL_NATIVE(shallUseGUI, "()Z"),
    QUARVEL_NATIVE(modifyVerification, "(III)I"),
    QUARVEL_NATIVE(performVerification, "(III)I"),
    QUARVEL_NATIVE(performVerification_EXT, "(IIIII[B[B)I"),
    QUARVEL_NATIVE(isSecure, "()Z"),
    QUARVEL_NATIVE(reset, "(Z)I"),
    QUARVEL_NATIVE(activateVerification, "(III)I"),
    QUARVEL_NATIVE(getCTAPIName, "()Ljava/lang/String;"),
    QUARVEL_NATIVE(activateVerification_KOBIL, "(III)I"),
};

}  // namespace

NativeTable readerFactoryNatives() { return {kReaderFactory, 2}; }
NativeTable readerNatives() { return {kReader, 13}; }

// The natives are the program's only road to the cards: card recognition is put
// in place before the first reader can be had.
void registerReaderFactoryNatives(JNIEnv* env, jobject, jclass cls) {
  try {
    CSCardFactory::install();
  } catch (...) {
  }
  jnibridge::registerTable(env, cls, readerFactoryNatives());
}

void registerReaderNatives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, readerNatives()); }
