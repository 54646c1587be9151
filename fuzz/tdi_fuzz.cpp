// Fuzz target for the TDI Explore reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int tdiIndex = findFormat("tdi");
    return fuzzOneInput(data, size, tdiIndex >= 0 ? tdiIndex : 2);
}
