// Fuzz target for the CMU window manager bitmap reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int cmuIndex = findFormat("cmu");
    return fuzzOneInput(data, size, cmuIndex >= 0 ? cmuIndex : 79);
}
