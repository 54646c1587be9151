// Fuzz target for the Windows metafile player alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("wmf");
    return fuzzOneInput(data, size, index >= 0 ? index : 98);
}
