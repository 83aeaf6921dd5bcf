// ReaderFactory and Reader.
#include "cardaccess/card/CSCard.h"
#include "cardaccess/card/CSCardFactory.h"
#include "cardaccess/card/CSCard_BankCard.h"
#include "cardaccess/card/CSCard_DTrustCard.h"
#include "cardaccess/card/CSCard_MSE.h"
#include "cardaccess/reader/CReaderFactory.h"
#include "cardaccess/reader/PeerTable.h"
#include "cardaccess/scan/CwxReaderScan.h"
#include "host/app/VApplication.h"
#include "host/jvm/natives/CardNatives.h"
#include "host/jvm/natives/JniBridge.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using jnibridge::kCaught;
using jnibridge::kNoPeer;
using peers::Held;
using peers::Locked;

namespace {

constexpr jint kNotSupported = static_cast<jint>(0x80000001u);
constexpr UINT kNoReaderQuestion = 2;

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

// The int natives: no peer 0x8000000b, an exception 0x8000000a. The operation runs
// under the reader's lock (PeerTable.h).
template <class Operation>
jint readerCall(JNIEnv* env, jobject self, Operation operation) {
  try {
    const Held held = Held::reader(jnibridge::getPeer(env, self));
    if (!held) return kNoPeer;
    Locked locked(held);
    if (locked.reader() == nullptr) return kNoPeer;
    return operation(*locked.reader());
  } catch (...) {
    return kCaught;
  }
}

// The string, boolean and reset natives: the reader's answer into value, taken under
// its lock; no peer and an exception raise CardAdminException (false returned). The
// Java result is made after the lock is given back.
template <class Value, class Operation>
bool readerQuery(JNIEnv* env, jobject self, const char* method, Value& value, Operation operation) {
  jint code = kNoPeer;
  try {
    const Held held = Held::reader(jnibridge::getPeer(env, self));
    if (held) {
      Locked locked(held);
      if (locked.reader() != nullptr) {
        value = operation(*locked.reader());
        code = 0;
      }
    }
  } catch (...) {
    code = kCaught;
  }
  if (code == 0) return true;
  const std::string name = std::string("Reader::") + method;
  jnibridge::throwCardAdminException(env, code, (name + (code == kNoPeer ? ": No Peer found." : ": Invalid Peer.")).c_str());
  return false;
}

// A name as a Java string, NULL for none.
jstring nameResult(JNIEnv* env, bool answered, const std::string& name) {
  return answered && !name.empty() ? newJavaString(env, name.c_str()) : nullptr;
}

// The reader of the Reader0 settings; without one the user is asked to choose a
// reader, and the factory tries again with the choice.
jobject JNICALL getReader(JNIEnv* env, jclass) {
  try {
    for (;;) {
      if (std::shared_ptr<CReader> reader = CReaderFactory::getSharedInstance())
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

// The argument's peer, not the receiver's. A reader already released is not the
// factory's any more: 0. Held, not locked: the release waits for a call under way.
jint JNICALL releaseInstance(JNIEnv* env, jclass, jobject reader) {
  try {
    const jint peer = jnibridge::getPeer(env, reader);
    if (peer == 0) return kNotSupported;
    const Held held = Held::reader(peer);
    if (!held) return 0;
    return CReaderFactory::releaseInstance(held.owner().get());
  } catch (...) {
    return kCaught;
  }
}

jobject JNICALL connect(JNIEnv* env, jobject self) {
  try {
    int code = kNoPeer;
    const char* className = nullptr;
    int cardId = 0;
    {
      const Held held = Held::reader(jnibridge::getPeer(env, self));
      if (held) {
        Locked locked(held);
        if (CReader* reader = locked.reader()) {
          try {
            code = reader->connect(0);
          } catch (...) {
            code = kCaught;
          }
          if (code == 0) {
            CSCard* card = reader->getCard();
            className = javaClassOf(card);
            if (className != nullptr) cardId = peers::idOf(card, held.owner());
          }
        }
      }
    }
    if (code == kNoPeer) {
      jnibridge::throwCardAdminException(env, kNoPeer, "Reader::connect: No Peer found.");
      return nullptr;
    }
    if (code != 0) {
      jnibridge::throwCardAdminException(env, code, "Reader::connect: keine Karte.");
      return nullptr;
    }
    if (className == nullptr) return nullptr;
    return newWithPeer(env, className, cardId);
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL disconnect(JNIEnv* env, jobject self) {
  return readerCall(env, self, [](CReader& r) { return r.disconnect(); });
}

jstring JNICALL getName(JNIEnv* env, jobject self) {
  try {
    std::string name;
    const bool answered = readerQuery(env, self, "getName", name, [](CReader& r) {
      const char* text = r.getName();
      return std::string(text ? text : "");
    });
    return nameResult(env, answered, name);
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL getStatus(JNIEnv* env, jobject self) {
  return readerCall(env, self, [](CReader& r) { return r.getStatus(1); });
}

jboolean JNICALL shallUseGUI(JNIEnv* env, jobject self) {
  try {
    bool flag = false;
    return readerQuery(env, self, "shallUseGUI", flag, [](CReader& r) { return r.shallUseGUI() != 0; }) && flag
               ? JNI_TRUE
               : JNI_FALSE;
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
    const Held held = Held::reader(jnibridge::getPeer(env, self));
    if (!held) return 0;
    jnibridge::ArrayCopy first(env, apdu);
    if (!first.ok()) return 0;
    jnibridge::ArrayCopy second(env, display);
    if (!second.ok()) return 0;
    Locked locked(held);
    if (CReader* reader = locked.reader())
      reader->performVerification(static_cast<unsigned char>(kid), format, length, position,
                                  static_cast<unsigned char>(timeOut), &first.bytes(), &second.bytes(), &status);
  } catch (...) {
  }
  return status;
}

jboolean JNICALL isSecure(JNIEnv* env, jobject self) {
  try {
    bool flag = false;
    return readerQuery(env, self, "isSecure", flag, [](CReader& r) { return r.isSecure() != 0; }) && flag ? JNI_TRUE
                                                                                                          : JNI_FALSE;
  } catch (...) {
    return JNI_FALSE;
  }
}

jint JNICALL reset(JNIEnv* env, jobject self, jboolean cold) {
  try {
    jint result = kNoPeer;
    return readerQuery(env, self, "reset", result, [cold](CReader& r) { return r.reset(cold != JNI_FALSE); })
               ? result
               : kNoPeer;
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
    std::string name;
    const bool answered = readerQuery(env, self, "getCTAPIName", name, [](CReader& r) {
      const char* text = r.getCTAPIName();
      return std::string(text ? text : "");
    });
    return nameResult(env, answered, name);
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
