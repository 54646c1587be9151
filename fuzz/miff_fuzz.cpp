// Fuzz target for the MIFF reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int miffIndex = findFormat("miff");
    return fuzzOneInput(data, size, miffIndex >= 0 ? miffIndex : 22);
}
