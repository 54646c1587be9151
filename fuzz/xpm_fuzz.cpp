// Fuzz target for the X11 pixmap reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int xpmIndex = findFormat("xpm");
    return fuzzOneInput(data, size, xpmIndex >= 0 ? xpmIndex : 38);
}
