// Fuzz target for the Fuzzy Bitmap reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int fbmIndex = findFormat("fbm");
    return fuzzOneInput(data, size, fbmIndex >= 0 ? fbmIndex : 44);
}
