#include "host/jvm/NativeRegistration.h"

#include "host/jvm/natives/AppNatives.h"
#include "host/jvm/natives/CardNatives.h"

void registerECardNatives(JNIEnv*, jobject, jclass) {}

namespace {

// Each routine arrives with its natives; until then the class is found and cached
// but nothing is bound to it.
const NativeRegistration kRegistrations[] = {
    {"at/Quarvel/util/jni/JUtil", &registerJUtilNatives},
    {"at/Quarvel/util/jni/Application", &registerApplicationNatives},
    {"at/Quarvel/util/jni/BankCard", &registerBankCardNatives},
    {"at/Quarvel/util/jni/ECard", &registerECardNatives},
    {"at/Quarvel/util/jni/ECardng", &registerECardngNatives},
    {"at/Quarvel/util/jni/ECardG4", &registerECardG4Natives},
    {"at/Quarvel/util/jni/ASignPCS", &registerASignPCSNatives},
    {"at/Quarvel/util/jni/Hash", &registerHashNatives},
    {"at/Quarvel/util/jni/OCard", &registerOCardNatives},
    {"at/Quarvel/util/jni/Reader", &registerReaderNatives},
    {"at/Quarvel/util/jni/ReaderFactory", &registerReaderFactoryNatives},
    {"at/Quarvel/util/jni/SCard", &registerSCardNatives},
    {"at/Quarvel/util/jni/TrustSign", &registerTrustSignNatives},
};

}  // namespace

const NativeRegistration* nativeRegistrations(int* count) {
  *count = static_cast<int>(sizeof kRegistrations / sizeof kRegistrations[0]);
  return kRegistrations;
}
