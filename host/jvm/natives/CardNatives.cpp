// SCard and the card-type classes: each native moves bytes between Java arrays
// and owned byte strings, calls one card operation and turns its result into
// the Java result.
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

CSCard* cardOf(JNIEnv* env, jobject self) { return peers::card(jnibridge::getPeer(env, self)); }

// The card operation inside the catch-all: its code, or 0x8000000a.
template <class Operation>
int contained(Operation operation) {
  try {
    return operation();
  } catch (...) {
    return kCaught;
  }
}

// The int natives: no peer 0x8000000b, an exception 0x8000000a.
template <class Operation>
jint cardCall(JNIEnv* env, jobject self, Operation operation) {
  try {
    CSCard* card = cardOf(env, self);
    if (card == nullptr) return kNoPeer;
    return operation(*card);
  } catch (...) {
    return kCaught;
  }
}

// The receiver's card, or NULL after raising the no-peer exception.
CSCard* cardOrRaise(JNIEnv* env, jobject self, const char* noPeer) {
  CSCard* card = cardOf(env, self);
  if (card == nullptr) jnibridge::throwCardAdminException(env, kNoPeer, noPeer);
  return card;
}

// An array native's end: a code other than 0 raised, else the bytes.
jbyteArray arrayResult(JNIEnv* env, int code, const std::string& out, const char* failed) {
  if (code != 0) {
    jnibridge::throwCardAdminException(env, code, failed);
    return nullptr;
  }
  return jnibridge::newByteArray(env, out);
}

jint JNICALL changeDirectory(JNIEnv* env, jobject self, jbyteArray aid) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, aid);
    if (!bytes.ok()) return kNoPeer;
    return contained([&] { return card.changeDirectory(CAID(bytes.bytes())); });
  });
}

jint JNICALL abort(JNIEnv* env, jobject self) {
  return cardCall(env, self, [](CSCard& card) { return card.abort(); });
}

jint JNICALL signInit(JNIEnv* env, jobject self, jint kid, jbyteArray parameter, jint algorithm) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, parameter);
    if (!bytes.ok()) return kNoPeer;
    return contained([&] { return card.signInit(kid, bytes.bytes(), algorithm); });
  });
}

jint JNICALL signUpdate(JNIEnv* env, jobject self, jbyteArray data) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, data);
    if (!bytes.ok()) return kNoPeer;
    return contained([&] { return card.signUpdate(bytes.bytes()); });
  });
}

jbyteArray JNICALL signFinal(JNIEnv* env, jobject self, jint kid, jboolean ssl) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::signFinal: No Peer found.");
    if (card == nullptr) return nullptr;
    std::string out;
    const int code = contained([&] { return card->signFinal(kid, out, ssl != JNI_FALSE); });
    return arrayResult(env, code, out, "SCard::signFinal.");
  } catch (...) {
    return nullptr;
  }
}

// A handle, or a negative code that is raised as well as returned.
jint JNICALL open(JNIEnv* env, jobject self, jbyteArray fid) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::open: No Peer found.");
    if (card == nullptr) return kNoPeer;
    ArrayCopy bytes(env, fid);
    if (!bytes.ok()) return kNoPeer;
    // An identifier that is not two bytes is refused by CFID: the family's 0x8000000a.
    const int handle = contained([&] { return card->open(CFID(bytes.bytes())); });
    if (handle < 0) jnibridge::throwCardAdminException(env, handle, "SCard::open.");
    return handle;
  } catch (...) {
    return kCaught;
  }
}

// read and readlen. A record file is read with READ RECORD of the current record
// (P2 04): the card layer would put the count into P2, where 1500 becomes DC and
// names another file. The count then only bounds the bytes returned.
jbyteArray readBytes(JNIEnv* env, jobject self, jint handle, int count) {
  CSCard* card = cardOrRaise(env, self, "SCard::read: No Peer found.");
  if (card == nullptr) return nullptr;
  std::string out;
  int read = contained([&] {
    const CFileInfo* info = card->getFileInfo(handle);
    if (info != nullptr && CFileInfo::isRecordType(info->getTyp())) return card->read(handle, out, kRecordNumberInP1);
    return card->read(handle, out, count);
  });
  if (read < 0) {
    jnibridge::throwCardAdminException(env, read, "SCard::read.");
    return nullptr;
  }
  out.resize(std::min({out.size(), static_cast<size_t>(read), static_cast<size_t>(std::max(count, 0))}));
  return jnibridge::newByteArray(env, out);
}

jbyteArray JNICALL read(JNIEnv* env, jobject self, jint handle) {
  try {
    return readBytes(env, self, handle, kReadCount);
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL close(JNIEnv* env, jobject self, jint handle) {
  return cardCall(env, self, [&](CSCard& card) { return contained([&] { return card.close(handle); }); });
}

// Positions first; writes only when that worked.
jint JNICALL write(JNIEnv* env, jobject self, jint handle, jbyteArray data, jint offset) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, data);
    if (!bytes.ok()) return kNotSupported;
    return contained([&] {
      const int sought = card.seek(handle, offset);
      return sought != 0 ? sought : card.write(handle, bytes.bytes());
    });
  });
}

jint JNICALL changeDirectoryWithFID(JNIEnv* env, jobject self, jbyteArray fid) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, fid);
    if (!bytes.ok()) return kNoPeer;
    if (bytes.bytes().size() != 2) return kNotSupported;
    return contained([&] { return card.changeDirectory(CFID(bytes.bytes())); });
  });
}

jbyteArray JNICALL getCIN(JNIEnv* env, jobject self) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::getCIN: No Peer found.");
    if (card == nullptr) return nullptr;
    char text[kTextBuffer] = {};
    const int code = contained([&] { return card->getCIN(text, sizeof text); });
    return arrayResult(env, code, std::string(text, strnlen(text, sizeof text)), "SCard::getCIN");
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
    CSCard* card = cardOrRaise(env, self, "SCard::getPublicKey: No Peer found.");
    if (card == nullptr) return nullptr;
    std::string modulus, exponent;
    const int code = contained([&] { return card->getPublicKey(kid, modulus, exponent); });
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
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, pin);
    if (!bytes.ok()) return kNoPeer;
    return contained([&] { return card.verifyPIN(kid, bytes.bytes(), 0); });
  });
}

jbyteArray JNICALL readlen(JNIEnv* env, jobject self, jint handle, jint length) {
  try {
    return readBytes(env, self, handle, length);
  } catch (...) {
    return nullptr;
  }
}

jbyteArray JNICALL getATR(JNIEnv* env, jobject self) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::getATR: No Peer found.");
    if (card == nullptr) return nullptr;
    unsigned char atr[kTextBuffer] = {};
    int length = 0;
    const int code = contained([&] { return card->getATR(atr, sizeof atr, &length); });
    length = std::max(0, std::min(length, kTextBuffer));
    return arrayResult(env, code, std::string(reinterpret_cast<const char*>(atr), static_cast<size_t>(length)),
                       "SCard::getATR");
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL getFBZ(JNIEnv* env, jobject self, jint kid) {
  return cardCall(env, self, [&](CSCard& card) { return contained([&] { return card.verifyPIN(kid, "", 0); }); });
}

jint JNICALL activatePIN(JNIEnv* env, jobject self, jint kid, jbyteArray pin, jint digits) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, pin);
    if (!bytes.ok()) return kNoPeer;
    return contained([&] { return card.activatePIN(kid, bytes.bytes(), digits); });
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
    CSCard* card = cardOrRaise(env, self, "SCard::getFileInfo: No Peer found.");
    if (card == nullptr) return nullptr;
    const CFileInfo* info = card->getFileInfo(handle);
    if (info == nullptr) {
      jnibridge::throwCardAdminException(env, kNoPeer, "SCard::getFileInfo: FileInfo not found for handle");
      return nullptr;
    }
    return makeFileInfo(env, info->getTyp(), info->getSize());
  } catch (...) {
    return nullptr;
  }
}

jbyteArray JNICALL signFinal_PIN(JNIEnv* env, jobject self, jint kid, jboolean ssl, jbyteArray pin) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::signFinal: No Peer found.");
    if (card == nullptr) return nullptr;
    ArrayCopy bytes(env, pin);
    if (!bytes.ok()) return nullptr;
    std::string out;
    const int code = contained([&] { return card->signFinal(kid, bytes.bytes(), out, ssl != JNI_FALSE); });
    return arrayResult(env, code, out, "SCard::signFinal.");
  } catch (...) {
    return nullptr;
  }
}

// The answer as the channel gave it (data and status word), NULL when there is none.
jbyteArray JNICALL directIO(JNIEnv* env, jobject self, jbyteArray command) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::directIO: No Peer found.");
    if (card == nullptr) return nullptr;
    ArrayCopy bytes(env, command);
    if (!bytes.ok()) return nullptr;
    std::string response;
    try {
      card->directIO(bytes.bytes(), response);
    } catch (...) {
      response.clear();
    }
    return jnibridge::toByteArray(env, response);
  } catch (...) {
    return nullptr;
  }
}

jint JNICALL changeReferenceData(JNIEnv* env, jobject self, jint kid, jbyteArray oldPin, jbyteArray newPin,
                                 jint digits) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy oldBytes(env, oldPin);
    if (!oldBytes.ok()) return kNoPeer;
    ArrayCopy newBytes(env, newPin);
    if (!newBytes.ok()) return kNoPeer;
    return contained([&] { return card.changeReferenceData(kid, oldBytes.bytes(), newBytes.bytes(), digits); });
  });
}

jint JNICALL getHashAlg(JNIEnv* env, jobject self) {
  return cardCall(env, self, [](CSCard& card) { return contained([&] { return card.getHashAlg(); }); });
}

jint JNICALL changeDirectoryPath(JNIEnv* env, jobject self, jbyteArray path) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, path);
    if (!bytes.ok()) return kNoPeer;
    return contained([&] { return card.changeDirectoryPath(CAID(bytes.bytes())); });
  });
}

jint JNICALL decryptInit(JNIEnv* env, jobject self, jint kid, jbyteArray parameter) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, parameter);
    if (!bytes.ok()) return kNoPeer;
    return contained([&] { return card.decryptInit(kid, bytes.bytes()); });
  });
}

jbyteArray JNICALL decryptFinal(JNIEnv* env, jobject self, jint kid, jbyteArray data) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::decryptFinal: No Peer found.");
    if (card == nullptr) return nullptr;
    ArrayCopy bytes(env, data);
    if (!bytes.ok()) return nullptr;
    std::string out;
    const int code = contained([&] { return card->decryptFinal(kid, bytes.bytes(), out); });
    return arrayResult(env, code, out, "SCard::decryptFinal.");
  } catch (...) {
    return nullptr;
  }
}

// The data is the first array, the PIN the second.
jbyteArray JNICALL decryptFinal_PIN(JNIEnv* env, jobject self, jint kid, jbyteArray data, jbyteArray pin) {
  try {
    CSCard* card = cardOrRaise(env, self, "SCard::decryptFinal: No Peer found.");
    if (card == nullptr) return nullptr;
    ArrayCopy dataBytes(env, data);
    if (!dataBytes.ok()) return nullptr;
    ArrayCopy pinBytes(env, pin);
    if (!pinBytes.ok()) return nullptr;
    std::string out;
    const int code = contained([&] { return card->decryptFinal(kid, pinBytes.bytes(), dataBytes.bytes(), out); });
    return arrayResult(env, code, out, "SCard::decryptFinal.");
  } catch (...) {
    return nullptr;
  }
}

// The PUK form of the MSE card types. No common type but CSCard_MSEBase declares
// it: any other card object answers "not supported".
jint JNICALL unblockPIN(JNIEnv* env, jobject self, jint kid, jbyteArray puk, jbyteArray newPin) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy pukBytes(env, puk);
    if (!pukBytes.ok()) return kNoPeer;
    ArrayCopy pinBytes(env, newPin);
    if (!pinBytes.ok()) return kNoPeer;
    auto* mse = dynamic_cast<CSCard_MSEBase*>(&card);
    if (mse == nullptr) return kNotSupported;
    return contained([&] { return mse->unblockPIN(kid, pukBytes.bytes(), pinBytes.bytes(), 0); });
  });
}

jint JNICALL bankUnblockPIN(JNIEnv* env, jobject self, jint kid, jbyteArray code) {
  return cardCall(env, self, [&](CSCard& card) {
    ArrayCopy bytes(env, code);
    if (!bytes.ok()) return kNoPeer;
    auto* bank = dynamic_cast<CSCard_BankCard*>(&card);
    if (bank == nullptr) return kNotSupported;
    return contained([&] { return bank->unblockPIN(kid, bytes.bytes(), 0); });
  });
}

// False without peer, for another card type and when the card operation throws.
jboolean JNICALL isACOS04(JNIEnv* env, jobject self) {
  try {
    auto* bank = dynamic_cast<CSCard_BankCard*>(cardOf(env, self));
    return bank != nullptr && bank->isACOS04() ? JNI_TRUE : JNI_FALSE;
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
