// Fuzz target for the Paint Shop Pro reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pspIndex = findFormat("psp");
    return fuzzOneInput(data, size, pspIndex >= 0 ? pspIndex : 24);
}
