// Fuzz target for the HRU reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int hruIndex = findFormat("hru");
    return fuzzOneInput(data, size, hruIndex >= 0 ? hruIndex : 29);
}
