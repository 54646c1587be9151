// Fuzz target for the MSX 2 screen reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int msx2Index = findFormat("msx2");
    return fuzzOneInput(data, size, msx2Index >= 0 ? msx2Index : 110);
}
