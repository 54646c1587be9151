// Fuzz target for the NEOchrome reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int neoIndex = findFormat("neo");
    return fuzzOneInput(data, size, neoIndex >= 0 ? neoIndex : 70);
}
