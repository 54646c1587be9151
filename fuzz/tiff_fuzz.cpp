// Fuzz target for the TIFF reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int tiffIndex = findFormat("tiff");
    return fuzzOneInput(data, size, tiffIndex >= 0 ? tiffIndex : 5);
}
