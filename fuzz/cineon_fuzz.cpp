// Fuzz target for the Cineon reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int cineonIndex = findFormat("cineon");
    return fuzzOneInput(data, size, cineonIndex >= 0 ? cineonIndex : 28);
}
