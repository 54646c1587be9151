// Fuzz target for the SciTex CT reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int scitexIndex = findFormat("scitex");
    return fuzzOneInput(data, size, scitexIndex >= 0 ? scitexIndex : 27);
}
