// Fuzz target for the Seattle Film Works multi-picture reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pwpIndex = findFormat("pwp");
    return fuzzOneInput(data, size, pwpIndex >= 0 ? pwpIndex : 26);
}
