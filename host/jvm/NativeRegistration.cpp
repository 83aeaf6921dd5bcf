#include "host/jvm/NativeRegistration.h"

void registerECardNatives(JNIEnv*, jobject, jclass) {}

namespace {

// Each routine arrives with its natives; until then the class is found and cached
// but nothing is bound to it.
const NativeRegistration kRegistrations[] = {
    {"at/Quarvel/util/jni/JUtil", nullptr},
    {"at/Quarvel/util/jni/Application", nullptr},
    {"at/Quarvel/util/jni/BankCard", nullptr},
    {"at/Quarvel/util/jni/ECard", &registerECardNatives},
    {"at/Quarvel/util/jni/ECardng", nullptr},
    {"at/Quarvel/util/jni/ECardG4", nullptr},
    {"at/Quarvel/util/jni/ASignPCS", nullptr},
    {"at/Quarvel/util/jni/Hash", nullptr},
    {"at/Quarvel/util/jni/OCard", nullptr},
    {"at/Quarvel/util/jni/Reader", nullptr},
    {"at/Quarvel/util/jni/ReaderFactory", nullptr},
    {"at/Quarvel/util/jni/SCard", nullptr},
    {"at/Quarvel/util/jni/TrustSign", nullptr},
};

}  // namespace

const NativeRegistration* nativeRegistrations(int* count) {
  *count = static_cast<int>(sizeof kRegistrations / sizeof kRegistrations[0]);
  return kRegistrations;
}
