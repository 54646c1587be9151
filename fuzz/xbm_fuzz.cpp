// Fuzz target for the X11 bitmap reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int xbmIndex = findFormat("xbm");
    return fuzzOneInput(data, size, xbmIndex >= 0 ? xbmIndex : 37);
}
