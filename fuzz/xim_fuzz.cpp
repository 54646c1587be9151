// Fuzz target for the Xim reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int ximIndex = findFormat("xim");
    return fuzzOneInput(data, size, ximIndex >= 0 ? ximIndex : 66);
}
