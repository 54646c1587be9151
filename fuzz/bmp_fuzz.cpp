// Fuzz target for the Windows and OS/2 bitmap reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int bmpIndex = findFormat("bmp");
    return fuzzOneInput(data, size, bmpIndex >= 0 ? bmpIndex : 10);
}
