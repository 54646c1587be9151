// Fuzz target for the smooshed Spectrum 512 reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int spsIndex = findFormat("sps");
    return fuzzOneInput(data, size, spsIndex >= 0 ? spsIndex : 77);
}
