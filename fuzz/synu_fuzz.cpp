// Fuzz target for the Synthetic Universe reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int synuIndex = findFormat("synu");
    return fuzzOneInput(data, size, synuIndex >= 0 ? synuIndex : 52);
}
