// Fuzz target for the Softimage reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int softIndex = findFormat("soft");
    return fuzzOneInput(data, size, softIndex >= 0 ? softIndex : 3);
}
