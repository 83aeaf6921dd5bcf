// SCard and the card-type classes: each native moves bytes between Java arrays
// and owned byte strings, calls one card operation under its reader's lock
// (whatever other Java threads do, PeerTable.h) and turns its result into the
// Java result.
#include "host/jvm/natives/CardNatives.h"

#include "cardaccess/card/CSCard.h"
#include "cardaccess/card/CSCard_BankCard.h"
#include "cardaccess/card/CSCard_MSE.h"
#include "cardaccess/reader/PeerTable.h"
#include "host/jvm/natives/JniBridge.h"

#include <algorithm>
#include <cstring>
#include <string>

using jnibridge::ArrayCopy;
using jnibridge::kCaught;
using jnibridge::kNoPeer;

namespace {

constexpr jint kNotSupported = static_cast<jint>(0x80000001u);
constexpr int kReadCount = 1500;
constexpr int kTextBuffer = 256;
// READ RECORD's P2 for "record number in P1" in the current file.
constexpr int kRecordNumberInP1 = 0x04;

// The receiver's card for one native call (PeerTable.h): held while the native
// copies its arrays, and its reader locked around the card operation alone, so
// that no JNI call runs under that lock.
class CardOf {
 public:
  CardOf(JNIEnv* env, jobject self) : m_held(peers::Held::card(jnibridge::getPeer(env, self))) {}
  explicit operator bool() const { return static_cast<bool>(m_held); }
  int id() const { return m_held.id(); }
  // True when the card went (disconnect, reset, release) before the lock was had.
  bool gone() const { return m_gone; }

  // The operation under the reader's lock: its code, 0x8000000a for an exception,
  // 0x8000000b when the card went.
  template <class Operation>
  int run(Operation operation) {
    try {
      peers::Locked locked(m_held);
      if (locked.card() == nullptr) {
        m_gone = true;
        return kNoPeer;
      }
      return operation(*locked.card());
    } catch (...) {
      return kCaught;
    }
  }

 private:
  peers::Held m_held;
  bool m_gone = false;
};

// The int natives: no peer 0x8000000b, an exception 0x8000000a.
template <class Operation>
jint cardCall(JNIEnv* env, jobject self, Operation operation) {
  try {
    CardOf card(env, self);
    if (!card) return kNoPeer;
    return operation(card);
  } catch (...) {
    return kCaught;
  }
}

// The no-peer exception of an object native (its no-peer message); true when raised.
bool raisedNoPeer(JNIEnv* env, const CardOf& card, const char* noPeer) {
  if (card && !card.gone()) return false;
  jnibridge::throwCardAdminException(env, kNoPeer, noPeer);
  return true;
}

// An array native's end: no peer raised, a code other than 0 raised, else the bytes.
jbyteArray arrayResult(JNIEnv* env, const CardOf& card, int code, const std::string& out, const char* noPeer,
                       const char* failed) {
  if (raisedNoPeer(env, card, noPeer)) return nullptr;
  if (code != 0) {
    jnibridge::throwCardAdminException(env, code, failed);
    return nullptr;
  }
  return jnibridge::newByteArray(env, out);
}

jint JNICALL changeDirectory(JNIEnv* env, jobject self, jbyteArray aid) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, aid);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) { return c.changeDirectory(CAID(bytes.bytes())); });
  });
}

// Without the reader's lock: it stops a read or write another thread runs now.
jint JNICALL abort(JNIEnv* env, jobject self) {
  try {
    return peers::whileNamed(jnibridge::getPeer(env, self), [](CSCard& c) { c.abort(); }) ? 0 : kNoPeer;
  } catch (...) {
    return kCaught;
  }
}

// A signature belongs to the thread that began it (PeerTable.h): signInit waits
// while another thread's runs; signUpdate and signFinal of another thread are
// refused as when no signature was begun, so documents never mix.
jint JNICALL signInit(JNIEnv* env, jobject self, jint kid, jbyteArray parameter, jint algorithm) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, parameter);
    if (!bytes.ok()) return kNoPeer;
    if (!peers::beginSignature(card.id())) return kNoPeer;
    const int result = card.run([&](CSCard& c) { return c.signInit(kid, bytes.bytes(), algorithm); });
    if (result != 0) peers::endSignature(card.id());
    return result;
  });
}

jint JNICALL signUpdate(JNIEnv* env, jobject self, jbyteArray data) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, data);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) {
      return peers::signatureOfOther(card.id()) ? kNotSupported : c.signUpdate(bytes.bytes());
    });
  });
}

// signFinal and signFinal_PIN: the final of the calling thread's signature.
jbyteArray finishSignature(JNIEnv* env, CardOf& card, jint kid, const std::string* pin, jboolean ssl) {
  std::string out;
  const int code = card.run([&](CSCard& c) {
    if (peers::signatureOfOther(card.id())) return kNotSupported;
    return pin ? c.signFinal(kid, *pin, out, ssl != JNI_FALSE) : c.signFinal(kid, out, ssl != JNI_FALSE);
  });
  peers::endSignature(card.id());  // when it was the calling thread's, whatever the final answered
  return arrayResult(env, card, code, out, "SCard::signFinal: No Peer found.", "SCard::signFinal.");
}

jbyteArray JNICALL signFinal(JNIEnv* env, jobject self, jint kid, jboolean ssl) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::signFinal: No Peer found.")) return nullptr;
    return finishSignature(env, card, kid, nullptr, ssl);
  } catch (...) {
    return nullptr;
  }
}

// A handle, or a negative code that is raised as well as returned.
jint JNICALL open(JNIEnv* env, jobject self, jbyteArray fid) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::open: No Peer found.")) return kNoPeer;
    ArrayCopy bytes(env, fid);
    if (!bytes.ok()) return kNoPeer;
    // An identifier that is not two bytes is refused by CFID: the family's 0x8000000a.
    const int handle = card.run([&](CSCard& c) { return c.open(CFID(bytes.bytes())); });
    if (raisedNoPeer(env, card, "SCard::open: No Peer found.")) return kNoPeer;
    if (handle < 0) jnibridge::throwCardAdminException(env, handle, "SCard::open.");
    return handle;
  } catch (...) {
    return kCaught;
  }
}

// read and readlen. A record file is read with READ RECORD, whose P2 the card layer
// takes from the count: only 04 (the current record, whole) is sent, since any
// other value names another record or another file (1500 would become DC). read
// asks for 04 itself; readlen hands its count over and has any other refused unsent.
jbyteArray readBytes(JNIEnv* env, jobject self, jint handle, int count, int recordP2) {
  CardOf card(env, self);
  if (raisedNoPeer(env, card, "SCard::read: No Peer found.")) return nullptr;
  std::string out;
  const int read = card.run([&](CSCard& c) {
    const CFileInfo* info = c.getFileInfo(handle);
    if (info == nullptr || !CFileInfo::isRecordType(info->getTyp())) return c.read(handle, out, count);
    return recordP2 == kRecordNumberInP1 ? c.read(handle, out, recordP2) : kNotSupported;
  });
  if (raisedNoPeer(env, card, "SCard::read: No Peer found.")) return nullptr;
  if (read < 0) {
    jnibridge::throwCardAdminException(env, read, "SCard::read.");
    return nullptr;
  }
  out.resize(std::min(out.size(), static_cast<size_t>(read)));
  return jnibridge::newByteArray(env, out);
}

jbyteArray JNICALL read(JNIEnv* env, jobject self, jint handle) {
  try {
    return readBytes(env, self, handle, kReadCount, kRecordNumberInP1);
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL close(JNIEnv* env, jobject self, jint handle) {
  return cardCall(env, self, [&](CardOf& card) { return card.run([&](CSCard& c) { return c.close(handle); }); });
}

// Positions first; writes only when that worked (both under one hold of the lock).
jint JNICALL write(JNIEnv* env, jobject self, jint handle, jbyteArray data, jint offset) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, data);
    if (!bytes.ok()) return kNotSupported;
    return card.run([&](CSCard& c) {
      const int sought = c.seek(handle, offset);
      return sought != 0 ? sought : c.write(handle, bytes.bytes());
    });
  });
}

// An identifier that is not two bytes is refused before anything else, the peer included.
jint JNICALL changeDirectoryWithFID(JNIEnv* env, jobject self, jbyteArray fid) {
  if (fid != nullptr && env->GetArrayLength(fid) != 2) return kNotSupported;
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, fid);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) { return c.changeDirectory(CFID(bytes.bytes())); });
  });
}

jbyteArray JNICALL getCIN(JNIEnv* env, jobject self) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::getCIN: No Peer found.")) return nullptr;
    char text[kTextBuffer] = {};
    const int code = card.run([&](CSCard& c) { return c.getCIN(text, sizeof text); });
    return arrayResult(env, card, code, std::string(text, strnlen(text, sizeof text)), "SCard::getCIN: No Peer found.",
                       "SCard::getCIN");
  } catch (...) {
    return nullptr;
  }
}

// A PubKey with both parts, or NULL when either is empty or cannot be made.
jobject makePubKey(JNIEnv* env, const std::string& modulus, const std::string& exponent) {
  if (modulus.empty() || exponent.empty()) return nullptr;
  jclass cls = env->FindClass("at/Quarvel/util/jni/PubKey");
  if (cls == nullptr) return nullptr;
  jobject key = nullptr;
  if (jmethodID init = env->GetMethodID(cls, "<init>", "()V")) key = env->NewObject(cls, init);
  jfieldID modulusField = key ? env->GetFieldID(cls, "modulus", "[B") : nullptr;
  jfieldID exponentField = modulusField ? env->GetFieldID(cls, "exponent", "[B") : nullptr;
  env->DeleteLocalRef(cls);
  if (exponentField == nullptr) {
    if (key) env->DeleteLocalRef(key);
    return nullptr;
  }
  jbyteArray modulusArray = jnibridge::toByteArray(env, modulus);
  jbyteArray exponentArray = modulusArray ? jnibridge::toByteArray(env, exponent) : nullptr;
  if (exponentArray == nullptr) {
    if (modulusArray) env->DeleteLocalRef(modulusArray);
    env->DeleteLocalRef(key);
    return nullptr;
  }
  env->SetObjectField(key, modulusField, modulusArray);
  env->SetObjectField(key, exponentField, exponentArray);
  env->DeleteLocalRef(modulusArray);
  env->DeleteLocalRef(exponentArray);
  return key;
}

jobject JNICALL getPublicKey(JNIEnv* env, jobject self, jint kid) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::getPublicKey: No Peer found.")) return nullptr;
    std::string modulus, exponent;
    const int code = card.run([&](CSCard& c) { return c.getPublicKey(kid, modulus, exponent); });
    if (raisedNoPeer(env, card, "SCard::getPublicKey: No Peer found.")) return nullptr;
    if (code != 0) {
      jnibridge::throwCardAdminException(env, code, "SCard::getPublicKey");
      return nullptr;
    }
    return makePubKey(env, modulus, exponent);
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL verifyPIN(JNIEnv* env, jobject self, jint kid, jbyteArray pin) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, pin);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) { return c.verifyPIN(kid, bytes.bytes(), 0); });
  });
}

jbyteArray JNICALL readlen(JNIEnv* env, jobject self, jint handle, jint length) {
  try {
    return readBytes(env, self, handle, length, length);
  } catch (...) {
    return nullptr;
  }
}

jbyteArray JNICALL getATR(JNIEnv* env, jobject self) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::getATR: No Peer found.")) return nullptr;
    unsigned char atr[kTextBuffer] = {};
    int length = 0;
    const int code = card.run([&](CSCard& c) { return c.getATR(atr, sizeof atr, &length); });
    length = std::max(0, std::min(length, kTextBuffer));
    return arrayResult(env, card, code, std::string(reinterpret_cast<const char*>(atr), static_cast<size_t>(length)),
                       "SCard::getATR: No Peer found.", "SCard::getATR");
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL getFBZ(JNIEnv* env, jobject self, jint kid) {
  return cardCall(env, self, [&](CardOf& card) { return card.run([&](CSCard& c) { return c.verifyPIN(kid, "", 0); }); });
}

jint JNICALL activatePIN(JNIEnv* env, jobject self, jint kid, jbyteArray pin, jint digits) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, pin);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) { return c.activatePIN(kid, bytes.bytes(), digits); });
  });
}

jobject makeFileInfo(JNIEnv* env, int type, int size) {
  jclass cls = env->FindClass("at/Quarvel/util/jni/FileInfo");
  if (cls == nullptr) return nullptr;
  jobject info = nullptr;
  if (jmethodID init = env->GetMethodID(cls, "<init>", "()V")) info = env->NewObject(cls, init);
  jfieldID typeField = info ? env->GetFieldID(cls, "type", "I") : nullptr;
  jfieldID sizeField = typeField ? env->GetFieldID(cls, "size", "I") : nullptr;
  env->DeleteLocalRef(cls);
  if (sizeField == nullptr) {
    if (info) env->DeleteLocalRef(info);
    return nullptr;
  }
  env->SetIntField(info, typeField, type);
  env->SetIntField(info, sizeField, size);
  return info;
}

jobject JNICALL getFileInfo(JNIEnv* env, jobject self, jint handle) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::getFileInfo: No Peer found.")) return nullptr;
    int type = 0, size = 0;
    const int found = card.run([&](CSCard& c) {
      const CFileInfo* info = c.getFileInfo(handle);
      if (info == nullptr) return kNoPeer;
      type = info->getTyp();
      size = info->getSize();
      return 0;
    });
    if (raisedNoPeer(env, card, "SCard::getFileInfo: No Peer found.")) return nullptr;
    if (found != 0) {
      jnibridge::throwCardAdminException(env, kNoPeer, "SCard::getFileInfo: FileInfo not found for handle");
      return nullptr;
    }
    return makeFileInfo(env, type, size);
  } catch (...) {
    return nullptr;
  }
}

jbyteArray JNICALL signFinal_PIN(JNIEnv* env, jobject self, jint kid, jboolean ssl, jbyteArray pin) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::signFinal: No Peer found.")) return nullptr;
    ArrayCopy bytes(env, pin);
    if (!bytes.ok()) return nullptr;
    return finishSignature(env, card, kid, &bytes.bytes(), ssl);
  } catch (...) {
    return nullptr;
  }
}

// The answer as the channel gave it (data and status word), NULL when there is none.
jbyteArray JNICALL directIO(JNIEnv* env, jobject self, jbyteArray command) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::directIO: No Peer found.")) return nullptr;
    ArrayCopy bytes(env, command);
    if (!bytes.ok()) return nullptr;
    std::string response;
    // An exception counts as a failed exchange: no answer.
    if (card.run([&](CSCard& c) { return c.directIO(bytes.bytes(), response); }) == kCaught) response.clear();
    if (raisedNoPeer(env, card, "SCard::directIO: No Peer found.")) return nullptr;
    return jnibridge::toByteArray(env, response);
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL changeReferenceData(JNIEnv* env, jobject self, jint kid, jbyteArray oldPin, jbyteArray newPin,
                                 jint digits) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy oldBytes(env, oldPin);
    if (!oldBytes.ok()) return kNoPeer;
    ArrayCopy newBytes(env, newPin);
    if (!newBytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) { return c.changeReferenceData(kid, oldBytes.bytes(), newBytes.bytes(), digits); });
  });
}

jint JNICALL getHashAlg(JNIEnv* env, jobject self) {
  return cardCall(env, self, [](CardOf& card) { return card.run([](CSCard& c) { return c.getHashAlg(); }); });
}

jint JNICALL changeDirectoryPath(JNIEnv* env, jobject self, jbyteArray path) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, path);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) { return c.changeDirectoryPath(CAID(bytes.bytes())); });
  });
}

jint JNICALL decryptInit(JNIEnv* env, jobject self, jint kid, jbyteArray parameter) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, parameter);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) { return c.decryptInit(kid, bytes.bytes()); });
  });
}

jbyteArray JNICALL decryptFinal(JNIEnv* env, jobject self, jint kid, jbyteArray data) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::decryptFinal: No Peer found.")) return nullptr;
    ArrayCopy bytes(env, data);
    if (!bytes.ok()) return nullptr;
    std::string out;
    const int code = card.run([&](CSCard& c) { return c.decryptFinal(kid, bytes.bytes(), out); });
    return arrayResult(env, card, code, out, "SCard::decryptFinal: No Peer found.", "SCard::decryptFinal.");
  } catch (...) {
    return nullptr;
  }
}

// The data is the first array, the PIN the second.
jbyteArray JNICALL decryptFinal_PIN(JNIEnv* env, jobject self, jint kid, jbyteArray data, jbyteArray pin) {
  try {
    CardOf card(env, self);
    if (raisedNoPeer(env, card, "SCard::decryptFinal: No Peer found.")) return nullptr;
    ArrayCopy dataBytes(env, data);
    if (!dataBytes.ok()) return nullptr;
    ArrayCopy pinBytes(env, pin);
    if (!pinBytes.ok()) return nullptr;
    std::string out;
    const int code = card.run([&](CSCard& c) { return c.decryptFinal(kid, pinBytes.bytes(), dataBytes.bytes(), out); });
    return arrayResult(env, card, code, out, "SCard::decryptFinal: No Peer found.", "SCard::decryptFinal.");
  } catch (...) {
    return nullptr;
  }
}

// The PUK form of the MSE card types. No common type but CSCard_MSEBase declares
// it: any other card object answers "not supported".
jint JNICALL unblockPIN(JNIEnv* env, jobject self, jint kid, jbyteArray puk, jbyteArray newPin) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy pukBytes(env, puk);
    if (!pukBytes.ok()) return kNoPeer;
    ArrayCopy pinBytes(env, newPin);
    if (!pinBytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) {
      auto* mse = dynamic_cast<CSCard_MSEBase*>(&c);
      return mse == nullptr ? kNotSupported : mse->unblockPIN(kid, pukBytes.bytes(), pinBytes.bytes(), 0);
    });
  });
}

jint JNICALL bankUnblockPIN(JNIEnv* env, jobject self, jint kid, jbyteArray code) {
  return cardCall(env, self, [&](CardOf& card) {
    ArrayCopy bytes(env, code);
    if (!bytes.ok()) return kNoPeer;
    return card.run([&](CSCard& c) {
      auto* bank = dynamic_cast<CSCard_BankCard*>(&c);
      return bank == nullptr ? kNotSupported : bank->unblockPIN(kid, bytes.bytes(), 0);
    });
  });
}

// False without peer, for another card type and when the card operation throws.
jboolean JNICALL isACOS04(JNIEnv* env, jobject self) {
  try {
    CardOf card(env, self);
    if (!card) return JNI_FALSE;
    const int answer = card.run([](CSCard& c) {
      auto* bank = dynamic_cast<CSCard_BankCard*>(&c);
      return bank != nullptr && bank->isACOS04() ? 1 : 0;
    });
    return answer == 1 ? JNI_TRUE : JNI_FALSE;
  } catch (...) {
    return JNI_FALSE;
  }
}

const JNINativeMethod kSCard[] = {
    QUARVEL_NATIVE(changeDirectory, "([B)I"),
    QUARVEL_NATIVE(abort, "()I"),
    QUARVEL_NATIVE(signInit, "(I[BI)I"),
    QUARVEL_NATIVE(signUpdate, "([B)I"),
    QUARVEL_NATIVE(signFinal, "(IZ)[B"),
    QUARVEL_NATIVE(open, "([B)I"),
    QUARVEL_NATIVE(read, "(I)[B"),
    QUARVEL_NATIVE(close, "(I)I"),
    QUARVEL_NATIVE(write, "(I[BI)I"),
    QUARVEL_NATIVE(changeDirectoryWithFID, "([B)I"),
    QUARVEL_NATIVE(getCIN, "()[B"),
    QUARVEL_NATIVE(getPublicKey, "(I)Lat/Quarvel/util/jni/PubKey;"),
    QUARVEL_NATIVE(verifyPIN, "(I[B)I"),
    QUARVEL_NATIVE(readlen, "(II)[B"),
    QUARVEL_NATIVE(getATR, "()[B"),
    QUARVEL_NATIVE(getFBZ, "(I)I"),
    QUARVEL_NATIVE(activatePIN, "(I[BI)I"),
    QUARVEL_NATIVE(getFileInfo, "(I)Lat/Quarvel/util/jni/FileInfo;"),
    QUARVEL_NATIVE(signFinal_PIN, "(IZ[B)[B"),
    QUARVEL_NATIVE(directIO, "([B)[B"),
    QUARVEL_NATIVE(changeReferenceData, "(I[B[BI)I"),
    QUARVEL_NATIVE(getHashAlg, "()I"),
    QUARVEL_NATIVE(changeDirectoryPath, "([B)I"),
    QUARVEL_NATIVE(decryptInit, "(I[B)I"),
    QUARVEL_NATIVE(decryptFinal, "(I[B)[B"),
    QUARVEL_NATIVE(decryptFinal_PIN, "(I[B[B)[B"),
};

const JNINativeMethod kBankCard[] = {
    {const_cast<char*>("unblockPIN"), const_cast<char*>("(I[B)I"), reinterpret_cast<void*>(&bankUnblockPIN)},
    QUARVEL_NATIVE(isACOS04, "()Z"),
};

const JNINativeMethod kPukCard[] = {
    QUARVEL_NATIVE(unblockPIN, "(I[B[B)I"),
};

}  // namespace

NativeTable sCardNatives() { return {kSCard, static_cast<jint>(sizeof kSCard / sizeof kSCard[0])}; }
NativeTable bankCardNatives() { return {kBankCard, 2}; }
NativeTable pukCardNatives() { return {kPukCard, 1}; }

void registerSCardNatives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, sCardNatives()); }
void registerBankCardNatives(JNIEnv* env, jobject, jclass cls) {
  jnibridge::registerTable(env, cls, bankCardNatives());
}
void registerECardngNatives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, pukCardNatives()); }
void registerECardG4Natives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, pukCardNatives()); }
void registerASignPCSNatives(JNIEnv* env, jobject, jclass cls) {
  jnibridge::registerTable(env, cls, pukCardNatives());
}
void registerOCardNatives(JNIEnv* env, jobject, jclass cls) { jnibridge::registerTable(env, cls, pukCardNatives()); }
void registerTrustSignNatives(JNIEnv* env, jobject, jclass cls) {
  jnibridge::registerTable(env, cls, pukCardNatives());
}
