// Fuzz target for the Image Speeder reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int speedIndex = findFormat("speed");
    return fuzzOneInput(data, size, speedIndex >= 0 ? speedIndex : 36);
}
