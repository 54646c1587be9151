// Fuzz target for the X window dump reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int xwdIndex = findFormat("xwd");
    return fuzzOneInput(data, size, xwdIndex >= 0 ? xwdIndex : 80);
}
