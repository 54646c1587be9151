// Fuzz target for the Sun raster reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int rasIndex = findFormat("ras");
    return fuzzOneInput(data, size, rasIndex >= 0 ? rasIndex : 7);
}
