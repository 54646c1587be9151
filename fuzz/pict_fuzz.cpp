// Fuzz target for the Macintosh picture reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int pictIndex = findFormat("pict");
    return fuzzOneInput(data, size, pictIndex >= 0 ? pictIndex : 8);
}
