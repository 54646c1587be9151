// Fuzz target for the AIM grey reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int aimIndex = findFormat("aim");
    return fuzzOneInput(data, size, aimIndex >= 0 ? aimIndex : 103);
}
