// Fuzz target for the DKB / QRT reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int dkbIndex = findFormat("dkb");
    return fuzzOneInput(data, size, dkbIndex >= 0 ? dkbIndex : 31);
}
