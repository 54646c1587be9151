// Fuzz target for the MTV reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int mtvIndex = findFormat("mtv");
    return fuzzOneInput(data, size, mtvIndex >= 0 ? mtvIndex : 34);
}
