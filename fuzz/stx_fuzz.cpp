// Fuzz target for the SBIG CCD reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int stxIndex = findFormat("stx");
    return fuzzOneInput(data, size, stxIndex >= 0 ? stxIndex : 64);
}
