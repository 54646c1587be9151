// Fuzz target for the GFA Raytrace reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int gfarayIndex = findFormat("gfaray");
    return fuzzOneInput(data, size, gfarayIndex >= 0 ? gfarayIndex : 74);
}
