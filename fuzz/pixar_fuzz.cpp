// Fuzz target for the Pixar picture reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pixarIndex = findFormat("pixar");
    return fuzzOneInput(data, size, pixarIndex >= 0 ? pixarIndex : 20);
}
