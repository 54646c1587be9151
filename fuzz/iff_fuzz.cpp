// Fuzz target for the Amiga IFF ILBM and PBM reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int iffIndex = findFormat("iff");
    return fuzzOneInput(data, size, iffIndex >= 0 ? iffIndex : 11);
}
