// Fuzz target for the Utah RLE reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int rleIndex = findFormat("rle");
    return fuzzOneInput(data, size, rleIndex >= 0 ? rleIndex : 19);
}
