// Fuzz target for the CLOE reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int cloeIndex = findFormat("cloe");
    return fuzzOneInput(data, size, cloeIndex >= 0 ? cloeIndex : 32);
}
