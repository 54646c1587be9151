// Fuzz target for the Silicon Graphics image reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int sgiIndex = findFormat("sgi");
    return fuzzOneInput(data, size, sgiIndex >= 0 ? sgiIndex : 4);
}
