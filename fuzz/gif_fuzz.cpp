// Fuzz target for the CompuServe GIF reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int gifIndex = findFormat("gif");
    return fuzzOneInput(data, size, gifIndex >= 0 ? gifIndex : 14);
}
