// Fuzz target for the Calamus raster graphic reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("calamus");
    return fuzzOneInput(data, size, index >= 0 ? index : 84);
}
