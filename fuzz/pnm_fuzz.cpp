// Fuzz target for the Portable bitmap, graymap and pixmap reader (and XV thumbnails) alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pnmIndex = findFormat("pnm");
    return fuzzOneInput(data, size, pnmIndex >= 0 ? pnmIndex : 17);
}
