// Fuzz target for the ZZ Rough reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int zzroughIndex = findFormat("zzrough");
    return fuzzOneInput(data, size, zzroughIndex >= 0 ? zzroughIndex : 71);
}
