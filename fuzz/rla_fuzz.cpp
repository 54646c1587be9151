// Fuzz target for the Wavefront RLA reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int rlaIndex = findFormat("rla");
    return fuzzOneInput(data, size, rlaIndex >= 0 ? rlaIndex : 18);
}
