// Fuzz target for the FITS reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fitsIndex = findFormat("fits");
    return fuzzOneInput(data, size, fitsIndex >= 0 ? fitsIndex : 51);
}
