// Fuzz target for the Art Director reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int artdirIndex = findFormat("artdir");
    return fuzzOneInput(data, size, artdirIndex >= 0 ? artdirIndex : 107);
}
