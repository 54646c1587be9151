// Fuzz target for the SGI FIT reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fitIndex = findFormat("fit");
    return fuzzOneInput(data, size, fitIndex >= 0 ? fitIndex : 68);
}
