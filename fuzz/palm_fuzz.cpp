// Fuzz target for the palm reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("palm");
    return fuzzOneInput(data, size, index);
}
