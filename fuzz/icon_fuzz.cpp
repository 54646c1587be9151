// Fuzz target for the Sun icon reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int iconIndex = findFormat("icon");
    return fuzzOneInput(data, size, iconIndex >= 0 ? iconIndex : 39);
}
