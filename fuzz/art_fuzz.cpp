// Fuzz target for the Artisan reader alone.
#include "harness.h"
#include "kaleocore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int index = findFormat("art");
    return fuzzOneInput(data, size, index >= 0 ? index : 85);
}
