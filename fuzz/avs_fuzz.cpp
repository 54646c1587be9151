// Fuzz target for the AVS X image reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int avsIndex = findFormat("avs");
    return fuzzOneInput(data, size, avsIndex >= 0 ? avsIndex : 102);
}
