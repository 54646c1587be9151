// Fuzz target for the plain Spectrum 512 reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int spuIndex = findFormat("spu");
    return fuzzOneInput(data, size, spuIndex >= 0 ? spuIndex : 75);
}
