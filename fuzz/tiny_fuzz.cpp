// Fuzz target for the Tiny reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int tinyIndex = findFormat("tiny");
    return fuzzOneInput(data, size, tinyIndex >= 0 ? tinyIndex : 105);
}
